#include "cards/ostra_tiva_update.h"

#include <cmath>

#include "cards/card_update_file.h"

namespace ravelin::cards {

OstraTivaUpdate::OstraTivaUpdate(platform::UpdateControl& control, tOstraSlot* slot, std::string programFolder,
                                 std::string fileName)
    : control_(control), slot_(slot), programFolder_(std::move(programFolder)), fileName_(std::move(fileName))
{
}

OstraTivaUpdate::~OstraTivaUpdate()
{
    // The slot's updater calls back into this object: it goes first.
    if (slot_ && !ended_) slot_->AbortUpdates();
}

void OstraTivaUpdate::Start()
{
    if (started_) return;
    started_ = true;
    control_.SetDownloadFileSize(100);
    // Everything that can stop the update is looked at before the card is
    // told to restart: a card sent into its boot loader for nothing stays there.
    if (!slot_ || !slot_->ReadyForUpdate()) {
        End(false, "no response");
        return;
    }
    auto image = ReadCardUpdateFile(control_, programFolder_, fileName_, "Code");
    if (!image) {
        End(false, "");
        return;
    }
    const bool started = slot_->UpdateCode(
        std::move(*image), [this](float a, uint8_t e) { OstraTiva_ProgressEvent(a, e); },
        [this](float a, uint8_t e) { OstraTiva_FinishedEvent(a, e); },
        [this](const std::string& t) { control_.DisplayMessage(t); });
    if (!started) End(false, "no response");
}

void OstraTivaUpdate::OstraTiva_ProgressEvent(float Amount, uint8_t Error)
{
    if (ended_ || waitingForCard_) return;
    if (control_.PacketCount() == 0) control_.SetMessagePanel(" Ostra updating...");
    std::string suffix = "%";
    if (Error != mcu::tu_Ack && slot_->CodeUpdater) suffix += " error: " + slot_->CodeUpdater->StatusDescription();
    control_.SetMessagePanel(" Ostra updating " + std::to_string(std::lround(Amount * 100.0f)) + suffix);
    control_.StepFraction(Amount);
    if (Error != mcu::tu_Ack) OstraTiva_FinishedEvent(Amount, Error);
}

void OstraTivaUpdate::OstraTiva_FinishedEvent(float, uint8_t Error)
{
    if (ended_ || waitingForCard_) return;
    // The outcome is the updater's own code: a failure ends the update now;
    // an acknowledged reset only means the card restarts.
    if (Error != mcu::tu_Ack) {
        End(false, "");
        return;
    }
    waitingForCard_ = true;
    control_.DisplayStatus("please wait");
    control_.SetMessagePanel(" Please wait - restarting Ostra card...");
}

void OstraTivaUpdate::BackOnline()
{
    if (ended_ || !waitingForCard_ || !slot_ || slot_->CodeUpdating() || slot_->CardType == 0) return;
    End(true, "");
}

void OstraTivaUpdate::NoAnswer(platform::UpdateControl&)
{
    if (ended_) return;
    if (slot_) slot_->AbortUpdates();
    End(false, "no response");
}

void OstraTivaUpdate::End(bool success, const std::string& progressText)
{
    ended_ = true;
    waitingForCard_ = false;
    if (success)
        control_.FinishUpdate();
    else
        control_.CancelUpdate(progressText);
}

int OstraTiva_CheckBootLoader(const tOstraSlots& slots, std::string& logLine)
{
    for (int i = 0; i < 2; ++i) {
        const tOstraSlot* slot = slots[size_t(i)].get();
        if (!slot || !slot->InBootLoader || slot->CodeUpdating()) continue;
        logLine = "BootLoader detected, row " + std::to_string(i) + ", cts " + std::to_string(int(slot->ClearToSend)) +
                  ", bl " + std::to_string(int(slot->InBootLoader));
        return 15 + 2 * i;
    }
    return 0;
}

} // namespace ravelin::cards
