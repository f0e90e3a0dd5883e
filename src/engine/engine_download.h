#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_dispatch.h"
#include "engine/engine_message.h"
#include "platform/update_control.h"

// Engine code (host program, FPGA, effects) into the engine's flash: the file
// goes out in numbered packets of 256 bytes, each answered before the next,
// then the end of the download with the checksum of the whole file, then the
// engine programs its flash and reports as it goes.
namespace ravelin::engine {

class EngineDownload final : public platform::RunningUpdate, public EngineTransfer {
public:
    static constexpr int kPacketBytes = 256;
    static constexpr int kMaxResends = 5;         // a packet goes out at most six more times
    static constexpr int kMaxRecoverRequests = 5;

    // `description` names the file type in the progress messages ("Host").
    EngineDownload(EngineDispatch& dispatch, platform::UpdateControl& control, std::string fileName, int fileType,
                   std::string description);
    ~EngineDownload() override;

    void Start() override { Start_EngineDownload(); }
    void NoAnswer(platform::UpdateControl& control) override;
    void EngineReply(const tEngineMessage& m) override;

    void Start_EngineDownload();
    void Continue_EngineDownload(uint8_t prevAck);
    void Start_EngineFlash();
    void Continue_EngineFlash(uint8_t prevAck);

    uint16_t EngineFileType = 0;
    uint16_t EngineFileChecksum = 0;
    int32_t EngineRetries = 0;
    int32_t EngineRecoverRetries = 0;
    tEngineHeader EngineAckWaiting;
    int32_t PacketCount = 0;
    int32_t DownloadFileSize = 0;
    int32_t DownloadProgress = 0;
    tEngineMessage EnginePacket;

private:
    void End(bool success);
    void Recover(uint8_t status);

    EngineDispatch& dispatch_;
    platform::UpdateControl& control_;
    std::string fileName_;
    std::string description_;
    std::vector<uint8_t> file_;
    size_t position_ = 0;
    bool fileOpen_ = false;
    bool ended_ = false;
};

} // namespace ravelin::engine
