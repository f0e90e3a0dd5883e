#include "mcu/tiva_messenger.h"

namespace ravelin::mcu {

int32_t tTivaSerialMessenger::Send(const uint8_t* Buffer, int32_t Count) {
    return ComPort ? ComPort->send(Buffer, Count) : 0;
}

int32_t tTivaSerialMessenger::Receive(uint8_t* Buffer, int32_t Count) {
    return ComPort ? ComPort->receive(Buffer, Count) : 0;
}

} // namespace ravelin::mcu
