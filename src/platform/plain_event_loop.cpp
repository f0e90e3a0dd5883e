#include "platform/plain_event_loop.h"

namespace ravelin::platform {

using steady = std::chrono::steady_clock;

PlainEventLoop::PlainEventLoop() : owner_(std::this_thread::get_id()) {}

int PlainEventLoop::addTimer(int periodMs, Task onTick) {
    std::lock_guard<std::mutex> g(lock_);
    int id = nextId_++;
    timers_[id] = Timer{periodMs, std::move(onTick), steady::now() + std::chrono::milliseconds(periodMs)};
    wake_.notify_all();
    return id;
}

void PlainEventLoop::removeTimer(int id) {
    std::lock_guard<std::mutex> g(lock_);
    timers_.erase(id);
}

bool PlainEventLoop::post(Task task) {
    std::lock_guard<std::mutex> g(lock_);
    posted_.push_back(std::move(task));
    wake_.notify_all();
    return true;
}

bool PlainEventLoop::send(Task task, const std::atomic<bool>* abandon) {
    if (isLoopThread()) {
        task();
        return true;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto cv = std::make_shared<std::condition_variable>();
    auto m = std::make_shared<std::mutex>();
    post([task = std::move(task), done, cv, m] {
        task();
        std::lock_guard<std::mutex> g(*m);
        *done = true;
        cv->notify_all();
    });
    std::unique_lock<std::mutex> lk(*m);
    while (!*done) {
        if (abandon && *abandon) return false;
        cv->wait_for(lk, std::chrono::milliseconds(20));
    }
    return true;
}

size_t PlainEventLoop::pendingCount() {
    std::lock_guard<std::mutex> g(lock_);
    return posted_.size();
}

void PlainEventLoop::run() { loop(steady::time_point::max()); }

void PlainEventLoop::runFor(int ms) { loop(steady::now() + std::chrono::milliseconds(ms)); }

void PlainEventLoop::quit() {
    std::lock_guard<std::mutex> g(lock_);
    quit_ = true;
    wake_.notify_all();
}

bool PlainEventLoop::isLoopThread() const { return std::this_thread::get_id() == owner_; }

void PlainEventLoop::loop(steady::time_point until) {
    owner_ = std::this_thread::get_id();
    std::unique_lock<std::mutex> lk(lock_);
    quit_ = false;
    while (!quit_) {
        // Posted messages first, then at most one due timer, so neither starves the other.
        if (!posted_.empty()) {
            Task t = std::move(posted_.front());
            posted_.pop_front();
            lk.unlock();
            t();
            lk.lock();
            continue;
        }
        auto now = steady::now();
        if (now >= until) break;
        int dueId = 0;
        steady::time_point next = until;
        for (auto& [id, t] : timers_) {
            if (t.due <= now && (dueId == 0 || t.due < timers_[dueId].due)) dueId = id;
            if (t.due < next) next = t.due;
        }
        if (dueId != 0) {
            Timer& t = timers_[dueId];
            auto period = std::chrono::milliseconds(t.periodMs);
            t.due += period;
            // Ticks missed while the thread was busy merge into one that comes at once.
            if (t.due <= now) t.due = now;
            Task tick = t.onTick;
            lk.unlock();
            tick();
            lk.lock();
            continue;
        }
        wake_.wait_until(lk, next);
    }
}

} // namespace ravelin::platform
