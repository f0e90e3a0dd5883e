#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/tcp_client.h"
#include "surface/fifo.h"

// The TCP link to one interface card: a byte queue each way, the outgoing
// one written to the socket in batches cut on message boundaries, and the log
// lines of the link.
namespace ravelin::cards {

// Cards listen on this port plus the slot index, at the engine's address.
constexpr int kOstraBasePort = 52001;

// What a link needs from the rest of the program.
struct OstraLinkServices {
    // Makes the socket; the link passes its own handlers.
    std::function<std::unique_ptr<platform::TcpClient>(const std::string& host, int port,
                                                       platform::TcpClient::Handlers)>
        newClient;
    std::function<void(const std::string&)> writeLog; // WriteLog of the main window's log
    platform::Clock* clock = nullptr;                 // null -> platform::systemClock()
};

class tOstraMessenger {
public:
    static constexpr int32_t QueueBytes = 16384;
    static constexpr int BatchBytes = 255;     // a batch is cut once it holds this many
    static constexpr int ReadBytes = 254;      // most bytes read per receive notice
    static constexpr int QueueFullWaitMs = 2000;
    static constexpr int QueueFullStepMs = 100;

    // Create + FormCreate: the connection to IPAddress, port 52001 + SlotIndex,
    // is started at once.
    tOstraMessenger(const std::string& IPAddress, int SlotIndex, OstraLinkServices services);
    // FormClose.
    ~tOstraMessenger();
    tOstraMessenger(const tOstraMessenger&) = delete;
    tOstraMessenger& operator=(const tOstraMessenger&) = delete;

    // Queues the message's bytes; false when the queue stayed full for 2 s
    // (the bytes stored so far stay queued).
    bool SendEthernet(std::string_view aMessage);
    // Writes one batch; false when nothing went out whole.
    bool SendBufferedOutput();
    bool ReceiveEthernet(std::string_view aMessage);
    // Up to 255 received bytes.
    std::string ReceiveBufferedInput();
    // Raw bytes for the card's boot loader, past the outgoing queue.
    int ReceiveBuffer(void* aBuffer, int Count);
    int SendBuffer(const void* aBuffer, int Count);
    bool IsConnected() const { return connected_; }
    // The card closed a connection that was made; nothing makes it again
    // by itself.
    bool Dropped() const { return dropped_; }
    // Makes the connection again.
    void Reconnect();

    // Bytes waiting to go out, the ones a would-block held back included.
    int32_t OutgoingCount();
    // Empties both queues and anything held back.
    void ClearQueues();

    void LogMessage(const std::string& s);
    void LogError(const std::string& s);

    // The socket's events.
    void ClientSocketConnect();
    void ClientSocketDisconnect();
    void ClientSocketError(int ErrorCode);
    void ClientSocketRead();
    void ClientSocketWrite() { SendBufferedOutput(); }

    const std::string Ostraname;
    const std::string RemoteAddress;
    const int Port;
    int32_t RXcount = 0;
    int32_t RXFailCount = 0;
    int32_t TXcount = 0;
    int32_t TXFailCount = 0;
    std::function<void(const std::string&)> DisplayMessage;
    std::function<void()> OnConnected;

private:
    // Hands `batch` to the socket; what it does not take now is held back
    // for the next write-ready notice.
    bool sendBatch(std::string batch);

    OstraLinkServices services_;
    platform::Clock& clock_;
    surface::tFiFo OutQueue{1, QueueBytes};
    surface::tFiFo InQueue{1, QueueBytes};
    std::string heldBack_; // a batch the socket took only part of
    bool connected_ = false;
    bool dropped_ = false;
    std::unique_ptr<platform::TcpClient> client_;
};

} // namespace ravelin::cards
