#include "engine/engine_download.h"

#include <cstring>

#include "engine/engine_numbers.h"
#include "platform/files.h"

namespace ravelin::engine {

EngineDownload::EngineDownload(EngineDispatch& dispatch, platform::UpdateControl& control, std::string fileName,
                               int fileType, std::string description)
    : EngineFileType(uint16_t(fileType)), dispatch_(dispatch), control_(control), fileName_(std::move(fileName)),
      description_(std::move(description)) {}

EngineDownload::~EngineDownload() {
    if (dispatch_.Transfer() == this) dispatch_.SetTransfer(nullptr);
}

void EngineDownload::End(bool success) {
    EngineAckWaiting = 0;
    file_.clear();
    fileOpen_ = false;
    if (dispatch_.Transfer() == this) dispatch_.SetTransfer(nullptr);
    if (ended_) return;
    ended_ = true;
    if (success)
        control_.FinishUpdate();
    else
        control_.CancelUpdate("");
}

void EngineDownload::NoAnswer(platform::UpdateControl& control) {
    ended_ = true;
    control.CancelUpdate("no response");
    End(false);
}

void EngineDownload::Start_EngineDownload() {
    // The whole file is read before anything is sent, so that a file that
    // cannot be read ends the update before the engine is told to expect it.
    auto path = platform::files::resolve(fileName_);
    auto data = path ? platform::files::readAll(*path) : std::nullopt;
    if (!data) {
        control_.DisplayMessage("Engine file open error " + fileName_);
        End(false);
        return;
    }
    file_ = std::move(*data);
    fileOpen_ = true;
    position_ = 0;
    dispatch_.SetTransfer(this);

    PacketCount = 0;
    EngineAckWaiting = MakeHeader(idStartDownload, uint8_t(EngineFileType), 0);
    dispatch_.Engine().SendEngineCommand(stAckRequest, EngineAckWaiting, 0);
    InitEngineMessage(EnginePacket, 5, MakeHeader(idPacket), 0);
    EnginePacket.SetStatus(stAckRequest);
    DownloadFileSize = int32_t(file_.size() / kPacketBytes);
    EngineFileChecksum = 0;
    control_.SetDownloadFileSize(DownloadFileSize);
}

void EngineDownload::EngineReply(const tEngineMessage& m) {
    const tEngineHeader h = m.Header();
    if (ended_ || EngineAckWaiting == 0 || h != EngineAckWaiting) return;
    const uint8_t status = m.Status();
    switch (h.IDlo()) {
    case idStartDownload:
        control_.DisplayMessage(description_ + " Start Download " + EngineStatusText(status));
        if (status == stAckOK) Continue_EngineDownload(stAckOK);
        break;
    case idPacket:
        control_.DisplayMessage(description_ + " Packet Download " + EngineStatusText(status));
        Continue_EngineDownload(status);
        break;
    case idEndDownload:
        control_.DisplayMessage(description_ + " End Download " + EngineStatusText(status));
        if (status == stAckOK) Start_EngineFlash();
        break;
    case idProgramFlash:
        control_.DisplayMessage(description_ + " Program Flash " + EngineStatusText(status) + " " +
                                std::to_string(PacketCount));
        Continue_EngineFlash(status);
        break;
    case idRecover:
        Recover(status);
        break;
    default:
        break;
    }
}

// After a checksum error the engine is asked to recover (request system 18).
// Its acknowledgement resumes the transfer with the same packet again; any
// other answer repeats the request, and a few such answers end the update.
void EngineDownload::Recover(uint8_t status) {
    if (status == stRequestOK || status == stAckOK) {
        EngineAckWaiting = EnginePacket.Header();
        Continue_EngineDownload(stRequestOK);
        return;
    }
    if (++EngineRecoverRetries > kMaxRecoverRequests) {
        control_.DisplayMessage(description_ + " recovery failed " + EngineStatusText(status));
        End(false);
        return;
    }
    dispatch_.Engine().SendEngineCommand(stRequest, MakeHeader(idRecover), 0);
}

void EngineDownload::Continue_EngineDownload(uint8_t prevAck) {
    const int packetBytes = (EnginePacket.WordCount() / 2 + 1) * 4;
    if (prevAck == stRequestOK) {
        if (EngineRetries > kMaxResends) {
            End(false);
            return;
        }
        dispatch_.Engine().QueueEngineBytes(EnginePacket, packetBytes);
        ++EngineRetries;
        return;
    }
    if (prevAck == stChecksumError) {
        EngineRecoverRetries = 0;
        EngineAckWaiting = MakeHeader(idRecover);
        dispatch_.Engine().SendEngineCommand(stRequest, EngineAckWaiting, 0);
        return;
    }
    if (prevAck != stAckOK) return;

    EngineRetries = 0;
    if (position_ >= file_.size()) {
        file_.clear();
        fileOpen_ = false;
        EngineAckWaiting = MakeHeader(idEndDownload);
        dispatch_.Engine().SendEngineCommand(stAckRequest, EngineAckWaiting, EngineFileChecksum);
        return;
    }
    size_t n = std::min<size_t>(kPacketBytes, file_.size() - position_);
    std::memcpy(EnginePacket.Data(), file_.data() + position_, n);
    position_ += n;
    ++DownloadProgress;
    if (n % 2) EnginePacket.Data()[n++] = 0;
    const int wc = int(n / 2) + 5;
    EnginePacket.SetWordCount(uint8_t(wc));
    EnginePacket.SetHeader(MakeHeader(idPacket, uint8_t(PacketCount), uint8_t(PacketCount >> 8)));
    EnginePacket.SetWord(wc, EngineChecksum(EnginePacket));
    EnginePacket.SetWord(wc + 1, 0);  // the filler of an even count
    for (int i = 5; i < wc; ++i) EngineFileChecksum = uint16_t(EngineFileChecksum + EnginePacket.Word(i));
    dispatch_.Engine().QueueEngineBytes(EnginePacket, (wc / 2 + 1) * 4);
    ++PacketCount;
    control_.StepProgress(1);
    EngineAckWaiting = EnginePacket.Header();
}

void EngineDownload::Start_EngineFlash() {
    PacketCount = 0;
    EngineAckWaiting = MakeHeader(idProgramFlash, uint8_t(EngineFileType), 0);
    dispatch_.Engine().SendEngineCommand(stAckRequest, EngineAckWaiting, 0);
    control_.DisplayStatus("programming flash");
}

void EngineDownload::Continue_EngineFlash(uint8_t prevAck) {
    ++PacketCount;
    if (prevAck >= stFlashFirstError && prevAck <= stFlashSuccess) {
        End(prevAck == stFlashSuccess);
        return;
    }
    control_.ProgressUpdate();
}

} // namespace ravelin::engine
