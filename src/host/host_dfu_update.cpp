#include "host/host_dfu_update.h"

#include <cstdio>

#include "platform/files.h"

namespace ravelin::host {

using namespace ravelin::platform;

HostDfuUpdate::HostDfuUpdate(UpdateControl& control, EventLoop& loop, DfuLibrary& library, HostDfuLinks links,
                             std::string programFolder, std::string fileName)
    : control_(control), loop_(loop), library_(library), links_(std::move(links)),
      folder_(std::move(programFolder)), Filename(std::move(fileName)),
      alive_(std::make_shared<HostDfuUpdate*>(this)) {}

HostDfuUpdate::~HostDfuUpdate() {
    alive_.reset();
    for (int id : timers_) loop_.removeTimer(id);
    if (searchTimer_) loop_.removeTimer(searchTimer_);
}

int HostDfuUpdate::after(int ms, std::function<void()> task) {
    auto id = std::make_shared<int>(0);
    *id = loop_.addTimer(ms, [this, id, task = std::move(task)] {
        loop_.removeTimer(*id);
        std::erase(timers_, *id);
        task();
    });
    timers_.push_back(*id);
    return *id;
}

void HostDfuUpdate::Start() {
    control_.SetDownloadFileSize(100);
    if (links_.sendBoot) links_.sendBoot();
    // The board needs a moment to leave for its boot loader; the links to the
    // engine go with it.
    after(kBootWaitMs, [this] {
        if (links_.closeLinks) links_.closeLinks();
        linksClosed_ = true;
        FormCreate();
    });
}

void HostDfuUpdate::FormCreate() {
    if (library_.Init() != DFU_OK) {
        SetMessage("DFU library not initialised");
        Finished(false);
        return;
    }
    searchTimer_ = loop_.addTimer(kSearchMs, [this] { TimerEvent(); });
}

void HostDfuUpdate::stopSearch() {
    if (searchTimer_) loop_.removeTimer(searchTimer_);
    searchTimer_ = 0;
}

void HostDfuUpdate::SetMessage(const std::string& text) {
    view_.message = text;
    if (Logging) control_.SetMessagePanel(" " + text);
    changed();
}

std::string HostDfuUpdate::shortName() const {
    const auto slash = Filename.find_last_of("/\\");
    return slash == std::string::npos ? Filename : Filename.substr(slash + 1);
}

void HostDfuUpdate::TimerEvent() {
    if (!DeviceFound() || !FileLoaded() || !FileCompatible()) return;
    stopSearch();
    if (ConfirmRequired) {
        view_.confirmEnabled = true;
        SetMessage("Please confirm you want to update this device");
    } else {
        ConfirmButtonClick();
    }
}

bool HostDfuUpdate::DeviceFound() {
    DFUindex = -1;
    view_.details.clear();
    bool denied = false;
    for (int index = 0;; ++index) {
        DfuDeviceInfo info;
        DfuHandle handle = 0;
        int rc = library_.DeviceOpen(index, info, handle);
        if (rc != DFU_OK) {
            denied = rc == DFU_ERR_ACCESS;
            break;
        }
        if (info.idVendor == kDfuVendorId && info.idProduct == kDfuProductId) {
            std::string product, manufacturer, serial;
            library_.DeviceASCIIStringGet(handle, info.iProduct, product);
            library_.DeviceASCIIStringGet(handle, info.iManufacturer, manufacturer);
            library_.DeviceASCIIStringGet(handle, info.iSerialNumber, serial);
            char vendor[64];
            std::snprintf(vendor, sizeof vendor, "Device found:   Vendor ID: 0x%.4X", info.idVendor);
            view_.details.push_back(vendor);
            view_.details.push_back("Device Name:   " + product);
            view_.details.push_back("Manufacturer:  " + manufacturer);
            view_.details.push_back("Serial Number:  " + serial);
            if (DFUindex == -1) DFUindex = index;
            else SetMessage("More than one device found");
        }
        if (library_.DeviceClose(handle, false) != DFU_OK) break;
    }
    if (DFUindex == -1) {
        // A device the system will not let us open would otherwise look absent.
        SetMessage(denied ? std::string("No permission to open the USB DFU device: install ") + kDfuUdevRule
                          : "No USB DFU devices found");
        return false;
    }
    changed();
    return true;
}

bool HostDfuUpdate::FileLoaded() {
    const std::string path = files::join(folder_, Filename);
    auto bytes = files::exists(path) ? files::readAll(path) : std::nullopt;
    if (!bytes) {
        SetMessage("File " + shortName() + " not found in local folder");
        return false;
    }
    DownloadBuffer = std::move(*bytes);
    return true;
}

bool HostDfuUpdate::FileCompatible() {
    DfuDeviceInfo info;
    DfuHandle handle = 0;
    bool compatible = false;
    if (library_.DeviceOpen(DFUindex, info, handle) == DFU_OK) {
        compatible = library_.IsValidImage(handle, DownloadBuffer) == DFU_OK;
        library_.DeviceClose(handle, false);
    }
    if (!compatible) SetMessage("File " + shortName() + " is not compatible with this device");
    return compatible;
}

void HostDfuUpdate::ConfirmButtonClick() {
    if (ending_ || DFUindex < 0) return;
    view_.confirmEnabled = false;
    SetMessage("Please wait - downloading firmware");
    view_.position = 0;
    view_.progressVisible = true;
    changed();
    UpdateFirmware();
}

void HostDfuUpdate::UpdateFirmware() {
    DfuDeviceInfo info;
    int rc = library_.DeviceOpen(DFUindex, info, DFUhandle);
    if (rc != DFU_OK) {
        SetMessage("Open error " + std::to_string(rc));
        Finished(false);
        return;
    }
    std::weak_ptr<HostDfuUpdate*> alive = alive_;
    DownloadResult = library_.Download(DFUhandle, DownloadBuffer, true, false, [alive](int message, uint32_t w) {
        if (auto self = alive.lock()) (*self)->Notify(message, w);
    });
    library_.DeviceClose(DFUhandle, DownloadResult == DFU_OK);
    if (DownloadResult != DFU_OK) {
        // Nothing was started, so nothing will report: the update ends here.
        SetMessage("Download error " + std::to_string(DownloadResult));
        Finished(false);
    }
}

void HostDfuUpdate::Progress() {
    const float fraction = view_.maximum ? float(view_.position) / float(view_.maximum) : 0.0f;
    control_.StepFraction(fraction);
    control_.SetMessagePanel(" " + view_.message);
    changed();
}

void HostDfuUpdate::Notify(int message, uint32_t w) {
    if (ending_) return;
    switch (message) {
    case kDfuMsgDownload:
        view_.position = 0;
        ProgressOffset = 0;
        view_.maximum = 2 * w;
        changed();
        break;
    case kDfuMsgVerify:
        SetMessage("Please wait - verifying firmware");
        ProgressOffset = view_.position;
        view_.maximum = ProgressOffset + w;
        view_.position = ProgressOffset;
        Progress();
        break;
    case kDfuMsgUpload:
    case kDfuMsgErase:
        SetMessage(message == kDfuMsgUpload ? "Please wait - reading firmware" : "Please wait - erasing flash");
        view_.position = 0;
        ProgressOffset = 0;
        view_.maximum = w;
        control_.StepFraction(0.0f);
        control_.SetMessagePanel(" " + view_.message);
        changed();
        break;
    case kDfuMsgProgress:
        view_.position = std::min(ProgressOffset + w, view_.maximum);
        Progress();
        break;
    case kDfuMsgError:
        SetMessage(view_.message + " - error");
        Progress();
        Finished(false);
        break;
    case kDfuMsgComplete: {
        const bool verified = ProgressOffset != 0;
        if (verified)
            SetMessage(DownloadResult != DFU_OK ? "Download error " + std::to_string(DownloadResult)
                                                : "Device updated successfully");
        else
            SetMessage(view_.message + " - completed");
        Progress();
        view_.cancelCaption = "Close";
        view_.confirmVisible = false;
        changed();
        if (verified) Finished(DownloadResult == DFU_OK);
        break;
    }
    default:
        break;
    }
}

void HostDfuUpdate::CancelButtonClick() {
    if (ending_) return;
    SetMessage("Please wait - cancelling");
    CancelDFU();
    Finished(false);
}

void HostDfuUpdate::CancelDFU() {
    stopSearch();
    if (DFUindex < 0) return;
    DfuDeviceInfo info;
    DfuHandle handle = 0;
    if (library_.DeviceOpen(DFUindex, info, handle) == DFU_OK) library_.DeviceClose(handle, true);
}

void HostDfuUpdate::Finished(bool ok) {
    if (ending_) return;
    ending_ = true;
    stopSearch();
    after(kFinishWaitMs + kRestartWaitMs, [this, ok] {
        if (linksClosed_ && links_.reopenLinks) links_.reopenLinks();
        linksClosed_ = false;
        control_.SetMessagePanel(" " + view_.message);
        if (ok) control_.FinishUpdate();
        else control_.CancelUpdate("");
    });
}

void HostDfuUpdate::NoAnswer(UpdateControl& control) {
    // The watchdog ends an update that stopped reporting; the links it closed
    // must not stay closed.
    if (ending_) return;
    ending_ = true;
    stopSearch();
    for (int id : timers_) loop_.removeTimer(id);
    timers_.clear();
    if (linksClosed_ && links_.reopenLinks) links_.reopenLinks();
    linksClosed_ = false;
    control.CancelUpdate("no response");
}

} // namespace ravelin::host
