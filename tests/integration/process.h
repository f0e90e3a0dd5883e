#pragma once
// Runs the programs under test as a user would: a child process with its own
// standard output and error, a time limit, and its exit status.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ravelin::testing {

struct ProcessResult {
    int status = -1;  // exit status, or -1 when it had to be killed
    std::string out;
    std::string err;
};

class Process {
public:
    explicit Process(std::vector<std::string> argv, bool withDisplay = false) {
        int o[2], e[2];
        if (::pipe2(o, O_CLOEXEC) != 0 || ::pipe2(e, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, o[1], 1);
        posix_spawn_file_actions_adddup2(&fa, e[1], 2);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        std::vector<std::string> envs;
        for (char** p = environ; *p; ++p) {
            std::string v = *p;
            if (!withDisplay && (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0)) continue;
            envs.push_back(v);
        }
        // Each test process holds its own single-instance name, so tests never
        // meet a Ravelin window open on the machine, nor each other.
        if (!std::getenv("RAVELIN_INSTANCE_NAME"))
            envs.push_back("RAVELIN_INSTANCE_NAME=ravelin-test-" + std::to_string(::getpid()));
        std::vector<char*> env;
        for (auto& v : envs) env.push_back(v.data());
        env.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), env.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(o[1]);
        ::close(e[1]);
        out_ = o[0];
        err_ = e[0];
    }
    ~Process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    // Reads output until `text` shows in standard output or the time is up.
    bool waitForOutput(const std::string& text, int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (result_.out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until) return false;
            if (!pump(50)) return result_.out.find(text) != std::string::npos;
        }
        return true;
    }

    // Waits for the end (killing the child after ms) and returns what it printed.
    ProcessResult finish(int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (pid_ > 0) {
            pump(20);
            int st;
            pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                result_.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                pid_ = -1;
                break;
            }
            if (std::chrono::steady_clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                result_.status = -1;
            }
        }
        while (pump(0)) {
        }
        return result_;
    }

    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }

private:
    // False once both streams are at their end.
    bool pump(int ms) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, ms) <= 0) return out_ >= 0 || err_ >= 0;
        bool open = false;
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_ : err_;
            if (fd < 0) continue;
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                char buf[4096];
                ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) (i == 0 ? result_.out : result_.err).append(buf, static_cast<size_t>(n));
                else {
                    ::close(fd);
                    fd = -1;
                    continue;
                }
            }
            open = true;
        }
        return open;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    ProcessResult result_;
};

inline ProcessResult RunProgram(std::vector<std::string> argv, int ms) { return Process(std::move(argv)).finish(ms); }

} // namespace ravelin::testing
