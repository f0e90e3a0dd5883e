#pragma once
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/device_table.h"
#include "app/globals.h"
#include "app/log_file.h"
#include "cards/ostra_slot.h"
#include "engine/engine_link.h"
#include "engine/engine_window.h"
#include "engine/rack_table.h"
#include "host/corvane_host.h"
#include "platform/clock.h"
#include "platform/dfu_library.h"
#include "platform/event_loop.h"
#include "platform/one_shot.h"
#include "platform/timer_thread.h"
#include "platform/update_control.h"
#include "surface/com_stream.h"

namespace ravelin::surface {
class SurfaceLink;
class SurfaceUpdate;
}
namespace ravelin::cards {
class OstraTivaUpdate;
}

namespace ravelin::app {

// What the window shows beside the grid. Front ends (the Qt window, the
// command line) read it; only the main window writes it.
struct UpdateDisplay {
    std::string Caption;
    bool UpdatingVisible = false;   // "updating"
    std::string Filename;           // file being updated
    std::string Device;             // target
    std::string Progress;           // packet count or final result
    std::string Status;             // status line
    std::string Message;            // message line
    bool MetersVisible = false;     // both meters and the arrow
    int SourceMeter = 0;            // 0..999: what is left to send
    int DestMeter = 0;              // 0..999: what has been delivered
    bool CloseEnabled = true;
    bool BusyCursor = false;
    int CurrentRow = 4;             // the grid's selected cell
    int CurrentCol = 0;
    std::string FlashProgress;      // rack flash bars, "" when unused
    std::string EngIn, EngOut;      // the last engine message received and sent
    bool EngineSerialVisible = false;
    std::string EngineSerial;       // the engine's serial number
};

// The front end's side: told when something changed, asked to repaint now,
// to close, or to show an error box.
class MainFormView {
public:
    virtual ~MainFormView() = default;
    virtual void RowChanged(int row) {}
    virtual void DisplayChanged() {}
    virtual void RepaintNow() {}
    virtual void CloseWindow() {}
    virtual void ShowErrorBox(const std::string& text) {}
};

// What the main window is built on: the loop of the user-interface thread,
// the clock, the threads and ports it may open. Tests pass virtual ones.
struct MainFormServices {
    platform::EventLoop* loop = nullptr;
    platform::Clock* clock = nullptr;
    std::function<std::unique_ptr<platform::TimerThread>()> newTimerThread;
    surface::ComPortOpener openComPort;
    std::function<platform::LocalDateTime()> now;
    // The links of later parts of the console; null ones stay closed. The
    // engine link works for the main window (its update control and its
    // window side) on the main window's rack table.
    std::function<std::unique_ptr<engine::EngineLink>(platform::UpdateControl&, engine::EngineWindow&,
                                                      engine::RackTable&)>
        newEngineLink;
    // The host board on port `comPort`, named after the console model ("" when
    // none was found); `services` carry the main window's port opener, its
    // message line (a raw write that is no progress) and its log.
    std::function<std::unique_ptr<host::CorvaneHost>(int comPort, const std::string& consoleName,
                                                     host::HostServices services)>
        newHost;
    // The USB DFU library, made on first use and kept; null: none.
    std::function<platform::DfuLibrary*()> dfuLibrary;
    // A card slot; the main window fills in the engine's address and the log,
    // the factory the socket layer and the clock.
    std::function<std::unique_ptr<cards::tOstraSlot>(int slot, const cards::OstraSlotServices& services)> newOstraSlot;
};

inline constexpr int umOverload = 1024 + 273;

// The overload notice as the user reads it (CR LF breaks the line).
std::string OverloadText(uint16_t code, uint32_t detail);

class TMainForm : public platform::UpdateControl, public engine::EngineWindow {
public:
    TMainForm(MainFormServices services, std::string programFolder);
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    void SetView(MainFormView* view) { view_ = view; }

