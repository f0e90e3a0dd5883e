#include "mcu/surface_tiva_update.h"

#include <cmath>

#include "platform/files.h"

namespace ravelin::mcu {

namespace {

std::string Percent(float amount) {
    return std::to_string(static_cast<int>(std::lround(amount * 100.0f)));
}

} // namespace

SurfaceTivaUpdate::SurfaceTivaUpdate(platform::UpdateControl& control, surface::SurfaceLink& link,
                                     platform::Clock& clock, std::string name, std::string fileName, int port)
    : control_(control), link_(link), clock_(clock), name_(std::move(name)), fileName_(std::move(fileName)),
      port_(port) {
    if (name_.size() > 31) name_.resize(31);
}

SurfaceTivaUpdate::~SurfaceTivaUpdate() {
    // Freed while it still held the line (the application shut down): give
    // the line back to the poll.
    if (holdsLine_) link_.PollHalt = false;
}

void SurfaceTivaUpdate::Start() {
    if (started_) return;
    started_ = true;
    // The refresh tick halts the poll before it starts an update of a panel
    // it found in its boot loader; from here on the line is this update's.
    holdsLine_ = link_.PollHalt;
    const bool hasPort = port_ >= 0 && port_ < surface::kSurfaceSlotCount &&
                         link_.Slots[port_].ComPortNumber >= 0;
    if (!hasPort) {
        End(false, "no response");
        return;
    }
    // Everything that can stop the update is looked at before the panel is
    // told to leave its application: a panel sent into its boot loader for
    // nothing stays there.
    auto image = platform::files::readAll(fileName_);
    if (!image) {
        control_.SetMessagePanel(" " + name_ + " error: cannot open " + fileName_);
        End(false, "");
        return;
    }
    if (image->empty()) {
        control_.SetMessagePanel(" " + name_ + " updating 0% error: " + tTivaUpdater::StatusText(kAbortEmptyImage));
        End(false, "");
        return;
    }
    image_ = std::move(*image);
    control_.SetDownloadFileSize(100);
    if (!link_.PollHalt) {
        link_.SendSurfaceMessage(port_, std::string(1, static_cast<char>(surface::kSurfaceEnterBootLoader)));
        link_.PollHalt = true;
        holdsLine_ = true;
        entryTicks_ = kBootLoaderEntryTicks;
        return;
    }
    holdsLine_ = true;
    CreateUpdater();
}

void SurfaceTivaUpdate::CreateUpdater() {
    messenger_ = std::make_unique<tTivaSerialMessenger>(link_.GetSurfaceComPort(port_));
    updater_ = std::make_unique<tTivaUpdater>(*messenger_, std::move(image_), false, clock_,
                                              [this](const std::string& t) { control_.DisplayMessage(t); });
    updater_->OnProgress = [this](float a, uint8_t e) { SurfaceTiva_ProgressEvent(a, e); };
    updater_->OnFinished = [this](float a, uint8_t e) { SurfaceTiva_FinishedEvent(a, e); };
    updater_->Start();
}

void SurfaceTivaUpdate::CommsTick() {
    if (ended_) return;
    if (entryTicks_ > 0) {
        if (--entryTicks_ == 0) CreateUpdater();
        return;
    }
    if (endTicks_ > 0) {
        if (--endTicks_ == 0) {
            Release();
            End(endSuccess_, "");
        }
        return;
    }
    if (updater_ && !updater_->Ended()) updater_->PollTimerEvent();
}

void SurfaceTivaUpdate::SurfaceTiva_ProgressEvent(float Amount, uint8_t Error) {
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" " + name_ + " updating...");
    std::string text = " " + name_ + " updating " + Percent(Amount) + "%";
    if (Error != tu_Ack) text += " error: " + updater_->StatusDescription();
    control_.SetMessagePanel(text);
    control_.StepFraction(Amount);
    if (Error != tu_Ack) SurfaceTiva_FinishedEvent(Amount, Error);
}

void SurfaceTivaUpdate::SurfaceTiva_FinishedEvent(float, uint8_t Error) {
    if (endTicks_ > 0 || ended_) return;
    // The outcome is the updater's own: an acknowledged reset, or a failure.
    endSuccess_ = Error == tu_Ack;
    endTicks_ = kSurfaceTivaEndTicks;
}

void SurfaceTivaUpdate::NoAnswer(platform::UpdateControl&) {
    if (ended_) return;
    Release();
    End(false, "no response");
}

void SurfaceTivaUpdate::Release() {
    updater_.reset();
    messenger_.reset();
}

void SurfaceTivaUpdate::End(bool success, const std::string& progressText) {
    ended_ = true;
    entryTicks_ = endTicks_ = 0;
    if (holdsLine_) {
        // The poll tick takes the line back and finds the panel running its
        // new code (or still in its boot loader, which the auto-baud probe finds).
        link_.PollHalt = false;
        holdsLine_ = false;
    }
    if (success)
        control_.FinishUpdate();
    else
        control_.CancelUpdate(progressText);
}

int SurfaceTiva_CheckBootLoader(surface::SurfaceLink& link) {
    const uint16_t waiting = link.BootLoaderPorts;
    if (waiting == 0) return 0;
    for (int s = 0; s < link.NumPorts && s < 16; ++s) {
        if (!surface::InSlotSet(waiting, s)) continue;
        if (!surface::InSlotSet(link.TivaPorts, s)) return 0;
        link.BootLoaderPorts.fetch_and(static_cast<uint16_t>(~surface::SlotBit(s)));
        link.PollHalt = true;
        return s + 8;
    }
    return 0;
}

bool SetLocalIOTiva(surface::SurfaceLink& link, int nPort, const std::string& programFolder) {
    if (!platform::files::exists(platform::files::join(programFolder, kLocalIOTivaFile))) return false;
    link.TivaPorts.fetch_or(surface::SlotBit(nPort));
    link.AutoBaudPorts.fetch_and(static_cast<uint16_t>(~surface::SlotBit(nPort)));
    return true;
}

} // namespace ravelin::mcu
