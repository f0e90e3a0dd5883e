#include "cards/ostra_fpga_update.h"

#include <cmath>

#include "cards/card_update_file.h"

namespace ravelin::cards {

OstraFPGAUpdate::OstraFPGAUpdate(platform::UpdateControl& control, tOstraSlot* slot, std::string programFolder,
                                 std::string fileName)
    : control_(control), slot_(slot), programFolder_(std::move(programFolder)), fileName_(std::move(fileName))
{
}

OstraFPGAUpdate::~OstraFPGAUpdate()
{
    if (slot_ && !ended_) slot_->AbortUpdates();
}

void OstraFPGAUpdate::Start()
{
    if (started_) return;
    started_ = true;
    control_.SetDownloadFileSize(100);
    if (!slot_ || !slot_->ReadyForUpdate() || slot_->InBootLoader) {
        ended_ = true;
        control_.CancelUpdate("no response");
        return;
    }
    auto file = ReadCardUpdateFile(control_, programFolder_, fileName_, "FPGA");
    if (!file) {
        ended_ = true;
        control_.CancelUpdate("");
        return;
    }
    slot_->UpdateFPGA(
        std::move(*file), [this](float a, uint8_t e) { OstraFPGA_ProgressEvent(a, e); },
        [this](float a, uint8_t e) { OstraFPGA_FinishedEvent(a, e); },
        [this](const std::string& t) { control_.DisplayMessage(t); });
    OstraFPGA_ProgressEvent(0.0f, mcu::tu_Ack);
}

void OstraFPGAUpdate::OstraFPGA_ProgressEvent(float Amount, uint8_t Error)
{
    // The file updater reports the packet even after it aborted on a
    // sequence error; the update has ended by then.
    if (finishing_) return;
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" Ostra FPGA updating...");
    if (Error == mcu::tu_Ack)
        control_.SetMessagePanel(" Ostra FPGA updating " + std::to_string(std::lround(Amount * 100.0f)) + "%");
    control_.StepFraction(Amount);
    if (Error != mcu::tu_Ack) OstraFPGA_FinishedEvent(Amount, Error);
}

void OstraFPGAUpdate::OstraFPGA_FinishedEvent(float, uint8_t Error)
{
    if (finishing_) return;
    finishing_ = true;
    success_ = Error == mcu::tu_Ack;
    endTicks_ = kOstraFPGAEndTicks;
}

void OstraFPGAUpdate::CommsTick()
{
    if (ended_ || endTicks_ == 0 || --endTicks_ > 0) return;
    ended_ = true;
    if (success_)
        control_.FinishUpdate();
    else
        control_.CancelUpdate("");
}

void OstraFPGAUpdate::NoAnswer(platform::UpdateControl&)
{
    if (ended_) return;
    ended_ = true;
    if (slot_) slot_->AbortUpdates();
    control_.CancelUpdate("no response");
}

} // namespace ravelin::cards
