#include "app/ui/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>

namespace ravelin::ui {

// What queued calls and waiting senders share with the loop; it outlives the
// loop, so a call that arrives late finds the loop gone and does nothing.
struct QtEventLoop::Shared {
    std::mutex lock;
    std::atomic<bool> accepting{true};
};

QtEventLoop::QtEventLoop() : shared_(std::make_shared<Shared>()), thread_(QThread::currentThread()) {}

QtEventLoop::~QtEventLoop() {
    shutdown();
    for (auto& [id, t] : timers_) delete t;
    timers_.clear();
}

void QtEventLoop::shutdown() {
    std::lock_guard<std::mutex> g(shared_->lock);
    shared_->accepting = false;
}

void QtEventLoop::setExceptionHandler(std::function<void(const std::string&)> handler) {
    onException_ = std::move(handler);
}

void QtEventLoop::runGuarded(const Task& task) {
    // Qt cannot unwind an exception through its event loop; report it and go on.
    try {
        task();
    } catch (const std::exception& e) {
        if (onException_) onException_(e.what());
    } catch (...) {
        if (onException_) onException_("unknown exception");
    }
}

int QtEventLoop::addTimer(int periodMs, Task onTick) {
    // Timers belong to the GUI thread, where the window creates them.
    auto* timer = new QTimer();
    // The 10 ms communications tick needs the precise kind; coarse timers may stretch it by 5 %.
    timer->setTimerType(periodMs < 100 ? Qt::PreciseTimer : Qt::CoarseTimer);
    auto sh = shared_;
    QObject::connect(timer, &QTimer::timeout, timer, [this, sh, tick = std::move(onTick)] {
        if (sh->accepting) runGuarded(tick);
    });
    timer->start(periodMs);
    int id = nextId_++;
    timers_[id] = timer;
    return id;
}

void QtEventLoop::removeTimer(int id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // The timer may be removed from inside its own tick.
    it->second->deleteLater();
    timers_.erase(it);
}

bool QtEventLoop::post(Task task) {
    auto sh = shared_;
    // Held while queueing, so the loop (and with it the application) cannot go away meanwhile.
    std::lock_guard<std::mutex> g(sh->lock);
    if (!sh->accepting || !QCoreApplication::instance()) return false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, sh, task = std::move(task)] {
            if (sh->accepting) runGuarded(task);
        },
        Qt::QueuedConnection);
    return true;
}

bool QtEventLoop::send(Task task, const std::atomic<bool>* abandon) {
    if (isLoopThread()) {
        runGuarded(task);
        return true;
    }
    struct Wait {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
    };
    auto w = std::make_shared<Wait>();
    auto sh = shared_;   // the loop itself may be gone before the wait ends
    bool queued = post([task = std::move(task), w] {
        // Marked done even when the task throws, so the sender is never left waiting.
        struct Done {
            Wait& w;
            ~Done() {
                std::lock_guard<std::mutex> g(w.lock);
                w.done = true;
                w.cv.notify_all();
            }
        } done{*w};
        task();
    });
    if (!queued) return false;
    std::unique_lock<std::mutex> lk(w->lock);
    while (!w->done) {
        // A stopping worker or a loop that has shut down will never see the task run.
        if ((abandon && *abandon) || !sh->accepting) return false;
        w->cv.wait_for(lk, std::chrono::milliseconds(20));
    }
    return true;
}

void QtEventLoop::run() { QCoreApplication::exec(); }

void QtEventLoop::quit() {
    if (isLoopThread()) {
        QCoreApplication::quit();
        return;
    }
    std::lock_guard<std::mutex> g(shared_->lock);
    if (shared_->accepting && QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

bool QtEventLoop::isLoopThread() const { return QThread::currentThread() == thread_; }

} // namespace ravelin::ui
