#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/clock.h"
#include "platform/dfu_library.h"
#include "platform/dfu_protocol.h"
#include "platform/usb_control.h"

namespace ravelin::platform {

namespace {

// The library over one bus. Every transfer runs on the worker, one task at a
// time, so a download and the calls behind it never interleave on the wire;
// the user-interface thread waits only for the short calls, never for a
// download.
class DfuDevices final : public DfuLibrary {
public:
    DfuDevices(std::unique_ptr<UsbBus> bus, EventLoop& loop, Clock& clock)
        : bus_(std::move(bus)), loop_(loop), clock_(clock) {}

    ~DfuDevices() override {
        {
            std::lock_guard g(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    int Init() override {
        if (!bus_) return DFU_ERR_UNKNOWN;
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
        return DFU_OK;
    }

    int DeviceOpen(int index, DfuDeviceInfo& info, DfuHandle& handle) override {
        if (busy()) return DFU_ERR_HANDLE;
        return sync([&] {
            std::vector<UsbDfuEntry> all, found;
            UsbOutcome listed = bus_->list(all);
            if (listed != UsbOutcome::Done) return dfu::ResultOf(listed);
            for (const auto& e : all)
                if (e.interfaceProtocol == 2) found.push_back(e);
            if (index < 0 || size_t(index) >= found.size()) return int(DFU_ERR_NOT_FOUND);
            UsbOutcome outcome = UsbOutcome::Error;
            auto open = std::make_unique<Open>();
            open->pipe = bus_->open(found[size_t(index)], outcome);
            if (!open->pipe) return dfu::ResultOf(outcome);
            open->protocol = std::make_unique<dfu::DfuProtocol>(*open->pipe, found[size_t(index)], clock_);
            if (int rc = open->protocol->Identify(info)) return rc;
            handle = ++lastHandle_;
            open_[handle] = std::move(open);
            return int(DFU_OK);
        });
    }

    int DeviceClose(DfuHandle handle, bool reset) override {
        auto close = [this, handle, reset] {
            auto it = open_.find(handle);
            if (it == open_.end()) return int(DFU_ERR_HANDLE);
            if (reset) it->second->protocol->Reset();
            open_.erase(it);
            return int(DFU_OK);
        };
        if (downloading(handle)) {
            post(close);
            return DFU_OK;
        }
        return sync(close);
    }

    int DeviceASCIIStringGet(DfuHandle handle, uint8_t index, std::string& text) override {
        if (busy()) return DFU_ERR_HANDLE;
        return sync([&] {
            auto it = open_.find(handle);
            return it == open_.end() ? int(DFU_ERR_HANDLE) : it->second->protocol->GetString(index, text);
        });
    }

    int IsValidImage(DfuHandle handle, const std::vector<uint8_t>& image) override {
        if (busy()) return DFU_ERR_HANDLE;
        return sync([&] {
            auto it = open_.find(handle);
            if (it == open_.end()) return int(DFU_ERR_HANDLE);
            dfu::DfuImagePlan plan;
            return it->second->protocol->Plan(image, false, plan);
        });
    }

    int Download(DfuHandle handle, std::vector<uint8_t> image, bool verify, bool ignoreIDs,
                 DfuNotify notify) override {
        if (busy()) return DFU_ERR_HANDLE;
        if (sync([&] { return open_.count(handle) ? int(DFU_OK) : int(DFU_ERR_HANDLE); })) return DFU_ERR_HANDLE;
        {
            std::lock_guard g(lock_);
            downloading_.insert(handle);
        }
        post([this, handle, image = std::move(image), verify, ignoreIDs, notify] {
            auto report = [this, notify](int message, uint32_t param) {
                loop_.post([notify, message, param] { notify(message, param); });
            };
            auto it = open_.find(handle);
            int rc = it == open_.end() ? int(DFU_ERR_HANDLE)
                                       : it->second->protocol->Download(image, verify, ignoreIDs, report);
            if (rc == DFU_OK) report(kDfuMsgComplete, 0);
            else report(kDfuMsgError, uint32_t(rc));
            std::lock_guard g(lock_);
            downloading_.erase(handle);
        });
        return DFU_OK;
    }

private:
    struct Open {
        std::unique_ptr<ControlPipe> pipe;
        std::unique_ptr<dfu::DfuProtocol> protocol;
    };

    bool busy() {
        std::lock_guard g(lock_);
        return !downloading_.empty() || !worker_.joinable();
    }
    bool downloading(DfuHandle handle) {
        std::lock_guard g(lock_);
        return downloading_.count(handle) != 0;
    }
    void post(std::function<void()> task) {
        {
            std::lock_guard g(lock_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    template <class F>
    int sync(F f) {
        std::packaged_task<int()> task(std::move(f));
        auto result = task.get_future();
        post([&task] { task(); });
        return result.get();
    }
    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock g(lock_);
                wake_.wait(g, [this] { return stopping_ || !tasks_.empty(); });
                if (tasks_.empty()) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

    std::unique_ptr<UsbBus> bus_;
    EventLoop& loop_;
    Clock& clock_;
    // The worker's own: the open devices.
    std::map<DfuHandle, std::unique_ptr<Open>> open_;
    DfuHandle lastHandle_ = 0;

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::set<DfuHandle> downloading_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace

std::unique_ptr<DfuLibrary> NewDfuLibrary(std::unique_ptr<UsbBus> bus, EventLoop& loop, Clock& clock) {
    return std::make_unique<DfuDevices>(std::move(bus), loop, clock);
}

std::unique_ptr<DfuLibrary> OpenDfuLibrary(const std::string& socketPath, EventLoop& loop, std::string& why) {
    std::unique_ptr<UsbBus> bus = socketPath.empty() ? OpenLibusbBus(why) : OpenSocketBus(socketPath);
    return NewDfuLibrary(std::move(bus), loop, systemClock());
}

} // namespace ravelin::platform
