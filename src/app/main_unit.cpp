#include "app/main_unit.h"

#include <exception>

#include "app/ostra_racks.h"
#include "cards/madi_control.h"
#include "cards/ostra_tunnel.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "surface/isa_serial.h"
#include "surface/overloaded.h"
#include "surface/surface_update.h"

namespace ravelin::app {

TMainForm::TMainForm(MainFormServices services, std::string programFolder)
    : services_(std::move(services)), folderArg_(std::move(programFolder)) {
    if (!services_.clock) services_.clock = &platform::systemClock();
    if (services_.loop) surfacePause_ = std::make_unique<platform::OneShot>(*services_.loop);
    if (!services_.newTimerThread) services_.newTimerThread = platform::newSystemTimerThread;
    LogFile::Source src;
    src.folder = [this] { return globals_.FolderOnDisk; };
    src.header = [this] { return globals_.ConsoleSection + " Log"; };
    src.tick = [this] { return surface_ ? surface_->TickCount() : 0u; };
    src.now = services_.now;
    log_ = std::make_unique<LogFile>(std::move(src));
    grid_.OnRowChanged = [this](int row) {
        if (view_) view_->RowChanged(row);
    };
    engine_ = services_.newEngineLink ? services_.newEngineLink(*this, *this, Racks) : nullptr;
    if (!engine_) engine_ = std::make_unique<engine::EngineLink>();
    ostraRacks_ = std::make_unique<OstraRacks>(Racks, engine_->Info);

    surface::SurfaceLinkServices ss;
    ss.openPort = services_.openComPort;
    ss.newTimer = services_.newTimerThread;
    ss.clock = services_.clock;
    ss.displayMessage = [](const std::string& s) { app::DisplayMessage(s); };
    ss.writeLog = [this](const std::string& s) { log_->WriteLog(s); };
    surface_ = std::make_unique<surface::SurfaceLink>(std::move(ss));
}

TMainForm::~TMainForm() {
    StopTimers();
    if (!closed_ && hardwareOpen_) CloseHardware();
    InstallMessageProcs(nullptr, nullptr);
    InstallLog(nullptr);
    surface::SetOverloadReceiver(nullptr, true);
}

void TMainForm::Changed() {
    if (view_) view_->DisplayChanged();
}

void TMainForm::FormCreate() {
    // Message procedures and the log first, so that everything after can speak.
    InstallMessageProcs([this](const std::string& s) { DisplayMessage(s); },
                        [this](const std::string& s) { DisplayStatus(s); },
                        [this](const std::string& s) { ShowLinkError(s); });
    InstallLog(log_.get());
    surface::SetOverloadReceiver(
        [this](uint8_t n, uint32_t d) { return PostOverloadMessage(n, d); }, true);

    std::string version = FileVersionText(ProgramFileVersion());
    VersionText = ShortVersionText(version);
    display_.Caption = std::string(ApplicationTitle) + " " + VersionText;

    platform::files::setCurrentDirectory(folderArg_);
    if (!DetectConsole(folderArg_, globals_)) app::DisplayMessage(ConsoleNotFoundText);
    else VersionText = CutText(VersionText + " on " + globals_.ConsoleName, 31);

    log_->AppendLogLine("");
    log_->WriteLog("starting Ravelin version " + VersionText);

    engine_->Info.EngineFileSet = 1;
    SetConsolePanelTypes();
    HideUpdate();

    Racks.Clear();
    Racks.AddOstraRacks();

    if (globals_.ConsoleModel != 0) LoadINIFile(globals_);
    surface_->LoadConfig(platform::IniFile(platform::files::join(globals_.FolderOnDisk, "Serial.ini")));

    InitialiseGrid();
    OpenHardware();
    Changed();
}

void TMainForm::SetConsolePanelTypes() {
    static const struct {
        uint8_t code;
        int types[6];
    } kDefaults[] = {
        {14, {0, 2, 2, 1, -1, -1}},        {21, {0, 2, 2, 1, -1, -1}},
        {15, {8, 9, 10, 145, 129, -1}},    {16, {-1, 17, 16, 146, -1, -1}},
        {18, {-1, 32, 148, -1, -1, -1}},   {19, {40, 41, 41, 149, 161, 133}},
        {22, {-1, 64, 65, 150, 134, -1}},
    };
    for (int p = 0; p < 8; ++p) surface_->SetPanelType(p, -1);
    const int* types = nullptr;
    static const int kr40[6] = {24, 25, 26, 147, 132, -1};
    static const int kr40Pod[6] = {27, -1, -1, -1, 130, -1};
    if (globals_.ConsoleModel == 17) {
        types = platform::files::exists(platform::files::join(globals_.FolderOnDisk, "KR40worksurface.hex"))
                    ? kr40 : kr40Pod;
    }
    for (const auto& d : kDefaults)
        if (d.code == globals_.ConsoleModel) types = d.types;
    if (!types) return;
    for (int p = 0; p < 6; ++p) surface_->SetPanelType(p, static_cast<int16_t>(types[p]));
}

void TMainForm::OpenEngineLinks() {
    if (globals_.EngineComPort != 0 && services_.newHost) {
        // The link's errors come every second on a dead port: they show on the
        // message line without counting as progress of a running update.
        host::HostServices hs{services_.openComPort, [this](const std::string& t) { SetMessagePanel(" " + t); },
                              [this](const std::string& t) { log_->WriteLog(t); }};
        host_ = services_.newHost(globals_.EngineComPort, globals_.ConsoleName, std::move(hs));
    }
    if (!globals_.EngineIPAddress.empty()) engine_->OpenEngineLinks(globals_.EngineIPAddress);
    engine_->ResetEngineLinkState();
    if (!globals_.EngineIPAddress.empty() && services_.newOstraSlot) {
        cards::OstraSlotServices cardServices;
        cardServices.engineAddress = globals_.EngineIPAddress;
        cardServices.link.writeLog = [this](const std::string& line) { log_->WriteLog(line); };
        cardServices.racks = ostraRacks_.get();
        for (int i = 0; i < 2; ++i) {
            ostra_[i] = services_.newOstraSlot(i, cardServices);
            if (!ostra_[i]) continue;
            ostra_[i]->OnMADIMessageReceived = [this](int nRack, int nOstraSlot, const std::string& m) {
                ReceiveOstraMADIMessage(nRack, nOstraSlot, m);
            };
            ostra_[i]->OnRackDeviceDataReceived = [this](int nRack, const cards::tIODeviceData& d) {
                ReceiveOstraRackDeviceData(nRack, d);
            };
        }
    }
}

void TMainForm::CloseEngineLinks() {
    engine_->CloseEngineLinks();
    host_.reset();
    for (auto& s : ostra_) s.reset();
}

void TMainForm::OpenHardware() {
    OpenEngineLinks();
    surface_->Start_ISAS(true);
    engine_->InitialiseEngineComms();
    engine_->SendStartupRequests();
    hardwareOpen_ = true;
}

void TMainForm::CloseHardware() {
    // An update left running (the program shuts down) goes before the
    // devices it holds.
    surfaceUpdate_ = nullptr;
    ostraTivaUpdate_ = nullptr;
    running_.reset();
    surface_->CloseSurfaceLink();
    engine_->SendSystemMessage(22, 0);
    CloseEngineLinks();
    hardwareOpen_ = false;
}

void TMainForm::StartTimers() {
    if (!services_.loop || refreshTimer_) return;
    refreshTimer_ = services_.loop->addTimer(500, [this] { RefreshTimerEvent(); });
    commsTimer_ = services_.loop->addTimer(10, [this] { CommsTimerEvent(); });
}

void TMainForm::StopTimers() {
    if (!services_.loop) return;
    if (surfacePause_) surfacePause_->cancel();
    if (refreshTimer_) services_.loop->removeTimer(refreshTimer_);
    if (commsTimer_) services_.loop->removeTimer(commsTimer_);
    refreshTimer_ = commsTimer_ = 0;
}

bool TMainForm::FormCloseQuery() {
    if (UpdateBusy()) return false;
    if (UpdatedRows[1] || UpdatedRows[2] || UpdatedRows[3]) {
        // New engine code runs only after a restart; the engine's confirmation closes the window.
        HideUpdate();
        SetMessagePanel(" Please wait - restarting engine...");
        if (view_) view_->RepaintNow();
        engine_->RestartEngine();
        UpdatedRows.reset();
        return false;
    }
    return true;
}

void TMainForm::FormClose() {
    if (closed_) return;
    StopTimers();
    CloseHardware();
    log_->WriteLog("closing");
    closed_ = true;
}

void TMainForm::CommsTimerEvent() {
    try {
        if (running_) {
            running_->CommsTick();
            ReleaseEndedUpdate();
        }
        if (!surfacePause_ || !surfacePause_->pending()) ReadSurfaceMessages();
        // The host board is serviced with the engine links; without an engine
        // link the window does it.
        hostServiced_ = false;
        engine_->Service();
        if (host_ && !hostServiced_) host_->Service();
        for (auto& s : ostra_)
            if (s) s->Service();
    } catch (const std::exception& e) {
        LogException(e.what());
    }
}

void TMainForm::ReadSurfaceMessages() {
    if (surfaceUpdate_ && surfaceUpdate_->ReadsLineItself()) return;
    int slot = 0;
    std::string body;
    if (!surface_->ReceiveAnySurfaceMessage(slot, body, 255)) return;
    if (surfaceUpdate_) {
        surfaceUpdate_->SurfaceMessage(slot, body);
        ReleaseEndedUpdate();
    }
    // The panels are given 20 ms after each message, as the console software
    // gives them, before the next one is taken. The pause is a timer, not a
    // sleep: the window goes on answering meanwhile.
    if (!surfacePause_) return;
    surfacePause_->arm(20, [this] {
        try {
            ReadSurfaceMessages();
        } catch (const std::exception& e) {
            LogException(e.what());
        }
    });
}

void TMainForm::ShowEngIn(const std::string& text) {
    display_.EngIn = text;
    Changed();
}

void TMainForm::ShowEngOut(const std::string& text) {
    display_.EngOut = text;
    Changed();
}

void TMainForm::ShowEngineSerial(bool visible) {
    display_.EngineSerialVisible = visible;
    Changed();
}

void TMainForm::SetEngineSerialText(const std::string& text) {
    display_.EngineSerial = text;
    Changed();
}

void TMainForm::SetRunningCell(int row, const std::string& text) { grid_.SetCell(ColRunning, row, text); }

void TMainForm::CloseWindow() {
    if (view_) view_->CloseWindow();
}

void TMainForm::ServiceCorvaneHost() {
    hostServiced_ = true;
    if (host_) host_->Service();
}

bool TMainForm::SendToOstraSlot(engine::tEngineHeader header, const uint8_t* data, int length) {
    return cards::SendToOstraSlot(ostra_, header, data, length);
}

void TMainForm::ReceiveOstraMADIMessage(int nRack, int nOstraSlot, const std::string& MADIMessage) {
    engine::tEngineMessage e;
    if (nRack > 0 && cards::MADIToEngineMessage(MADIMessage, nOstraSlot, e)) engine_->ProcessEngineMessage(e);
}

void TMainForm::ReceiveOstraRackDeviceData(int nRack, const cards::tIODeviceData& DeviceData) {
    if (nRack < 1 || nRack >= engine::RackCount) return;
    engine::tEngineMessage e = cards::RackDeviceDataMessage(Racks.Port(nRack), DeviceData);
    engine_->ProcessEngineMessage(e);
}

bool TMainForm::SendLocalIONote(uint8_t value) {
    const uint8_t port = surface_->LocalIOPort;
    if (port == 0) return false;
    return surface_->SendSurfaceMessage(port, std::string{static_cast<char>(surface::kSurfaceEngineReset),
                                                          static_cast<char>(value)});
}

void TMainForm::LogException(const std::string& what) {
    log_->WriteLog("*** Exception: " + what);
    if (view_) view_->ShowErrorBox(what);
}

bool TMainForm::PostOverloadMessage(uint8_t number, uint32_t detail) {
    if (!services_.loop) return false;
    return services_.loop->post([this, number, detail] { umOverloadHandler(number, detail); });
}

void TMainForm::umOverloadHandler(uint32_t wParam, uint32_t lParam) {
    std::string text = OverloadText(static_cast<uint16_t>(wParam & 0xFFFF), lParam);
    DisplayStatus(text);
    log_->WriteLog(text);
    surface::ClearOverload(static_cast<uint8_t>(wParam & 0xFF));
}

} // namespace ravelin::app
