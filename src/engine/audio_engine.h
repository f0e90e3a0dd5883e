#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_link.h"
#include "engine/engine_message.h"
#include "engine/engine_messenger.h"
#include "engine/engine_window.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/one_shot.h"
#include "platform/update_control.h"

// The engine message protocol: numbering, checksums and queueing of what is
// sent, the record of sent messages for re-sending what the engine lost, the
// sequence check and the engine's own reports on what is received, and the
// wait for one reply.
namespace ravelin::engine {

struct tSentMessage {
    uint8_t WordCount = 0;
    uint32_t Header = 0;
    uint32_t Data32 = 0;
};

class AudioEngine {
public:
    static constexpr int kServiceMs = 40;
    static constexpr int kMaxDataLength = 500;

    AudioEngine(platform::EventLoop& loop, platform::Clock& clock, platform::UpdateControl& log,
                EngineWindow& window, EngineInfo& info);

    // The connection messages go out on and come in from; null when no link.
    void SetMessenger(EngineMessenger* messenger) { messenger_ = messenger; }
    EngineMessenger* Messenger() const { return messenger_; }

    void SendEngineMessage(tEngineMessage& message);
    void SendEngineLong(tEngineHeader header, uint32_t data32);
    void SendEngineCommand(uint8_t status, tEngineHeader header, uint32_t data32);
    void SendEngineData(tEngineHeader header, const uint8_t* data, int length, bool force);
    // Queues the first `bytes` bytes of a message as they stand, unnumbered.
    void QueueEngineBytes(const tEngineMessage& message, int bytes);
    void InitialiseEngineComms();

    void ServiceEngineReceive();
    void ServiceEngineLinks();
    void ProcessReceivedEngineMessage(tEngineMessage& message);
    void ResendEngineMessages(uint16_t first, uint16_t last);

    // Waits, without blocking the loop, for a message with exactly this
    // header (0: only lets the time pass); `done` gets whether it came, and
    // AwaitedStatus holds its status (2 for a plain 0). While a header is
    // awaited every message sent is dropped.
    void WaitForEngineReply(tEngineHeader header, int timeoutMs, std::function<void(bool)> done);
    void WaitForEngine(int timeoutMs, std::function<void(bool)> done) { WaitForEngineReply(0, timeoutMs, std::move(done)); }

    void LogEngineMessage(const std::string& prefix, const tEngineMessage& message);
    void LogEngineDates();

    uint16_t TxSequence = 0;
    // What went out under each number (1..65535), for sending again what the
    // engine lost; a number never used reads as an empty entry.
    const tSentMessage& SentEntry(uint16_t sequence) const;
    void RecordSent(uint16_t sequence, const tSentMessage& entry);
    // Entries of the sent-message table: it grows with the numbers used, up
    // to one entry per 16-bit message number.
    size_t SentTableEntries() const { return sentHistory_.size(); }
    uint16_t RxSequence = 0;
    bool SkipSequenceCheck = true;
    bool EngineCommsReady = false;
    tEngineHeader AwaitedHeader;
    uint8_t AwaitedStatus = 0;
    std::function<void(tEngineMessage&)> OnEngineMessage;

    EngineInfo& Info() { return info_; }

private:
    void FinishWait(bool received);

    // Grows with the numbers used, up to one entry per number: a short
    // session never holds the whole 64 K table.
    std::vector<tSentMessage> sentHistory_;

    platform::EventLoop& loop_;
    platform::Clock& clock_;
    platform::UpdateControl& log_;
    EngineWindow& window_;
    EngineInfo& info_;
    EngineMessenger* messenger_ = nullptr;
    platform::OneShot waitTimer_;
    std::function<void(bool)> waitDone_;
};

} // namespace ravelin::engine
