#include "engine/engine_dispatch.h"

#include <cstdio>

#include "engine/engine_numbers.h"

namespace ravelin::engine {

std::string HeaderDataText(tEngineHeader header, int32_t data) {
    return "0x" + Hex(header.IDfull, 8) + " " + std::to_string(data);
}

EngineDispatch::EngineDispatch(platform::EventLoop& loop, platform::UpdateControl& control, EngineWindow& window,
                               AudioEngine& engine, RackTable& racks)
    : loop_(loop), control_(control), window_(window), engine_(engine), racks_(racks),
      rackMessages_(racks, window, control, engine), restartTimer_(loop), closeTimer_(loop) {}

void EngineDispatch::SendEngine(tEngineHeader header, int32_t data) {
    engine_.SendEngineLong(header, uint32_t(data));
    window_.ShowEngOut(HeaderDataText(header, data));
}

void EngineDispatch::ProcessEngineMessage(tEngineMessage& m) {
    const tEngineHeader h = m.Header();
    window_.ShowEngIn(HeaderDataText(h, int32_t(m.Data32())));
    switch (h.IDlo()) {
    case idStartDownload:
    case idPacket:
    case idEndDownload:
    case idProgramFlash:
    case idRecover:
    case idRackAck:
    case idRackFlashResult:
    case idTransferCheck:
        if (transfer_) transfer_->EngineReply(m);
        break;
    case idEngineReset:
        if (control_.MessagePanelText() == kRestarting) {
            control_.SetMessagePanel(" Engine restarted successfully");
            closeTimer_.arm(kCloseDelayMs, [this] { window_.CloseWindow(); });
        }
        break;
    case idFileSet:
        window_.ShowEngineSerial(engine_.Info().EngineFileSet == 1);
        window_.RefreshRow(2);
        break;
    case idSerialNumber: {
        char text[32];
        std::snprintf(text, sizeof text, "%020llu", static_cast<unsigned long long>(engine_.Info().EngineSerialNumber));
        window_.SetEngineSerialText(text);
        break;
    }
    case idDeviceData:
        rackMessages_.DeviceData(m);
        break;
    case idRackBoot:
        rackMessages_.BootReport(m);
        break;
    case idVersionReport:
        rackMessages_.VersionReport(m);
        break;
    default:
        break;
    }
}

void EngineDispatch::InitialiseForStartup() {
    engine_.SkipSequenceCheck = true;
    engine_.EngineCommsReady = false;
    engine_.InitialiseEngineComms();
}

void EngineDispatch::SendStartupRequests() {
    auto request = [this](uint8_t parameter, uint8_t band) {
        engine_.SendEngineCommand(stRequest, MakeHeader(IdLo(modSystem, parameter), band, 0), 0);
    };
    request(sysFileSet, 0);
    request(sysSerialNumber, 0);
    for (uint8_t band : {0, 1, 2, 3, 4, 5, 18, 19, 20, 21}) request(sysVersionDates, band);
    rackMessages_.InitialiseLocalRacks();
    auto deviceData = [this](int port) {
        engine_.SendEngineCommand(stRequest, MakeHeader(idDeviceData, uint8_t(port), 0), 0);
    };
    for (int port = 1; port <= 4; ++port) deviceData(port);
    for (int port = 42; port <= 55; ++port) deviceData(port);
    for (int port = 74; port <= 87; ++port) deviceData(port);
}

void EngineDispatch::SendVersionRequests() {
    for (uint8_t band : {0, 1, 2, 3, 4, 5, 18, 19, 20, 21})
        engine_.SendEngineCommand(stRequest, MakeHeader(idVersionDates, band, 0), 0);
    for (int i = 1; i <= 49; ++i) rackMessages_.RequestRackVersions(i);
}

void EngineDispatch::RestartEngine(std::function<void()> done) {
    if (restarting_) return;
    restarting_ = true;
    restartDone_ = std::move(done);
    if (window_.SendLocalIONote(1))
        restartTimer_.arm(kLocalIONoteMs, [this] { RestartStep2(); });
    else
        RestartStep2();
}

void EngineDispatch::RestartStep2() {
    rackMessages_.SetOptocoreDeviceMode(0, 255, 0);
    rackMessages_.SetOptocoreDeviceMode(1, 255, 0);
    engine_.WaitForEngine(10, [this](bool) { RestartStep3(); });
}

void EngineDispatch::RestartStep3() {
    engine_.EngineCommsReady = false;
    engine_.SkipSequenceCheck = true;
    window_.ResetEngineViaHost();
    engine_.WaitForEngineReply(MakeHeader(idEngineReset), kResetWaitMs, [this](bool) {
        control_.DisplayMessage("Engine Reset " + EngineStatusText(engine_.AwaitedStatus));
        if (window_.SendLocalIONote(0))
            restartTimer_.arm(kLocalIONoteMs, [this] { RestartEnd(); });
        else
            RestartEnd();
    });
}

void EngineDispatch::RestartEnd() {
    engine_.InitialiseEngineComms();
    rackMessages_.SetOptocoreDeviceMode(0, 255, 5);
    rackMessages_.SetOptocoreDeviceMode(1, 255, 5);
    restarting_ = false;
    auto done = std::move(restartDone_);
    restartDone_ = nullptr;
    if (done) done();
}

} // namespace ravelin::engine
