// Soak run of the headless program against a whole virtual console: idle,
// with a panel code update and a card firmware update in turn every so
// often, sampling the program's memory, descriptors, threads and CPU.
//
// The figures are the program's own: the console is `ravelin-sim` in a child
// process (engine, both cards, host board, four panels, as it serves by
// default with --engine), and the program is the command line's session
// (TMainForm on the plain event loop, with the machine's ports, sockets and
// timer thread) in this process, so /proc/self is the program plus this
// small harness, which keeps one small record per sample and nothing else.
//
//   soak_bench [SECONDS] [--sample S] [--warmup S] [--every S] [--sim PATH] [--keep]
//
// SECONDS defaults to 60; the documented run is 3600. Exit status 1 on clear
// growth after warm-up (a leak) or when the console died; speed figures are
// reported against their goals but never fail the run.
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/device_table.h"
#include "cli/session.h"
#include "engine/engine_unit.h"
#include "platform/clock.h"

using namespace ravelin;
namespace fs = std::filesystem;

namespace {

struct Sample {
    double t = 0;          // seconds since start
    long rssKb = 0, hwmKb = 0;
    long anonKb = 0;       // the resident pages that are not file-backed code or data
    long heapKb = 0;       // heap in use (allocated, not yet freed), mapped blocks too
    long sentTableKb = 0;  // of it, the engine link's sent-message table
    int fds = 0, threads = 0;
    double cpuS = 0;       // process CPU time
    bool busy = false;     // an update was running at some point since the last sample
};

long StatusField(const std::string& status, const char* key) {
    size_t p = status.find(key);
    if (p == std::string::npos) return -1;
    return std::strtol(status.c_str() + p + std::strlen(key), nullptr, 10);
}

Sample Measure(double t) {
    Sample s;
    s.t = t;
    std::ifstream f("/proc/self/status");
    std::string status((std::istreambuf_iterator<char>(f)), {});
    s.rssKb = StatusField(status, "VmRSS:");
    s.hwmKb = StatusField(status, "VmHWM:");
    s.anonKb = StatusField(status, "RssAnon:");
    const auto mi = mallinfo2();
    s.heapKb = long((mi.uordblks + mi.hblkhd) / 1024);
    s.threads = int(StatusField(status, "Threads:"));
    for (auto& e : fs::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++s.fds;
    }
    --s.fds;  // the directory listing's own descriptor
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    s.cpuS = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    return s;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The console in a child process; its stdout is read up to "ready".
struct Console {
    pid_t pid = -1;
    bool start(const std::string& sim, const fs::path& folder) {
        int out[2];
        if (pipe(out) != 0) return false;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) dup2(null, 2);
            execl(sim.c_str(), sim.c_str(), "--folder", folder.c_str(), "--engine", "--hex-lines", "60", "--no-log",
                  (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string got;
        char c;
        while (got.find("ready") == std::string::npos && ::read(out[0], &c, 1) == 1) got += c;
        close(out[0]);
        return got.find("ready") != std::string::npos;
    }
    bool alive() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// Every row with an update file shows what its device runs; a row whose file
// carries no version ("OK", the USB audio image) is in place once it may be
// updated. Headings have no file.
std::vector<int> RowsNotFilled(const app::TMainForm& form) {
    std::vector<int> missing;
    const auto& g = form.Grid();
    for (int r = 1; r < g.RowCount(); ++r) {
        if (cli::Trimmed(g.Cell(app::ColFile, r)).empty()) continue;
        const bool filled = cli::Trimmed(g.Cell(app::ColAvailable, r)) == "OK"
                                ? !cli::Trimmed(g.Cell(app::ColUpdate, r)).empty()
                                : !cli::Trimmed(g.Cell(app::ColRunning, r)).empty();
        if (!filled) missing.push_back(r);
    }
    return missing;
}

std::string Describe(const app::TMainForm& form, const std::vector<int>& rows) {
    std::string s;
    for (int r : rows)
        s += (s.empty() ? "" : ", ") + std::to_string(r) + " \"" +
             cli::Trimmed(form.Grid().Cell(app::ColDescription, r)) + "\" (" +
             cli::Trimmed(form.Grid().Cell(app::ColFile, r)) + ")";
    return s;
}

const char* Verdict(bool ok) { return ok ? "ok" : "MISSED"; }

} // namespace

int main(int argc, char** argv) {
    double seconds = 60, sampleS = 5, warmupS = 20, everyS = 20;
    bool keep = false;  // leave the console's folder (its Log.txt) behind
    std::string sim = RAVELIN_SIM_EXE;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--sample") sampleS = std::atof(next().c_str());
        else if (a == "--warmup") warmupS = std::atof(next().c_str());
        else if (a == "--every") everyS = std::atof(next().c_str());
        else if (a == "--sim") sim = next();
        else if (a == "--keep") keep = true;
        else if (!a.empty() && a[0] != '-') seconds = std::atof(a.c_str());
        else {
            std::cerr << "usage: soak_bench [SECONDS] [--sample S] [--warmup S] [--every S] [--sim PATH] [--keep]\n";
            return 2;
        }
    }
    warmupS = std::min(warmupS, seconds / 3);

    const fs::path folder = fs::temp_directory_path() / ("ravelin-soak-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    Console console;
    if (!console.start(sim, folder)) {
        std::cerr << "soak: the virtual console did not start (" << sim << ")\n";
        console.stop();
        return 1;
    }

    std::ostringstream progress;  // the update texts a terminal would show; not kept
    const double t0 = Now();
    const Sample before = Measure(0);
    int rc = 0;
    std::vector<Sample> samples;
    double inventoryS = -1;
    std::vector<double> filledAt(256, -1.0);  // when each row was first in place
    std::string notFilled, lateRows;  // rows still empty after 10 s, and at the 1.5 s goal
    int updates = 0, succeeded = 0;
    {
        cli::Session s(folder.string(), progress, false);
        const int rows[] = {12, 15};  // the GPIO panel's code, the MADI card's firmware
        double nextUpdate = warmupS / 2, nextSample = 0;
        bool busy = false;
        int turn = 0, updatingRow = 0;
        while (Now() - t0 < seconds) {
            const double t = Now() - t0;
            if (t >= nextSample) {
                Sample m = Measure(t);
                if (auto* unit = dynamic_cast<engine::EngineUnit*>(&s.form->Engine()))
                    m.sentTableKb = long(unit->Engine().SentTableEntries() * sizeof(engine::tSentMessage) / 1024);
                m.busy = busy || s.form->UpdateBusy();
                busy = false;
                samples.push_back(m);
                std::printf("%8.1f s  rss %6ld kB  hwm %6ld kB  anon %6ld kB  heap %6ld kB (sent table %4ld)  fds %3d  "
                            "threads %2d  cpu %7.3f s%s\n",
                            m.t, m.rssKb, m.hwmKb, m.anonKb, m.heapKb, m.sentTableKb, m.fds, m.threads, m.cpuS,
                            m.busy ? "  (update)" : "");
                std::fflush(stdout);
                while (nextSample <= t) nextSample += sampleS;
            }
            if (updatingRow != 0 && !s.form->UpdateBusy()) {
                succeeded += s.form->LastResult().row == updatingRow && s.form->LastResult().succeeded;
                updatingRow = 0;
                nextUpdate = t + everyS;
            }
            if (updatingRow == 0 && t >= nextUpdate && (inventoryS >= 0 || t >= 10) && !s.form->UpdateBusy()) {
                const int row = rows[turn++ % 2];
                if (s.form->UpdateValid(row)) {
                    s.form->GridMouseDown(app::ColUpdate, row);
                    ++updates;
                    updatingRow = row;
                } else {
                    nextUpdate = t + everyS;
                }
            }
            busy = busy || s.form->UpdateBusy();
            // The inventory is watched in fine steps until it is whole.
            if (inventoryS < 0 && t < 10) {
                s.loop.runFor(10);
                const auto missing = RowsNotFilled(*s.form);
                for (int r = 1; r < s.form->Grid().RowCount(); ++r)
                    if (!cli::Trimmed(s.form->Grid().Cell(app::ColFile, r)).empty() && filledAt[r] < 0 &&
                        std::find(missing.begin(), missing.end(), r) == missing.end())
                        filledAt[r] = Now() - t0;
                if (missing.empty()) inventoryS = Now() - t0;
                else if (lateRows.empty() && Now() - t0 >= 1.5) lateRows = Describe(*s.form, RowsNotFilled(*s.form));
                else if (Now() - t0 >= 10) notFilled = Describe(*s.form, RowsNotFilled(*s.form));
                continue;
            }
            s.loop.runFor(100);
            if (!console.alive()) {
                std::cerr << "soak: the virtual console died\n";
                rc = 1;
                break;
            }
        }
        s.Close();
    }
    console.stop();
    if (keep) std::printf("folder kept: %s\n", folder.c_str());
    else fs::remove_all(folder);

    // Growth is read between idle samples only: an update holds its file and
    // buffers while it runs.
    std::vector<Sample> idle;
    for (const auto& m : samples)
        if (m.t >= warmupS && !m.busy) idle.push_back(m);
    std::printf("\nsummary (%.0f s, %d updates, %d successful; program measured in-process, console in a child)\n",
                seconds, updates, succeeded);
    long rssGrowth = 0, anonGrowth = 0, heapGrowth = 0, tableGrowth = 0;
    int fdGrowth = 0, threadGrowth = 0;
    if (idle.size() >= 2) {
        // The lowest of the first and of the last few idle samples, so that a
        // transient allocation at one sample does not read as growth.
        const size_t k = std::max<size_t>(1, idle.size() / 4);
        auto low = [](auto b, auto e, auto field) {
            auto v = field(*b);
            for (auto i = b; i != e; ++i) v = std::min(v, field(*i));
            return v;
        };
        auto rss = [](const Sample& m) { return m.rssKb; };
        auto anon = [](const Sample& m) { return m.anonKb; };
        auto heap = [](const Sample& m) { return m.heapKb; };
        auto fds = [](const Sample& m) { return m.fds; };
        auto thr = [](const Sample& m) { return m.threads; };
        rssGrowth = low(idle.end() - long(k), idle.end(), rss) - low(idle.begin(), idle.begin() + long(k), rss);
        anonGrowth = low(idle.end() - long(k), idle.end(), anon) - low(idle.begin(), idle.begin() + long(k), anon);
        heapGrowth = low(idle.end() - long(k), idle.end(), heap) - low(idle.begin(), idle.begin() + long(k), heap);
        tableGrowth = idle.back().sentTableKb - idle.front().sentTableKb;
        fdGrowth = low(idle.end() - long(k), idle.end(), fds) - low(idle.begin(), idle.begin() + long(k), fds);
        threadGrowth = low(idle.end() - long(k), idle.end(), thr) - low(idle.begin(), idle.begin() + long(k), thr);
    }
    // Idle CPU: consecutive idle samples after warm-up, every link connected.
    double idleCpu = 0, idleWall = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1].t < warmupS || samples[i].busy || samples[i - 1].busy) continue;
        idleCpu += samples[i].cpuS - samples[i - 1].cpuS;
        idleWall += samples[i].t - samples[i - 1].t;
    }
    long hwm = 0;
    for (const auto& m : samples) hwm = std::max(hwm, m.hwmKb);
    const double idlePercent = idleWall > 0 ? 100.0 * idleCpu / idleWall : -1;
    // A leak shows in the heap in use and the anonymous pages; resident code
    // pages come in as paths first run, and a few pages of allocator slack
    // come and go. The engine link's sent-message table grows by design with
    // the message numbers until they wrap (at most 768 kB, after some 45
    // minutes of this run): its growth is allowed for.
    const bool heapLeak = heapGrowth - tableGrowth > 256, anonLeak = anonGrowth - tableGrowth > 1024;
    const bool fdLeak = fdGrowth > 0, threadLeak = threadGrowth > 0;
    std::printf("descriptors at start %d, threads at start %d\n", before.fds, before.threads);
    std::printf("growth after warm-up (%zu idle samples): rss %+ld kB, anon %+ld kB [%s], heap in use %+ld kB [%s] "
                "(of it the engine's sent-message table %+ld kB, allowed), fds %+d [%s], threads %+d [%s]\n",
                idle.size(), rssGrowth, anonGrowth, anonLeak ? "GROWING" : "flat", heapGrowth,
                heapLeak ? "GROWING" : "flat", tableGrowth, fdGrowth, fdLeak ? "GROWING" : "flat", threadGrowth,
                threadLeak ? "GROWING" : "flat");
    if (idlePercent >= 0)
        std::printf("idle cpu: %.2f %% of one core over %.0f s (goal < 1 %%) [%s]\n", idlePercent, idleWall,
                    Verdict(idlePercent < 1.0));
    else
        std::printf("idle cpu: no idle stretch after warm-up\n");
    std::printf("peak rss: %.1f MB (goal < 20 MB) [%s]\n", double(hwm) / 1024, Verdict(hwm < 20 * 1024));
    if (inventoryS >= 0)
        std::printf("whole inventory: %.2f s after start (goal < 1.5 s) [%s]%s%s\n", inventoryS, Verdict(inventoryS < 1.5),
                    lateRows.empty() ? "" : "; empty at 1.5 s: ", lateRows.c_str());
    else
        std::printf("whole inventory: not in place after 10 s; rows still empty: %s [MISSED]\n",
                    notFilled.empty() ? "(run shorter than 10 s)" : notFilled.c_str());
    std::printf("rows in place at (s):");
    for (size_t r = 0; r < filledAt.size(); ++r)
        if (filledAt[r] >= 0) std::printf(" %zu:%.2f", r, filledAt[r]);
    std::printf("\n");
    if (heapLeak || anonLeak || fdLeak || threadLeak) rc = 1;
    std::printf("result: %s\n", rc == 0 ? "pass" : "FAIL");
    return rc;
}