    // Start-up, in the order the window is made: console, log, table, links.
    void FormCreate();
    // The two timers of the window, on the loop.
    void StartTimers();
    void StopTimers();
    // True when the window may close now.
    bool FormCloseQuery();
    // Closes the links and logs "closing".
    void FormClose();
    bool Closed() const { return closed_; }

    // A click on a cell (any button).
    void GridMouseDown(int col, int row);
    bool GridSelectCell(int col, int row);

    void RefreshTimerEvent();
    void CommsTimerEvent();

    // ---- update control ----
    // The one place that turns a row into an update path.
    void StartUpdate(int row);
    void EndUpdate();
    void HideUpdate();
    // The update's state. Only the operations below change it, so the order
    // in which the counters move lives here alone.
    int32_t UpdatingRow() const override { return updatingRow_; }
    int32_t PacketCount() const override { return packetCount_; }
    int32_t DownloadProgress() const override { return downloadProgress_; }
    int32_t DownloadFileSize() const { return downloadFileSize_; }
    int32_t UpdateTimeoutCount() const { return updateTimeoutCount_; }
    int32_t RefreshCount() const { return refreshCount_; }
    // How the last update ended: its row (0 before any) and whether it succeeded.
    struct UpdateResult {
        int32_t row = 0;
        bool succeeded = false;
    };
    UpdateResult LastResult() const { return lastResult_; }
    // True while an update runs or its path still has steps to take after it ended.
    bool UpdateBusy() const { return updatingRow_ != 0 || running_ != nullptr; }
    void SetDownloadFileSize(int32_t total) override { downloadFileSize_ = total; }
    void StepProgress(int32_t amount) override;
    void StepFraction(float fraction) override;
    void ProgressUpdate() override;
    void SetWatchdog(int32_t ticks) override { updateTimeoutCount_ = ticks; }
    void FinishUpdate() override;
    void CancelUpdate(const std::string& progressText) override;
    void CancelUpdate() { CancelUpdate(""); }
    const std::string& MessagePanelText() const override { return display_.Message; }
    void SetMessagePanel(const std::string& text) override;
    void SetProgressLabel(const std::string& text);
    void DisplayMessage(const std::string& text) override;
    // A link's error line: shown like a message, but no sign of progress.
    void ShowLinkError(const std::string& text);
    void DisplayStatus(const std::string& text) override;
    void WriteLog(const std::string& text) override;
    // Window message 1297.
    void umOverloadHandler(uint32_t wParam, uint32_t lParam);
    // Posts an overload notice to the window, as the queues' owners do.
    bool PostOverloadMessage(uint8_t number, uint32_t detail);
    // An exception nobody caught.
    void LogException(const std::string& what);

    // ---- inventory ----
    void InitialiseGrid();
    void RefreshRow(int row) override;
    void RefreshRacks() override;
    bool RackShown(int i) const;
    bool UpdateValid(int row) const;
    bool UpdateRequired(int row) const;
    void SetLocalIOTiva(int port);
    std::string SurfaceFileName(int port);
    int SurfacePanelTypeOf(int port) const;
    // The rack i whose code row (or FPGA row) is `row`; 0 when none.
    int RackOfRow(int row) const;

    // ---- state ----
    const DeviceTable& Grid() const { return grid_; }
    const UpdateDisplay& Display() const { return display_; }
    const Globals& Config() const { return globals_; }
    std::string VersionText;   // "5.4 on KR60"
    std::bitset<256> UpdatedRows;
    bool LocalIOIsTiva = false;
    engine::RackTable Racks;
    // The first of each rack's two rows (entries 1..49); 0 before it has rows.
    // A rack no longer shown keeps its entry, but owns no row.
    std::array<int32_t, 50> RackRows{};
    // Characters 6 to 9 of the rack's name: what tells racks of a loop apart.
    std::string RackNameSuffix(int i) const;

