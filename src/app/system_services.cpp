#include "app/system_services.h"

#include <memory>

#include "cards/ostra_slot.h"
#include "engine/engine_unit.h"
#include "host/corvane_host.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/tcp_client.h"
#include "platform/timer_thread.h"
#include "surface/com_ports.h"

namespace ravelin::app {

MainFormServices SystemServices(platform::EventLoop& loop, const std::string& programFolder) {
    surface::ComPortServices ports;
    ports.loop = &loop;
    // A port's own errors say nothing about an update's progress.
    ports.displayMessage = [](const std::string& t) { app::DisplayLinkError(t); };
    ports.devicePath = [programFolder](int com) { return DevicePathFor(programFolder, com); };
    surface::SetComPortServices(ports);

    MainFormServices s;
    s.loop = &loop;
    s.clock = &platform::systemClock();
    s.newTimerThread = platform::newSystemTimerThread;
    s.openComPort = surface::OpenComPort;
    s.newEngineLink = [&loop](platform::UpdateControl& control, engine::EngineWindow& window,
                              engine::RackTable& racks) -> std::unique_ptr<engine::EngineLink> {
        return std::make_unique<engine::EngineUnit>(loop, platform::systemClock(), control, window, racks,
                                                    engine::TcpConnections(loop));
    };
    s.newHost = [](int com, const std::string& consoleName, host::HostServices hs) -> std::unique_ptr<host::CorvaneHost> {
        return host::OpenCorvaneHost(uint32_t(com), consoleName, std::move(hs));
    };
    // One library for the whole run: the virtual console's boot loader when
    // Serial.ini names its socket, the machine's USB otherwise.
    auto library = std::make_shared<std::unique_ptr<platform::DfuLibrary>>();
    s.dfuLibrary = [library, &loop, programFolder]() -> platform::DfuLibrary* {
        if (!*library) {
            platform::IniFile ini(platform::files::join(programFolder, "Serial.ini"));
            std::string why;
            *library = platform::OpenDfuLibrary(ini.readString("DevicePaths", "DFU", ""), loop, why);
        }
        return library->get();
    };
    s.newOstraSlot = [&loop](int slot, cards::OstraSlotServices services) {
        services.link.newClient = [&loop](const std::string& host, int port, platform::TcpClient::Handlers h) {
            return platform::NewTcpClient(loop, host, port, std::move(h));
        };
        services.link.clock = &platform::systemClock();
        return cards::NewOstraSlot(slot, services);
    };
    return s;
}

} // namespace ravelin::app
