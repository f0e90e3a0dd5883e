#pragma once
// A clock in virtual time: sleep() returns at once and moves the tick on, so
// code that waits in 10 ms steps runs its retries without real waiting. Safe
// to share between a worker thread and the test thread.

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace ravelin::surface::testing {

class FakeClock : public platform::Clock {
public:
    explicit FakeClock(uint32_t start = 0) : tick_(start) {}

    uint32_t tickCount() override { return tick_; }
    void sleep(int ms) override {
        if (ms <= 0) return;
        tick_ += uint32_t(ms);
        slept_ += ms;
        ++sleeps_;
    }

    void setTick(uint32_t t) { tick_ = t; }
    void advance(uint32_t ms) { tick_ += ms; }
    // Total and number of sleeps so far.
    int64_t sleptMs() const { return slept_; }
    int64_t sleeps() const { return sleeps_; }

private:
    std::atomic<uint32_t> tick_;
    std::atomic<int64_t> slept_{0};
    std::atomic<int64_t> sleeps_{0};
};

} // namespace ravelin::surface::testing