    // ---- the engine link's side of the window ----
    void ShowEngIn(const std::string& text) override;
    void ShowEngOut(const std::string& text) override;
    void ShowEngineSerial(bool visible) override;
    void SetEngineSerialText(const std::string& text) override;
    int RackRow(int rack) const override;
    void SetRunningCell(int row, const std::string& text) override;
    void CloseWindow() override;
    void ServiceCorvaneHost() override;
    void ResetEngineViaHost() override {
        if (host_) host_->ResetEngine();
    }
    void UseTcpForEngine() override {
        if (host_) host_->SetUDPorTCP(true);
    }
    bool SendLocalIONote(uint8_t value) override;
    bool SendToOstraSlot(engine::tEngineHeader header, const uint8_t* data, int length) override;
    // The card slots' events: a MADI control message from the rack behind a
    // card, and the device data the card collected of it, both handled as
    // engine messages.
    void ReceiveOstraMADIMessage(int nRack, int nOstraSlot, const std::string& MADIMessage);
    void ReceiveOstraRackDeviceData(int nRack, const cards::tIODeviceData& DeviceData);
    surface::SurfaceLink& Surface() { return *surface_; }
    engine::EngineLink& Engine() { return *engine_; }
    host::CorvaneHost* Host() const { return host_.get(); }
    cards::tOstraSlot* OstraSlot(int i) const { return (i == 0 || i == 1) ? ostra_[i].get() : nullptr; }
    LogFile& Log() { return *log_; }

private:
    // Frees the running update once it has ended and has nothing left to do.
    void ReleaseEndedUpdate();
    // Takes one message from the surface link, then pauses 20 ms before the next.
    void ReadSurfaceMessages();
    void OpenHardware();
    void CloseHardware();
    // The links to the engine: the host board, the engine link and the card
    // slots. The host updates close and reopen them.
    void OpenEngineLinks();
    void CloseEngineLinks();
    // The update paths of the host rows (5, 6 and 7); null when no host link exists.
    std::unique_ptr<platform::RunningUpdate> NewHostUpdate(int row);
    void SetConsolePanelTypes();
    void Changed();
    std::string SurfaceFileNameOfType(int port, int type);

    MainFormServices services_;
    std::string folderArg_;
    Globals globals_;
    std::unique_ptr<LogFile> log_;
    DeviceTable grid_;
    UpdateDisplay display_;
    MainFormView* view_ = nullptr;
    std::unique_ptr<surface::SurfaceLink> surface_;
    // The update in progress, and its side that takes the surface link's
    // messages (the same object, or null for paths over other links).
    std::unique_ptr<platform::RunningUpdate> running_;
    surface::SurfaceUpdate* surfaceUpdate_ = nullptr;
    // The running card firmware update, for the watchdog's back-on-line step.
    cards::OstraTivaUpdate* ostraTivaUpdate_ = nullptr;
    int32_t updatingRow_ = 0;
    int32_t packetCount_ = 0;
    int32_t updateTimeoutCount_ = 0;   // refresh ticks left before the update counts as stalled
    int32_t refreshCount_ = 0;         // refresh ticks left before the next 5-second step
    int32_t downloadFileSize_ = 0;     // bytes, or 100 for a path that reports a fraction
    int32_t downloadProgress_ = 0;
    UpdateResult lastResult_;
    bool hostServiced_ = false;
    std::unique_ptr<platform::OneShot> surfacePause_;  // the pause after each surface message   // the engine link serviced the host board this tick
    std::unique_ptr<engine::EngineLink> engine_;
    std::unique_ptr<host::CorvaneHost> host_;
    std::unique_ptr<cards::OstraRackAccess> ostraRacks_;   // outlives the slots that use it
    std::array<std::unique_ptr<cards::tOstraSlot>, 2> ostra_;
    int refreshTimer_ = 0;
    int commsTimer_ = 0;
    bool hardwareOpen_ = false;
    bool closed_ = false;
};

} // namespace ravelin::app
