#include "cards/tiva_ethernet_messenger.h"

namespace ravelin::cards {

int32_t tTivaEthernetMessenger::Send(const uint8_t* Buffer, int32_t Count)
{
    return OstraMessenger ? OstraMessenger->SendBuffer(Buffer, Count) : 0;
}

int32_t tTivaEthernetMessenger::Receive(uint8_t* Buffer, int32_t Count)
{
    return OstraMessenger ? OstraMessenger->ReceiveBuffer(Buffer, Count) : 0;
}

} // namespace ravelin::cards
