#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

// One TCP client connection served by a worker thread that only moves bytes
// between the socket and two locked byte queues. It knows nothing of what the
// bytes mean. Connection, disconnection and errors reach the loop's thread
// through the event loop; the worker waits while those callbacks run.
namespace ravelin::platform {

// The kind of a socket error, as the link's error reports name it.
enum class TErrorEvent : uint8_t { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// The socket error numbers the engine link's texts and branches are written
// for (10054 reset, 10060 timed out, 10061 refused, ...), from a POSIX errno.
int SocketErrorNumber(int posixError);

// What the users of a client connection see of it; tests put an in-memory
// connection in its place.
class ClientConnection {
public:
    virtual ~ClientConnection() = default;
    virtual void Start() = 0;
    virtual void Terminate() = 0;
    // Any thread. Queues the bytes; never drops them, never waits for the socket.
    virtual void Send(const void* buffer, int count) = 0;
    // Any thread, never blocks: up to count received bytes, 0 when none (or
    // when the queue is being filled at this moment).
    virtual int Receive(void* buffer, int count) = 0;
    virtual int InQueueSize() const = 0;
    virtual int OutQueueSize() const = 0;
    virtual int InQueueCount() const = 0;
    virtual int OutQueueCount() const = 0;
    virtual int32_t RxCount() const = 0;
    virtual int32_t TxCount() const = 0;
    // True while connected.
    virtual bool Active() const = 0;
    // The connected peer's address in dotted decimal; empty when not connected.
    virtual std::string RemoteAddress() const = 0;

    // All run on the loop's thread. The first three while the worker waits.
    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected;
    std::function<void(TErrorEvent, int& errorCode)> OnSocketError;
    // The connection has ended for good; the owner drops the object here.
    std::function<void()> OnTerminate;
    // Bytes have arrived. At most one such notice waits in the loop at a time.
    std::function<void()> OnDataReceived;
};

class tClientThread final : public ClientConnection {
public:
    static constexpr int kInitialQueue = 65536;
    static constexpr int kQueueGrowth = 16384;
    static constexpr int kReadChunk = 4096;
    static constexpr int kWriteChunk = 1408;
    static constexpr int kBurstMs = 20;
    static constexpr int kConnectTimeoutMs = 10000;

    tClientThread(EventLoop& loop, std::string ipAddress, int port);
    // Stops the worker and waits for it; no callback runs after this.
    ~tClientThread() override;

    void Start() override;
    void Terminate() override;
    void Send(const void* buffer, int count) override;
    int Receive(void* buffer, int count) override;
    int InQueueSize() const override { return inSize_.load(); }
    int OutQueueSize() const override { return outSize_.load(); }
    int InQueueCount() const override { return inIndex_.load(); }
    int OutQueueCount() const override { return outIndex_.load(); }
    int32_t RxCount() const override { return rxCount_.load(); }
    int32_t TxCount() const override { return txCount_.load(); }
    bool Active() const override { return active_.load(); }
    std::string RemoteAddress() const override;

    int LastErrorCode = 0;
    TErrorEvent LastErrorEvent = TErrorEvent::eeGeneral;

private:
    void Execute();
    bool Connect(int& error);
    void ReadSocket();
    // False with the error number when a write failed.
    bool FlushOutBuffer(int& error);
    void CloseSocket();
    void Wake();
    void RunOnLoop(const std::function<void()>& task);
    void ReportError(int code);

    EventLoop& loop_;
    const std::string address_;
    const int port_;
    int socket_ = -1;
    int wakeFd_ = -1;
    std::thread worker_;
    std::atomic<bool> terminate_{false};
    std::atomic<bool> abandon_{false};
    std::atomic<bool> active_{false};
    std::atomic<bool> dataNoticePending_{false};
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    mutable std::mutex peerLock_;
    std::string peer_;

    std::mutex inLock_;
    std::vector<uint8_t> inBuffer_;
    std::atomic<int> inIndex_{0};
    std::atomic<int> inSize_{0};
    std::mutex outLock_;
    std::vector<uint8_t> outBuffer_;
    std::atomic<int> outIndex_{0};
    std::atomic<int> outSize_{0};
    std::atomic<int32_t> rxCount_{0};
    std::atomic<int32_t> txCount_{0};
};

} // namespace ravelin::platform
