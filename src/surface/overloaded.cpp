#include "surface/overloaded.h"

#include <array>
#include <atomic>
#include <mutex>

namespace ravelin::surface {

namespace {
std::mutex receiverLock;
OverloadReceiver receiver;
std::array<std::atomic<bool>, 256> pending{};
} // namespace

void SetOverloadReceiver(OverloadReceiver r, bool replace) {
    std::lock_guard<std::mutex> g(receiverLock);
    if (!receiver || replace) receiver = std::move(r);
}

bool HasOverloadReceiver() {
    std::lock_guard<std::mutex> g(receiverLock);
    return static_cast<bool>(receiver);
}

void PostOverload(uint8_t number, uint32_t detail) {
    // Claim the number first, so two threads overflowing at once post once.
    bool expected = false;
    if (!pending[number].compare_exchange_strong(expected, true)) return;
    bool posted = false;
    {
        std::lock_guard<std::mutex> g(receiverLock);
        if (receiver) posted = receiver(number, detail);
    }
    if (!posted) pending[number] = false;
}

void ClearOverload(uint8_t number) { pending[number] = false; }

bool OverloadPending(uint8_t number) { return pending[number]; }

} // namespace ravelin::surface
