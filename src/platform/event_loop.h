#pragma once
#include <atomic>
#include <functional>

namespace ravelin::platform {

// The user-interface thread's loop: periodic timers and messages posted from
// other threads. Every protocol state machine, timer and callback runs here;
// worker threads only reach it through post() and send().
class EventLoop {
public:
    using Task = std::function<void()>;
    virtual ~EventLoop() = default;

    // A periodic timer on the loop's thread. A tick that comes while the
    // thread is busy is not queued twice: late ticks merge into one.
    virtual int addTimer(int periodMs, Task onTick) = 0;
    virtual void removeTimer(int id) = 0;

    // Thread-safe. Queues a message for the loop's thread; false when the loop
    // no longer takes messages.
    virtual bool post(Task task) = 0;

    // Thread-safe. Runs the task on the loop's thread and waits until it has
    // run. Gives up (returns false) when *abandon becomes true first, so a
    // worker that is being stopped never deadlocks against its owner.
    virtual bool send(Task task, const std::atomic<bool>* abandon) = 0;

    // Runs until quit() (or, for loops that only run on demand, returns at once).
    virtual void run() = 0;
    virtual void quit() = 0;
    virtual bool isLoopThread() const = 0;
};

} // namespace ravelin::platform
