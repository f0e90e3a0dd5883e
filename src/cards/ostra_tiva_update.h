#pragma once
// A card's firmware, rows 15 and 17: the card restarts into its boot loader
// and takes the image over its TCP link. The update counts as done only once
// the restarted card reports its type again; until then the message line asks
// the user to wait.

#include <cstdint>
#include <string>

#include "cards/ostra_slot.h"
#include "platform/update_control.h"

namespace ravelin::cards {

class OstraTivaUpdate : public platform::RunningUpdate {
public:
    // `fileName` is "Ostra\" + the row's file, relative to `programFolder`.
    // `slot` may be null (no slot object): the update then ends at once.
    OstraTivaUpdate(platform::UpdateControl& control, tOstraSlot* slot, std::string programFolder,
                    std::string fileName);
    // Takes the slot's updater with it when the update is dropped unfinished.
    ~OstraTivaUpdate() override;

    // Start_OstraTivaUpdate.
    void Start() override;
    // No progress for 30 s, or the card never came back: "no response", and
    // the slot serves the card again.
    void NoAnswer(platform::UpdateControl& control) override;
    // OstraTiva_BackOnline: the refresh tick's watchdog step. Ends the update
    // once the boot loader has acknowledged the reset and the restarted card
    // has reported a type.
    void BackOnline();
    bool WaitingForCard() const { return waitingForCard_; }

    void OstraTiva_ProgressEvent(float Amount, uint8_t Error);
    void OstraTiva_FinishedEvent(float Amount, uint8_t Error);

private:
    void End(bool success, const std::string& progressText);

    platform::UpdateControl& control_;
    tOstraSlot* slot_;
    std::string programFolder_;
    std::string fileName_;
    bool started_ = false;
    bool ended_ = false;
    bool waitingForCard_ = false;
};

// OstraTiva_CheckBootLoader, for the refresh tick while no update runs: the
// firmware row (15 or 17) of the first slot whose card waits in its boot
// loader, or 0, and the log line to append once that update has started.
int OstraTiva_CheckBootLoader(const tOstraSlots& slots, std::string& logLine);

} // namespace ravelin::cards
