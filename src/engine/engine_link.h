#pragma once
#include <array>
#include <cstdint>
#include <string>

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
};

} // namespace ravelin::engine
