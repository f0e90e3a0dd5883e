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
#include "app/update_control.h"
#include "cards/ostra_slot.h"
#include "engine/engine_link.h"
#include "engine/rack_table.h"
#include "host/corvane_host.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/timer_thread.h"
#include "surface/com_stream.h"

namespace ravelin::surface {
class SurfaceLink;
class HexFileUpdate;
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
    // The links of later parts of the console; null ones stay closed.
    std::function<std::unique_ptr<engine::EngineLink>()> newEngineLink;
    std::function<std::unique_ptr<host::CorvaneHost>(int comPort)> newHost;
    std::function<std::unique_ptr<cards::tOstraSlot>(int slot)> newOstraSlot;
};

inline constexpr int umOverload = 1024 + 273;

// The overload notice as the user reads it (CR LF breaks the line).
std::string OverloadText(uint16_t code, uint32_t detail);

class TMainForm : public UpdateControl {
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
    void StartUpdate(int row);
    void ProgressUpdate() override;
    void FinishUpdate() override;
    void CancelUpdate() override;
    void EndUpdate();
    void HideUpdate();
    const std::string& MessagePanelText() const override { return display_.Message; }
    void SetMessagePanel(const std::string& text) override;
    void SetProgressLabel(const std::string& text) override;
    void DisplayMessage(const std::string& text);
    void DisplayStatus(const std::string& text);
    // Window message 1297.
    void umOverloadHandler(uint32_t wParam, uint32_t lParam);
    // Posts an overload notice to the window, as the queues' owners do.
    bool PostOverloadMessage(uint8_t number, uint32_t detail);
    // An exception nobody caught.
    void LogException(const std::string& what);

    // ---- inventory ----
    void InitialiseGrid();
    void RefreshRow(int row);
    void RefreshRacks();
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
    std::array<int32_t, 50> RackRow{};   // entries 1..49
    std::array<std::string, 50> RackNames;   // as the engine reports them
    // Characters 6 to 9 of the rack's name: what tells racks of a loop apart.
    std::string RackNameSuffix(int i) const {
        const std::string& n = RackNames[i];
        return n.size() > 5 ? n.substr(5, 4) : "";
    }
    surface::SurfaceLink& Surface() { return *surface_; }
    engine::EngineLink& Engine() { return *engine_; }
    host::CorvaneHost* Host() const { return host_.get(); }
    cards::tOstraSlot* OstraSlot(int i) const { return (i == 0 || i == 1) ? ostra_[i].get() : nullptr; }
    LogFile& Log() { return *log_; }

private:
    void OpenHardware();
    void CloseHardware();
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
    std::unique_ptr<surface::HexFileUpdate> hex_;
    std::unique_ptr<engine::EngineLink> engine_;
    std::unique_ptr<host::CorvaneHost> host_;
    std::array<std::unique_ptr<cards::tOstraSlot>, 2> ostra_;
    int refreshTimer_ = 0;
    int commsTimer_ = 0;
    bool hardwareOpen_ = false;
    bool closed_ = false;
};

} // namespace ravelin::app
