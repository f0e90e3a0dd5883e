#pragma once
#include <cstdint>

#include "cards/ostra_messenger.h"
#include "mcu/tiva_messenger.h"

namespace ravelin::cards {

// A card's boot loader over the card's TCP link: its bytes go straight to the
// socket, past the outgoing queue and its batching, and the card's answers are
// taken from the link's incoming queue while the card protocol is suspended.
class tTivaEthernetMessenger : public mcu::tTivaMessenger {
public:
    explicit tTivaEthernetMessenger(tOstraMessenger* aMessenger) : OstraMessenger(aMessenger) {}
    int32_t Send(const uint8_t* Buffer, int32_t Count) override;
    int32_t Receive(uint8_t* Buffer, int32_t Count) override;

    tOstraMessenger* OstraMessenger; // not owned; none gives 0 both ways
};

} // namespace ravelin::cards
