#include "app/system_services.h"

#include "engine/engine_unit.h"
#include "platform/clock.h"
#include "platform/timer_thread.h"
#include "surface/com_ports.h"

namespace ravelin::app {

MainFormServices SystemServices(platform::EventLoop& loop, const std::string& programFolder) {
    surface::ComPortServices ports;
    ports.loop = &loop;
    ports.displayMessage = [](const std::string& t) { app::DisplayMessage(t); };
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
    return s;
}

} // namespace ravelin::app
