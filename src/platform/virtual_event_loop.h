#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/timer_thread.h"

namespace ravelin::platform {

// Virtual time for tests: nothing happens until advance() moves the clock on,
// and then every timer fires at its exact virtual time, in order. sleep()
// moves the clock without firing timers, as a blocked thread would.
class VirtualEventLoop final : public EventLoop, public Clock {
public:
    VirtualEventLoop();
    int addTimer(int periodMs, Task onTick) override;
    void removeTimer(int id) override;
    bool post(Task task) override;
    bool send(Task task, const std::atomic<bool>* abandon) override;
    void run() override { runPosted(); }
    void quit() override {}
    bool isLoopThread() const override;

    uint32_t tickCount() override { return static_cast<uint32_t>(now_); }
    void sleep(int ms) override;

    // Moves virtual time on by ms, firing every timer due on the way and the
    // posted messages between them.
    void advance(int64_t ms);
    void runPosted();
    int64_t now() const { return now_; }
    int64_t sleptMs() const { return slept_; }

    // A timer "thread" whose ticks fire inside advance(), on the caller's thread.
    std::unique_ptr<TimerThread> newTimerThread();

private:
    struct Timer {
        int64_t periodMs;
        Task onTick;
        int64_t due;
        uint64_t order;
    };
    std::mutex lock_;
    std::condition_variable done_;
    std::deque<Task> posted_;
    std::map<int, Timer> timers_;
    int nextId_ = 1;
    uint64_t nextOrder_ = 0;
    int64_t now_ = 0;
    int64_t slept_ = 0;
    std::atomic<std::thread::id> owner_;
};

} // namespace ravelin::platform
