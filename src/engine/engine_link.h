#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine_message.h"
#include "platform/update_control.h"

// What the main window needs of the engine link. The TCP link, the message
// protocol and the downloads live behind this; without an engine address no
// link is opened and the engine rows show only their files.
namespace ravelin::engine {

struct EngineInfo {
    // Which of the two catalogue file sets the engine runs (0 or 1).
    uint16_t EngineFileSet = 1;
    // BCD date (day, month, year in century, century) of the code running in
    // the engine, by engine file type.
    std::array<std::array<uint8_t, 4>, 6> EngineCodeDates{};
    // The same for the images held permanently in the engine's flash.
    std::array<std::array<uint8_t, 4>, 6> EngineFlashDates{};
    // Which image runs, by index 0 host, 1 effects, 3 FPGA: 0 permanent,
    // 1 downloaded, 255 not reported yet.
    std::array<uint8_t, 4> EngineImageRunning{255, 255, 255, 255};
    uint64_t EngineSerialNumber = 0;
    // Sample rate per engine port.
    std::array<float, 21> EngineSampleRates{};
};

class EngineLink {
public:
    virtual ~EngineLink() = default;
    EngineInfo Info;

    virtual void OpenEngineLinks(const std::string& ipAddress) {}
    virtual void CloseEngineLinks() {}
    virtual void ResetEngineLinkState() {}
    virtual void InitialiseEngineComms() {}
    // File set, serial number, code dates and rack data, once at start-up.
    virtual void SendStartupRequests() {}
    // The version requests of every fifth second, racks included.
    virtual void SendVersionRequests() {}
    // Engine messages received and handled for up to 40 ms (communications tick).
    virtual void Service() {}
    virtual void SendSystemMessage(int parameter, int data) {}
    virtual void RestartEngine() {}
    virtual void Start_EngineDownload(const std::string& fileName, int fileType) {}

    // The update paths of the engine rows (engine code, `description` being
    // the file type's name) and of the rack rows (`nRack` the rack's record);
    // null when there is no engine link.
    virtual std::unique_ptr<platform::RunningUpdate> NewEngineDownload(const std::string& fileName, int fileType,
                                                                       const std::string& description) {
        return nullptr;
    }
    virtual std::unique_ptr<platform::RunningUpdate> NewRackDownload(int nRack, const std::string& fileName) {
        return nullptr;
    }
    // An engine message from elsewhere (the interface-card slots) handled as
    // if the engine had sent it.
    virtual void ProcessEngineMessage(tEngineMessage& message) {}
    virtual bool IsConnected() const { return false; }
    // True while a restart runs (from RestartEngine until it has been
    // confirmed or has timed out).
    virtual bool Restarting() const { return false; }
};

} // namespace ravelin::engine
