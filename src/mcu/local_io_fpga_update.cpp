#include "mcu/local_io_fpga_update.h"

#include <cmath>

#include "platform/files.h"

namespace ravelin::mcu {

LocalIOFPGAUpdate::LocalIOFPGAUpdate(platform::UpdateControl& control, surface::SurfaceLink& link,
                                     std::string fileName)
    : control_(control), link_(link), fileName_(std::move(fileName)) {}

void LocalIOFPGAUpdate::Start() {
    if (updater_) return;
    auto file = platform::files::readAll(fileName_);
    if (!file) {
        control_.SetMessagePanel(" Local I/O FPGA error: cannot open " + fileName_);
        control_.CancelUpdate("");
        return;
    }
    control_.SetDownloadFileSize(100);
    updater_ = std::make_unique<tTivaFileUpdater>([this](const std::string& m) { LocalIOFPGA_SendEvent(m); },
                                                  kLocalIOFPGAUpdateHeader, std::move(*file),
                                                  [this](const std::string& t) { control_.DisplayMessage(t); });
    updater_->OnEraseProgress = [this](float a, uint8_t e) { LocalIOFPGA_EraseProgressEvent(a, e); };
    updater_->OnUpdatePacket = [this](float a, uint8_t e) { LocalIOFPGA_UpdateProgressEvent(a, e); };
    updater_->OnUpdateFinished = [this](float a, uint8_t e) { LocalIOFPGA_FinishedEvent(a, e); };
    // An empty file is refused here, before the unit hears of an update: it
    // ends at once, without the reload pause.
    updater_->Start();
}

void LocalIOFPGAUpdate::ReceiveSurfaceMessage(int slot, const std::string& body) {
    if (updater_ && slot == link_.LocalIOPort) updater_->ReceiveMessage(body);
}

void LocalIOFPGAUpdate::LocalIOFPGA_SendEvent(const std::string& aMsg) {
    link_.SendSurfaceMessage(link_.LocalIOPort, aMsg);
}

void LocalIOFPGAUpdate::LocalIOFPGA_EraseProgressEvent(float Amount, uint8_t) {
    control_.SetMessagePanel(" Local I/O FPGA erasing..." +
                             std::string(static_cast<size_t>(std::lround(std::fmax(Amount, 0.0f) * 100.0f)), '.'));
    // The erase counts as life: the watchdog gets its full 30 s again.
    control_.ProgressUpdate();
}

void LocalIOFPGAUpdate::LocalIOFPGA_UpdateProgressEvent(float Amount, uint8_t Error) {
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" Local I/O FPGA updating...");
    if (Error == tu_Ack)
        control_.SetMessagePanel(" Local I/O FPGA updating " +
                                 std::to_string(static_cast<int>(std::lround(Amount * 100.0f))) + "%");
    control_.StepFraction(Amount);
    if (Error != tu_Ack) LocalIOFPGA_FinishedEvent(Amount, Error);
}

void LocalIOFPGAUpdate::LocalIOFPGA_FinishedEvent(float, uint8_t Error) {
    if (finishing_) return;
    finishing_ = true;
    success_ = Error == tu_Ack;
    if (updater_ && updater_->PacketCount == 0) {
        // Refused before anything was sent: the unit has nothing to reload.
        control_.CancelUpdate("");
        return;
    }
    reloadTicks_ = kLocalIOReloadTicks;
}

void LocalIOFPGAUpdate::CommsTick() {
    if (reloadTicks_ == 0 || --reloadTicks_ > 0) return;
    link_.RestartSurfaceLink();
    if (success_)
        control_.FinishUpdate();
    else
        control_.CancelUpdate("");
}

} // namespace ravelin::mcu
