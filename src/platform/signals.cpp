#include "platform/signals.h"

#include <atomic>
#include <csignal>

namespace ravelin::platform {

namespace {
std::atomic<bool> requested{false};
extern "C" void OnTerminate(int) { requested = true; }
} // namespace

void WatchTerminateSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool TerminateRequested() { return requested; }

void ClearTerminateRequest() { requested = false; }

} // namespace ravelin::platform
