#pragma once
// A card's FPGA, rows 16 and 18: the running card firmware takes the bit file
// through the file update, each message a card frame with header 39, while
// the card protocol goes on. The card is given a second after the end before
// the result stands.

#include <cstdint>
#include <string>

#include "cards/ostra_slot.h"
#include "platform/update_control.h"

namespace ravelin::cards {

// Communications ticks (10 ms) between the end of the exchange and the result.
constexpr int kOstraFPGAEndTicks = 100;

class OstraFPGAUpdate : public platform::RunningUpdate {
public:
    // As OstraTivaUpdate.
    OstraFPGAUpdate(platform::UpdateControl& control, tOstraSlot* slot, std::string programFolder,
                    std::string fileName);
    ~OstraFPGAUpdate() override;

    // Start_OstraFPGAUpdate.
    void Start() override;
    // Counts the second after the end down, then ends the update.
    void CommsTick() override;
    void NoAnswer(platform::UpdateControl& control) override;

    void OstraFPGA_ProgressEvent(float Amount, uint8_t Error);
    void OstraFPGA_FinishedEvent(float Amount, uint8_t Error);

private:
    platform::UpdateControl& control_;
    tOstraSlot* slot_;
    std::string programFolder_;
    std::string fileName_;
    bool started_ = false;
    bool finishing_ = false;
    bool ended_ = false;
    bool success_ = false;
    int endTicks_ = 0;
};

} // namespace ravelin::cards
