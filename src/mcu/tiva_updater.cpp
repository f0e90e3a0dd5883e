#include "mcu/tiva_updater.h"

#include "surface/frame.h"

#include <algorithm>

namespace ravelin::mcu {

tTivaUpdater::tTivaUpdater(tTivaMessenger& aMessenger, std::vector<uint8_t> image, bool AutoBaud,
                           platform::Clock& clock, DisplayFn display)
    : Messenger(aMessenger), Bin(std::move(image)), UseAutoBaud(AutoBaud), clock_(clock),
      display_(std::move(display)) {
    BinSize = static_cast<uint32_t>(Bin.size());
}

std::string tTivaUpdater::StatusText(uint8_t status) {
    switch (status) {
    case COMMAND_PING: return "Ping";
    case COMMAND_DOWNLOAD: return "Download";
    case COMMAND_RUN: return "Run";
    case COMMAND_GET_STATUS: return "Get Status";
    case COMMAND_SEND_DATA: return "Send Data";
    case COMMAND_RESET: return "Reset";
    case COMMAND_NAK: return "Command Nak";
    case COMMAND_RET_SUCCESS: return "Success";
    case COMMAND_RET_UNKNOWN_CMD: return "Unknown Command";
    case COMMAND_RET_INVALID_CMD: return "Bad Command";
    case COMMAND_RET_INVALID_ADR: return "Bad Address";
    case COMMAND_RET_FLASH_FAIL: return "Flash Failure";
    case AUTO_BAUD: return "AutoBaud";
    case APPLICATION_RUNNING: return "Not BootLoader";
    case COMMAND_ACK: return "Command Ack";
    case kAbortEmptyImage: return "Empty File";
    case kAbortRetries: return "Retries exceeded";
    case kAbortTimeout: return "Timeout";
    case kAbortBadData: return "Bad Data Received";
    default: return std::to_string(status);
    }
}

void tTivaUpdater::Start() {
    if (BinSize == 0) {
        Abort(kAbortEmptyImage);
        return;
    }
    if (UseAutoBaud)
        SendAutoBaud();
    else
        SendCommand(COMMAND_PING);
}

float tTivaUpdater::Fraction() const {
    return BinSize ? static_cast<float>(BinSent) / static_cast<float>(BinSize) : 0.0f;
}

void tTivaUpdater::Transmit() {
    clock_.sleep(kTivaPacketPauseMs);
    Messenger.Send(TxBuffer.data(), TxLength);
}

void tTivaUpdater::SendPacket(uint8_t Header, const uint8_t* Data, int DataLength) {
    DataLength = std::clamp(DataLength, 0, kTivaMaxData);
    std::copy(Data, Data + DataLength, TxBuffer.begin() + 3);
    const uint8_t sum = static_cast<uint8_t>(Header + surface::FrameSum(Data, size_t(DataLength)));
    TxBuffer[0] = static_cast<uint8_t>(3 + DataLength);
    TxBuffer[1] = sum;
    TxBuffer[2] = Header;
    TxLength = 3 + DataLength;
    TxHeader = Header;
    Transmit();
    State = Header == COMMAND_RUN ? ts_NoAck : ts_WaitAck;
}

void tTivaUpdater::SendAutoBaud() {
    TxHeader = AUTO_BAUD;
    TxBuffer[0] = AUTO_BAUD;
    TxBuffer[1] = AUTO_BAUD;
    TxLength = 2;
    Messenger.Send(TxBuffer.data(), TxLength);
}

void tTivaUpdater::PollTimerEvent() {
    if (ended_) return;
    uint8_t b = 0;
    while (Messenger.Receive(&b, 1) == 1) {
        // Filler zeros come between packets only; inside a status packet a
        // zero is data.
        if (b == 0 && RxBufferIndex == 0) continue;
        ReceiveReply(b);
        break;
    }
    if (ended_) return;
    if (++TimeoutCount > kTivaTimeoutPolls) {
        if (BinSent > 0) {
            Abort(kAbortTimeout);
            return;
        }
        // Before any image data, silence only means the boot loader has not
        // come up yet: keep asking.
        if (UseAutoBaud)
            SendAutoBaud();
        else
            SendCommand(COMMAND_PING);
        TimeoutCount = 0;
    }
}

void tTivaUpdater::ReceiveReply(uint8_t b) {
    if (b == 0 && RxBufferIndex == 0) return;
    TimeoutCount = 0;
    RxBuffer[RxBufferIndex++] = b;
    bool partial = false;
    switch (RxBuffer[0]) {
    case COMMAND_NAK: ReceiveNak(); break;
    case APPLICATION_RUNNING: Abort(APPLICATION_RUNNING); break;
    case COMMAND_ACK: ReceiveAck(); break;
    default: {
        if (TxHeader == AUTO_BAUD) break;
        const int size = RxBuffer[0];
        if (size != 3 && size != 4) {
            Abort(kAbortBadData);
            break;
        }
        while (RxBufferIndex < size && Messenger.Receive(&RxBuffer[RxBufferIndex], 1) == 1) ++RxBufferIndex;
        if (RxBufferIndex < size) {
            partial = true;
            break;
        }
        if (surface::FrameSum(&RxBuffer[2], size_t(size - 2)) == RxBuffer[1])
            ReceiveStatus(RxBuffer[2]);
        else
            Abort(kAbortBadData);
        break;
    }
    }
    if (!partial) RxBufferIndex = 0;
}

void tTivaUpdater::ReceiveAck() {
    RetryCount = 0;
    if (State != ts_WaitAck) return;
    switch (TxHeader) {
    case COMMAND_PING: StartDownload(); break;
    case COMMAND_GET_STATUS: State = ts_WaitReply; break;
    case COMMAND_RESET:
        State = ts_NoAck;
        ended_ = true;
        if (OnFinished) OnFinished(1.0f, tu_Ack);
        break;
    case AUTO_BAUD: SendCommand(COMMAND_PING); break;
    case COMMAND_DOWNLOAD:
    case COMMAND_SEND_DATA: SendCommand(COMMAND_GET_STATUS); break;
    default: break;
    }
}

void tTivaUpdater::ReceiveNak() {
    if (State != ts_WaitAck) return;
    if (TxHeader == AUTO_BAUD) {
        SendAutoBaud();
        return;
    }
    if (RetryCount < kTivaMaxRetries) {
        ++RetryCount;
        if (display_) display_("TivaUpdater.ReceiveNak " + std::to_string(RetryCount) + " retries");
        Transmit();
        return;
    }
    Abort(kAbortRetries);
}

void tTivaUpdater::ReceiveStatus(uint8_t aStatus) {
    const uint8_t ack = COMMAND_ACK;
    Messenger.Send(&ack, 1);
    RxStatus = aStatus;
    if (State != ts_WaitReply) return;
    if (aStatus != COMMAND_RET_SUCCESS) {
        Abort(aStatus);
        return;
    }
    if (BinSent >= BinSize)
        FinishDownload();
    else
        ContinueDownload();
    ReportProgress();
}

void tTivaUpdater::StartDownload() {
    // Program address 0, then the image size, most significant byte first.
    const uint8_t data[8] = {0,
                             0,
                             0,
                             0,
                             static_cast<uint8_t>(BinSize >> 24),
                             static_cast<uint8_t>(BinSize >> 16),
                             static_cast<uint8_t>(BinSize >> 8),
                             static_cast<uint8_t>(BinSize)};
    SendPacket(COMMAND_DOWNLOAD, data, 8);
}

void tTivaUpdater::ContinueDownload() {
    const int n = static_cast<int>(std::min<uint32_t>(kTivaMaxData, BinSize - BinSent));
    SendPacket(COMMAND_SEND_DATA, Bin.data() + BinSent, n);
    BinSent += static_cast<uint32_t>(n);
}

void tTivaUpdater::FinishDownload() {
    SendCommand(COMMAND_RESET);
}

void tTivaUpdater::Abort(uint8_t aStatus) {
    RxStatus = aStatus;
    // The first failure is final: a late ACK must never carry a failed
    // download on to a reset and a reported success.
    ended_ = true;
    State = ts_NoAck;
    ReportProgress();
}

void tTivaUpdater::ReportProgress() {
    if (OnProgress) OnProgress(Fraction(), static_cast<uint8_t>(RxStatus - COMMAND_RET_SUCCESS));
}

} // namespace ravelin::mcu
