#include "host/host_file_update.h"

#include "platform/files.h"

namespace ravelin::host {

std::string GetFPGAFilename(const std::string& hostName) {
    return hostName == "Corvane" || hostName == "KR60" ? "corvane_interface_fpga.bit" : "ROD32FPGA.bit";
}

HostFileUpdate::HostFileUpdate(platform::UpdateControl& control, platform::EventLoop& loop, HostFileLinks links,
                               HostImage image, std::string programFolder)
    : control_(control), links_(std::move(links)), image_(image), folder_(std::move(programFolder)),
      step_(loop), alive_(std::make_shared<HostFileUpdate*>(this)) {}

HostFileUpdate::~HostFileUpdate() { alive_.reset(); }

uint8_t HostFileUpdate::UpdateHeader() const {
    return image_ == HostImage::FPGA ? kHostUpdateHostFPGA : kHostUpdateUSBAudio;
}

std::string HostFileUpdate::Path() const {
    CorvaneHost* host = links_.host ? links_.host() : nullptr;
    const std::string name =
        image_ == HostImage::FPGA ? GetFPGAFilename(host ? host->HostName : "Corvane") : kHostUSBAudioFile;
    return platform::files::join(folder_, name);
}

void HostFileUpdate::Start() {
    CorvaneHost* host = links_.host ? links_.host() : nullptr;
    if (!host || updater_) return;
    const std::string path = Path();
    auto file = platform::files::readAll(path);
    if (!file) {
        // Nothing more happens: the watchdog ends the update with "no response".
        const std::string what = image_ == HostImage::FPGA ? "FPGA" : "USB Audio";
        control_.DisplayMessage(("Cannot Update " + what + ": file " + path + " not found").substr(0, 255));
        return;
    }
    control_.SetDownloadFileSize(100);
    std::weak_ptr<HostFileUpdate*> alive = alive_;
    updater_ = std::make_unique<mcu::tTivaFileUpdater>(
        [this](const std::string& m) {
            if (CorvaneHost* h = links_.host ? links_.host() : nullptr) h->SendMessage(m);
        },
        UpdateHeader(), std::move(*file), [this](const std::string& t) { control_.DisplayMessage(t); });
    updater_->OnUpdatePacket = [this](float p, uint8_t e) { Host_ProgressEvent(p, e); };
    updater_->OnUpdateFinished = [this](float p, uint8_t e) { FileUpdaterFinished(p, e); };
    // The board's erase takes a while; its reports keep the watchdog quiet
    // without counting as packets.
    updater_->OnEraseProgress = [this](float, uint8_t) {
        if (!finishing_) control_.ProgressUpdate();
    };
    host->SetFileUpdateReceiver([alive](const std::string& message) {
        if (auto self = alive.lock()) {
            if ((*self)->updater_) (*self)->updater_->ReceiveMessage(message);
        }
    });
    updater_->Start();
    if (!finishing_) Host_ProgressEvent(0.0f, mcu::tu_Ack);
}

void HostFileUpdate::Host_ProgressEvent(float Progress, uint8_t) {
    if (finishing_) return;
    // A raw write: the step below is what counts as progress.
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" updating...");
    control_.StepFraction(Progress);
}

void HostFileUpdate::FileUpdaterFinished(float, uint8_t AckCode) {
    if (finishing_) return;
    finishing_ = true;
    ackCode_ = AckCode;
    stepsLeft_ = true;
    step_.arm(kFinishWaitMs, [this] { Finished(); });
}

void HostFileUpdate::Finished() {
    // Outside the host's receive processing now: its receiver may go.
    if (CorvaneHost* h = links_.host ? links_.host() : nullptr) h->SetFileUpdateReceiver({});
    if (ackCode_ == mcu::tu_Ack)
        control_.FinishUpdate();
    else
        control_.CancelUpdate("");
    // An empty image was refused before the board heard of an update: there
    // is nothing for it to restart from.
    if (image_ != HostImage::FPGA || updater_->PacketCount == 0) {
        stepsLeft_ = false;
        return;
    }
    RestartBoard();
}

void HostFileUpdate::RestartBoard() {
    // The board starts the new FPGA only when restarted, failed update or not,
    // and comes back as a new host: every link to the engine starts afresh.
    if (CorvaneHost* h = links_.host ? links_.host() : nullptr) h->Restart();
    step_.arm(kRestartSendMs, [this] {
        if (links_.closeLinks) links_.closeLinks();
        step_.arm(kRestartWaitMs, [this] {
            if (links_.reopenLinks) links_.reopenLinks();
            stepsLeft_ = false;
        });
    });
}

void HostFileUpdate::NoAnswer(platform::UpdateControl& control) {
    if (finishing_) return;
    control.CancelUpdate("no response");
}

} // namespace ravelin::host
