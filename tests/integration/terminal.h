#pragma once
// Runs a program with its standard output on a pseudo-terminal, as an
// engineer's shell would, and collects what it wrote there.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "integration/process.h"

namespace ravelin::testing {

inline ProcessResult RunOnTerminal(std::vector<std::string> argv, int ms) {
    ProcessResult result;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
    const std::string slave = ::ptsname(master);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const std::string instance = "RAVELIN_INSTANCE_NAME=ravelin-test-" + std::to_string(::getpid());
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        int fd = ::open(slave.c_str(), O_RDWR);
        if (fd < 0) ::_exit(127);
        ::dup2(fd, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        if (!std::getenv("RAVELIN_INSTANCE_NAME")) ::putenv(const_cast<char*>(instance.c_str()));
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[4096];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                result.out.append(buf, static_cast<size_t>(n));
                continue;
            }
            // EIO: the last holder of the terminal has gone.
            break;
        }
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    result.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    ::close(master);
    return result;
}

} // namespace ravelin::testing
