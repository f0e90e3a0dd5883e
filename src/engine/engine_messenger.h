#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_message.h"
#include "engine/engine_window.h"
#include "platform/client_thread.h"
#include "platform/event_loop.h"
#include "platform/one_shot.h"
#include "platform/update_control.h"

// The engine link's connection: one client thread on the engine's port,
// re-created whenever it ends until the link is closed, and the received
// byte stream turned into a queue of 16-bit words from which whole, checked
// messages are taken.
namespace ravelin::engine {

using ConnectionFactory =
    std::function<std::unique_ptr<platform::ClientConnection>(const std::string& ipAddress, int port)>;

class EngineMessenger {
public:
    static constexpr int kInitialWords = 65536;
    static constexpr int kReconnectDelayMs = 100;
    static constexpr int kMemoLines = 30000;
    static constexpr size_t kMemoBytes = size_t(1) << 20;

    EngineMessenger(platform::EventLoop& loop, platform::UpdateControl& log, EngineWindow& window,
                    std::string ipAddress, ConnectionFactory factory);
    ~EngineMessenger();

    // Creates the client thread and starts it.
    void Open();
    // Stops reconnecting and ends the connection (queued bytes are written first).
    void FormClose();

    // Queues the four bytes of a value, least significant first.
    bool SendEthernetLong(uint32_t value);
    // Queues bytes as they stand (a whole message at once).
    bool SendBytes(const uint8_t* bytes, int count);

    void ReceiveData();
    // One whole, checked message into `buffer`: its word count + 1, or 0.
    int ReceiveEngineMessage(tEngineMessage& buffer);

    bool IsConnected() const;
    int InputQueued() const;
    int OutputQueued() const;
    uint8_t InputQueueUsed() const;
    uint8_t OutputQueueUsed() const;
    int TxCount() const;
    int RxCount() const;

    void MemoMessage(const std::string& s);
    void LogMessage(const std::string& s);
    void LogError(const std::string& s);
    const std::deque<std::string>& Memo() const { return memo_; }
    size_t MemoBytes() const { return memoBytes_; }
    bool LoggingCheckBox = false;  // "Log Raw"
    const std::string& IPAddress() const { return ipAddress_; }

    // Run on the loop's thread: connected, and bytes arrived.
    std::function<void()> OnConnected;
    std::function<void()> OnDataReceived;

private:
    void CreateClientThread();
    void StartClientThread();
    void ClientThreadError(int& errorCode);
    void ClientThreadTerminate();
    void GetEngineMessage(tEngineMessage& buffer, int position, int count);

    platform::EventLoop& loop_;
    platform::UpdateControl& log_;
    EngineWindow& window_;
    std::string ipAddress_;
    ConnectionFactory factory_;
    std::unique_ptr<platform::ClientConnection> ClientThread;
    platform::OneShot reconnect_;
    bool NormalClose = false;

    // The word queue: InBufferLength words long (64 K at first, a further
    // 64 K whenever more is waiting than fits); the vector holds only the
    // words used so far.
    std::vector<uint16_t> InBuffer;
    int InBufferLength = kInitialWords;
    int InBufferIndex = 0;
    // Words before this index have been looked at and cannot start a
    // message (their whole candidate was here and its checksum failed), so
    // the next search starts after them.
    int deadWords_ = 0;
    // The low byte of a word whose high byte has not come yet.
    bool oddPending_ = false;
    uint8_t oddByte_ = 0;
    // Bytes taken from the connection before they become words; kept, so a
    // read allocates nothing.
    std::vector<uint8_t> received_;
    std::deque<std::string> memo_;
    size_t memoBytes_ = 0;
};

} // namespace ravelin::engine
