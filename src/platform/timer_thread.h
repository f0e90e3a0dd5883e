#pragma once
#include <functional>
#include <memory>

namespace ravelin::platform {

// A periodic callback on a thread of its own (the surface link's 10 ms timer).
// The callback must only touch what is safe from another thread.
class TimerThread {
public:
    virtual ~TimerThread() = default;
    // Starting a running timer changes nothing.
    virtual void start(int periodMs, std::function<void()> onTick) = 0;
    // Returns when no tick runs any more.
    virtual void stop() = 0;
    virtual bool running() const = 0;
};

std::unique_ptr<TimerThread> newSystemTimerThread();

} // namespace ravelin::platform
