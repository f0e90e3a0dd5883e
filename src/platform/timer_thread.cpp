#include "platform/timer_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ravelin::platform {

namespace {
// A thread that wakes on a fixed grid of deadlines; a late wake-up does not
// shift the grid, and ticks missed while the machine was busy are dropped.
class SystemTimerThread final : public TimerThread {
public:
    ~SystemTimerThread() override { stop(); }

    void start(int periodMs, std::function<void()> onTick) override {
        std::lock_guard<std::mutex> g(control_);
        if (thread_.joinable()) return;
        stopping_ = false;
        thread_ = std::thread([this, periodMs, tick = std::move(onTick)] {
            using clock = std::chrono::steady_clock;
            auto period = std::chrono::milliseconds(periodMs);
            auto next = clock::now() + period;
            std::unique_lock<std::mutex> lk(wait_);
            while (!stopping_) {
                if (cv_.wait_until(lk, next, [this] { return stopping_.load(); })) break;
                lk.unlock();
                tick();
                lk.lock();
                next += period;
                auto now = clock::now();
                if (next < now) next = now + period;
            }
        });
    }

    void stop() override {
        std::lock_guard<std::mutex> g(control_);
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lk(wait_);
            stopping_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    bool running() const override { return thread_.joinable(); }

private:
    std::mutex control_;
    std::mutex wait_;
    std::condition_variable cv_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
} // namespace

std::unique_ptr<TimerThread> newSystemTimerThread() { return std::make_unique<SystemTimerThread>(); }

} // namespace ravelin::platform
