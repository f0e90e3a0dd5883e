#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/event_loop.h"

namespace ravelin::platform {

// The loop of headless runs: the thread that calls run() is the UI thread.
class PlainEventLoop final : public EventLoop {
public:
    PlainEventLoop();
    int addTimer(int periodMs, Task onTick) override;
    void removeTimer(int id) override;
    bool post(Task task) override;
    bool send(Task task, const std::atomic<bool>* abandon) override;
    void run() override;
    void quit() override;
    bool isLoopThread() const override;
    // Runs the loop until quit() or until `ms` have passed.
    void runFor(int ms);
    // Messages posted and not yet run.
    size_t pendingCount();

private:
    struct Timer {
        int periodMs;
        Task onTick;
        std::chrono::steady_clock::time_point due;
    };
    void loop(std::chrono::steady_clock::time_point until);

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Task> posted_;
    std::map<int, Timer> timers_;
    int nextId_ = 1;
    bool quit_ = false;
    std::atomic<std::thread::id> owner_;
};

} // namespace ravelin::platform
