#pragma once
// An in-memory serial line for the protocol tests: what the program sends is
// recorded, what the panel "sends" is fed in. The line outlives the port
// object, so a test can still look at it after the link has closed the port.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "surface/com_stream.h"

namespace ravelin::surface::testing {

struct FakeLine {
    std::mutex lock;
    std::deque<uint8_t> in;      // bytes from the panel, not yet taken
    std::string written;         // every byte the program queued, in order
    int acceptLimit = -1;        // >= 0: a send queues at most this many bytes
    int inputClears = 0;
    int outputClears = 0;
    int dtrPulses = 0;
    bool open = false;           // the port object exists
    std::function<void()> onClose; // runs when the port object is destroyed
    std::function<void()> onSend;  // runs after each send, outside the lock (a device that answers at once)

    void feed(const std::string& bytes) {
        std::lock_guard<std::mutex> g(lock);
        in.insert(in.end(), bytes.begin(), bytes.end());
    }
    std::string takeWritten() {
        std::lock_guard<std::mutex> g(lock);
        std::string w;
        w.swap(written);
        return w;
    }
    size_t pending() {
        std::lock_guard<std::mutex> g(lock);
        return in.size();
    }
};

class FakeComStream : public ComStream {
public:
    FakeComStream(int com, std::shared_ptr<FakeLine> line) : com_(com), line_(std::move(line)) {
        std::lock_guard<std::mutex> g(line_->lock);
        line_->open = true;
    }
    ~FakeComStream() override {
        std::function<void()> onClose;
        {
            std::lock_guard<std::mutex> g(line_->lock);
            line_->open = false;
            onClose = line_->onClose;
        }
        if (onClose) onClose();
    }

    // Like the real queue, bytes go in one at a time, each under the queue's
    // lock, so two unsynchronised senders would interleave.
    int send(const uint8_t* data, int count) override {
        int limit;
        {
            std::lock_guard<std::mutex> g(line_->lock);
            limit = line_->acceptLimit;
        }
        int n = limit >= 0 && limit < count ? limit : count;
        for (int i = 0; i < n; ++i) {
            {
                std::lock_guard<std::mutex> g(line_->lock);
                line_->written.push_back(static_cast<char>(data[i]));
            }
            std::this_thread::yield();
        }
        std::function<void()> onSend;
        {
            std::lock_guard<std::mutex> g(line_->lock);
            onSend = line_->onSend;
        }
        if (onSend) onSend();
        return n;
    }
    int receive(uint8_t* data, int count) override {
        std::lock_guard<std::mutex> g(line_->lock);
        int n = 0;
        while (n < count && !line_->in.empty()) {
            data[n++] = line_->in.front();
            line_->in.pop_front();
        }
        return n;
    }
    bool peekNextByte(uint8_t& data) override {
        std::lock_guard<std::mutex> g(line_->lock);
        if (line_->in.empty()) return false;
        data = line_->in.front();
        return true;
    }
    int receivingCount() override {
        std::lock_guard<std::mutex> g(line_->lock);
        return static_cast<int>(line_->in.size());
    }
    int sendingCount() override { return 0; }
    void clearInputQueue() override {
        std::lock_guard<std::mutex> g(line_->lock);
        line_->in.clear();
        ++line_->inputClears;
    }
    void clearOutputQueue() override {
        std::lock_guard<std::mutex> g(line_->lock);
        ++line_->outputClears;
    }
    void toggleDTR() override {
        std::lock_guard<std::mutex> g(line_->lock);
        ++line_->dtrPulses;
    }
    int comNumber() const override { return com_; }

private:
    int com_;
    std::shared_ptr<FakeLine> line_;
};

// Serial ports by number: opening a number that has a line gives a port on
// it; any other number fails the way a missing device does.
struct FakePorts {
    struct OpenCall {
        int com;
        int baudRate;
        bool flowControl;
    };
    std::map<int, std::shared_ptr<FakeLine>> lines;
    std::vector<OpenCall> opens;

    std::shared_ptr<FakeLine> add(int com) {
        auto line = std::make_shared<FakeLine>();
        lines[com] = line;
        return line;
    }
    ComPortOpener opener() {
        return [this](int com, int baud, bool flow) -> std::unique_ptr<ComStream> {
            opens.push_back({com, baud, flow});
            auto it = lines.find(com);
            if (it == lines.end()) throw ComPortError("Cannot open ComPort " + std::to_string(com));
            return std::make_unique<FakeComStream>(com, it->second);
        };
    }
};

} // namespace ravelin::surface::testing
