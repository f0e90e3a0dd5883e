#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dfu_library.h"
#include "platform/event_loop.h"
#include "platform/update_control.h"

// The host board's own microcontroller firmware: the board is told to boot
// into its USB boot loader, the links to the engine close, and the image
// "CorvaneTiva.dfu" goes over USB DFU. The firmware-update window's logic
// lives here: the search once a second, the confirmation, the phases and
// their progress, cancelling, and the texts it shows.
namespace ravelin::host {

constexpr const char* kHostDfuFile = "CorvaneTiva.dfu";

// What the update needs of the links to the engine.
struct HostDfuLinks {
    std::function<void()> sendBoot;     // "Boot" to the host board, when a host link exists
    std::function<void()> closeLinks;   // engine links and card slots closed
    std::function<void()> reopenLinks;  // engine links and card slots opened again
};

// What the window shows; the presentation draws it after every change.
struct DfuFormView {
    std::string message;                // the message label
    std::vector<std::string> details;   // the details memo: the device found
    uint32_t position = 0;
    uint32_t maximum = 100;
    bool progressVisible = false;
    bool confirmEnabled = false;
    bool confirmVisible = true;
    std::string cancelCaption = "Cancel";
};

class HostDfuUpdate final : public platform::RunningUpdate {
public:
    static constexpr int kSearchMs = 1000;
    static constexpr int kBootWaitMs = 1000;     // the board leaves for its boot loader
    static constexpr int kFinishWaitMs = 1000;
    static constexpr int kRestartWaitMs = 5000;  // the board starts its new firmware

    // `library` and `loop` outlive the update. The file is looked up in
    // `programFolder`.
    HostDfuUpdate(platform::UpdateControl& control, platform::EventLoop& loop, platform::DfuLibrary& library,
                  HostDfuLinks links, std::string programFolder, std::string fileName = kHostDfuFile);
    ~HostDfuUpdate() override;

    void Start() override;
    void NoAnswer(platform::UpdateControl& control) override;

    // The window's buttons.
    void ConfirmButtonClick();
    void CancelButtonClick();

    bool ConfirmRequired = false;
    bool Logging = false;
    const DfuFormView& view() const { return view_; }
    std::function<void()> onViewChanged;
    bool ended() const { return ending_; }

    // The library's notifications (message numbers 1536 to 1542).
    void Notify(int message, uint32_t w);

private:
    void FormCreate();
    void TimerEvent();
    bool DeviceFound();
    bool FileLoaded();
    bool FileCompatible();
    void UpdateFirmware();
    void CancelDFU();
    void SetMessage(const std::string& text);
    void Progress();
    // Ends the update once: after the board has had time to restart, the links
    // are opened again and the update is finished or cancelled.
    void Finished(bool ok);
    int after(int ms, std::function<void()> task);
    void stopSearch();
    std::string shortName() const;
    void changed() {
        if (onViewChanged) onViewChanged();
    }

    platform::UpdateControl& control_;
    platform::EventLoop& loop_;
    platform::DfuLibrary& library_;
    HostDfuLinks links_;
    std::string folder_;
    std::string Filename;

    DfuFormView view_;
    int DFUindex = -1;
    platform::DfuHandle DFUhandle = 0;
    std::vector<uint8_t> DownloadBuffer;
    int DownloadResult = 0;
    uint32_t ProgressOffset = 0;
    bool linksClosed_ = false;
    bool ending_ = false;
    int searchTimer_ = 0;
    std::vector<int> timers_;
    // Notifications that arrive after the update has ended find this gone.
    std::shared_ptr<HostDfuUpdate*> alive_;
};

} // namespace ravelin::host
