#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_dispatch.h"
#include "engine/engine_message.h"
#include "platform/one_shot.h"
#include "platform/update_control.h"

// Rack code and FPGA images through the engine to a rack on one of its
// ports: a start message with the file type, the file in packets of up to 64
// words, each acknowledged by the rack (a packet left unanswered for 2.5 s
// counts as taken; the rack's final check decides), the end of the file, the
// rack's check of length, checksum and type, then the flash programming.
namespace ravelin::engine {

// The file type code a rack file name stands for; 0 for none.
int RackFileTypeOf(const std::string& fileName);
// The code that orders the flash programming of a file type.
int RackProgramCode(int rackFileType);
// "Rack flash programming " + the text of a result code.
std::string RackFlashResultText(uint32_t code);

class RackDownload final : public platform::RunningUpdate, public EngineTransfer {
public:
    static constexpr int kPacketWords = 64;
    static constexpr int kMaxRefusals = 5;
    static constexpr int kPacketWatchdogTicks = 5;   // 2.5 s
    static constexpr int kEndWatchdogTicks = 60;     // 30 s
    static constexpr int kFlashBarMs = 1000;
    // The rack reports its flash programming well within this; the bars that
    // keep the watchdog quiet stop after it, so a silent rack ends the update.
    static constexpr int kMaxFlashBars = 120;

    RackDownload(EngineDispatch& dispatch, platform::UpdateControl& control, int nRack, std::string fileName);
    ~RackDownload() override;

    void Start() override { Start_RackDownload(); }
    void NoAnswer(platform::UpdateControl& control) override;
    void EngineReply(const tEngineMessage& m) override;

    void Start_RackDownload();
    void Continue_RackDownload(uint8_t prevAck);
    void End_RackDownload();

    int32_t RackFileType = 0;
    uint32_t RackPortHeader = 0;
    tEngineHeader RackAckWaiting;
    int32_t RackRetries = 0;
    int32_t RackAckFailCount = 0;
    uint16_t RackChecksum = 0;
    int32_t DownloadFileSize = 0;
    int32_t DownloadProgress = 0;
    int32_t PacketCount = 0;
    std::string FlashProgress;
    tEngineMessage EnginePacket;

private:
    tEngineHeader Header(uint16_t idLo) const { return tEngineHeader(RackPortHeader | idLo); }
    void SendPacket();
    void End(bool success);
    void FlashBar();

    EngineDispatch& dispatch_;
    platform::UpdateControl& control_;
    int nRack_;
    std::string fileName_;
    std::vector<uint16_t> words_;
    size_t position_ = 0;
    platform::OneShot flashTimer_;
    int flashBars_ = 0;
    bool ended_ = false;
};

} // namespace ravelin::engine
