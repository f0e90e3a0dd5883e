#include "platform/virtual_event_loop.h"

namespace ravelin::platform {

VirtualEventLoop::VirtualEventLoop() : owner_(std::this_thread::get_id()) {}

int VirtualEventLoop::addTimer(int periodMs, Task onTick) {
    std::lock_guard<std::mutex> g(lock_);
    int id = nextId_++;
    timers_[id] = Timer{periodMs, std::move(onTick), now_ + periodMs, nextOrder_++};
    return id;
}

void VirtualEventLoop::removeTimer(int id) {
    std::lock_guard<std::mutex> g(lock_);
    timers_.erase(id);
}

bool VirtualEventLoop::post(Task task) {
    std::lock_guard<std::mutex> g(lock_);
    posted_.push_back(std::move(task));
    return true;
}

bool VirtualEventLoop::send(Task task, const std::atomic<bool>* abandon) {
    if (isLoopThread()) {
        task();
        return true;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    post([task = std::move(task), done, this] {
        task();
        *done = true;
        done_.notify_all();
    });
    std::unique_lock<std::mutex> lk(lock_);
    while (!*done) {
        if (abandon && *abandon) return false;
        done_.wait_for(lk, std::chrono::milliseconds(5));
    }
    return true;
}

bool VirtualEventLoop::isLoopThread() const { return std::this_thread::get_id() == owner_; }

void VirtualEventLoop::sleep(int ms) {
    if (ms <= 0) return;
    now_ += ms;
    slept_ += ms;
}

void VirtualEventLoop::runPosted() {
    for (;;) {
        Task t;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (posted_.empty()) return;
            t = std::move(posted_.front());
            posted_.pop_front();
        }
        t();
    }
}

void VirtualEventLoop::advance(int64_t ms) {
    const int64_t target = now_ + ms;
    for (;;) {
        runPosted();
        int dueId = 0;
        int64_t due = 0;
        uint64_t order = 0;
        Task tick;
        {
            std::lock_guard<std::mutex> g(lock_);
            for (auto& [id, t] : timers_) {
                if (t.due > target) continue;
                if (dueId == 0 || t.due < due || (t.due == due && t.order < order)) {
                    dueId = id;
                    due = t.due;
                    order = t.order;
                }
            }
            if (dueId == 0) break;
            Timer& t = timers_[dueId];
            if (due > now_) now_ = due;
            t.due += t.periodMs;
            // A tick that comes late (the thread slept) merges the missed ones.
            if (t.due < now_) t.due = now_;
            t.order = nextOrder_++;
            tick = t.onTick;
        }
        tick();
    }
    if (now_ < target) now_ = target;
    runPosted();
}

namespace {
class VirtualTimerThread final : public TimerThread {
public:
    explicit VirtualTimerThread(VirtualEventLoop& loop) : loop_(loop) {}
    ~VirtualTimerThread() override { stop(); }
    void start(int periodMs, std::function<void()> onTick) override {
        if (id_) return;
        id_ = loop_.addTimer(periodMs, std::move(onTick));
    }
    void stop() override {
        if (id_) loop_.removeTimer(id_);
        id_ = 0;
    }
    bool running() const override { return id_ != 0; }

private:
    VirtualEventLoop& loop_;
    int id_ = 0;
};
} // namespace

std::unique_ptr<TimerThread> VirtualEventLoop::newTimerThread() {
    return std::make_unique<VirtualTimerThread>(*this);
}

} // namespace ravelin::platform
