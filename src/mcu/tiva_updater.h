#pragma once
// The program's end of the microcontroller ROM boot loader's serial protocol:
// ping, announce the image, send it in packets of up to 240 bytes with a
// status check after each, reset. The bytes travel over a tTivaMessenger; the
// owner drives the updater with PollTimerEvent every 10 ms on the
// user-interface thread and hears of it through OnProgress and OnFinished.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mcu/tiva_messenger.h"
#include "mcu/tiva_types.h"
#include "platform/clock.h"

namespace ravelin::mcu {

// Packet commands.
constexpr uint8_t COMMAND_PING = 0x20;
constexpr uint8_t COMMAND_DOWNLOAD = 0x21;
constexpr uint8_t COMMAND_RUN = 0x22;
constexpr uint8_t COMMAND_GET_STATUS = 0x23;
constexpr uint8_t COMMAND_SEND_DATA = 0x24;
constexpr uint8_t COMMAND_RESET = 0x25;
// Single bytes on the line.
constexpr uint8_t COMMAND_ACK = 0xCC;
constexpr uint8_t COMMAND_NAK = 0x33;
constexpr uint8_t APPLICATION_RUNNING = 0xAA;
constexpr uint8_t AUTO_BAUD = 0x55;
// Status values of a status packet.
constexpr uint8_t COMMAND_RET_SUCCESS = 0x40;
constexpr uint8_t COMMAND_RET_UNKNOWN_CMD = 0x41;
constexpr uint8_t COMMAND_RET_INVALID_CMD = 0x42;
constexpr uint8_t COMMAND_RET_INVALID_ADR = 0x43;
constexpr uint8_t COMMAND_RET_FLASH_FAIL = 0x44;
// Reasons of an abort, kept in RxStatus beside the device's own statuses.
constexpr uint8_t kAbortEmptyImage = 252;
constexpr uint8_t kAbortRetries = 253;
constexpr uint8_t kAbortTimeout = 254;
constexpr uint8_t kAbortBadData = 255;

// Image bytes per send-data packet.
constexpr int kTivaMaxData = 240;
// Polls (10 ms each) without a byte before the line counts as silent.
constexpr int kTivaTimeoutPolls = 100;
// NAKs to one packet that are answered by sending it again.
constexpr int kTivaMaxRetries = 6;
// Pause before every packet: the boot loader needs it between packets.
constexpr int kTivaPacketPauseMs = 10;

class tTivaUpdater {
public:
    // `image` is the whole file; the owner reads it. `display` gets the
    // retry messages. Nothing goes out before Start.
    tTivaUpdater(tTivaMessenger& aMessenger, std::vector<uint8_t> image, bool AutoBaud, platform::Clock& clock,
                 DisplayFn display = {});

    // Sends the ping (the auto-baud bytes with AutoBaud). An empty image is
    // refused: it aborts at once with kAbortEmptyImage and sends nothing, so
    // that a device is never reset as if it had been given new code.
    void Start();
    // The owner's 10 ms service call.
    void PollTimerEvent();

    std::string StatusDescription() const { return StatusText(RxStatus); }
    static std::string StatusText(uint8_t status);
    // True once the updater has reported its end (OnFinished or a failing
    // OnProgress); it then takes no more bytes and sends nothing.
    bool Ended() const { return ended_; }

    tTivaUpdateEvent OnProgress;
    tTivaUpdateEvent OnFinished;

    tTivaMessenger& Messenger;
    std::vector<uint8_t> Bin;
    uint32_t BinSize = 0;
    uint32_t BinSent = 0;
    std::array<uint8_t, 8> RxBuffer{};
    int32_t RxBufferIndex = 0;
    std::array<uint8_t, 3 + kTivaMaxData> TxBuffer{};
    int32_t TxLength = 0;
    uint8_t TxHeader = 0;
    uint8_t RxStatus = 0;
    tTivaUpdateState State = ts_NoAck;
    int32_t RetryCount = 0;
    int32_t TimeoutCount = 0;
    bool UseAutoBaud = false;

private:
    void SendPacket(uint8_t Header, const uint8_t* Data, int DataLength);
    void SendCommand(uint8_t Header) { SendPacket(Header, nullptr, 0); }
    void SendAutoBaud();
    void Transmit();
    void ReceiveReply(uint8_t b);
    void ReceiveAck();
    void ReceiveNak();
    void ReceiveStatus(uint8_t aStatus);
    void StartDownload();
    void ContinueDownload();
    void FinishDownload();
    void Abort(uint8_t aStatus);
    void ReportProgress();
    float Fraction() const;

    platform::Clock& clock_;
    DisplayFn display_;
    bool ended_ = false;
};

} // namespace ravelin::mcu
