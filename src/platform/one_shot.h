#pragma once
#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace ravelin::platform {

// A timer that fires once on the loop's thread, after which it is gone.
// Re-arming replaces the pending shot; destruction cancels it.
class OneShot {
public:
    explicit OneShot(EventLoop& loop) : loop_(loop) {}
    ~OneShot() { cancel(); }
    OneShot(const OneShot&) = delete;
    OneShot& operator=(const OneShot&) = delete;

    void arm(int ms, std::function<void()> fire) {
        cancel();
        auto task = std::make_shared<std::function<void()>>(std::move(fire));
        id_ = loop_.addTimer(ms, [this, task] {
            cancel();
            (*task)();
        });
    }
    void cancel() {
        if (id_) loop_.removeTimer(id_);
        id_ = 0;
    }
    bool pending() const { return id_ != 0; }

private:
    EventLoop& loop_;
    int id_ = 0;
};

} // namespace ravelin::platform
