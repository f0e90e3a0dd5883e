#pragma once
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/event_loop.h"

class QTimer;
class QThread;

namespace ravelin::ui {

// The window's loop: the Qt application's own event loop on the GUI thread.
// Timers are QTimers; messages from worker threads arrive as queued calls on
// the application object. Create it after the QApplication and destroy it
// before.
class QtEventLoop final : public platform::EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;
    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    int addTimer(int periodMs, Task onTick) override;
    void removeTimer(int id) override;
    bool post(Task task) override;
    bool send(Task task, const std::atomic<bool>* abandon) override;
    void run() override;
    void quit() override;
    bool isLoopThread() const override;

    // An exception that escapes a timer tick or a posted task ends up here
    // instead of unwinding through Qt; the program carries on.
    void setExceptionHandler(std::function<void(const std::string&)> handler);
    // From now on nothing posted runs and post() refuses; waiting senders give up.
    void shutdown();

private:
    void runGuarded(const Task& task);

    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::map<int, QTimer*> timers_;
    int nextId_ = 1;
    QThread* thread_ = nullptr;
    std::function<void(const std::string&)> onException_;
};

} // namespace ravelin::ui
