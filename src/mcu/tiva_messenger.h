#pragma once
#include <cstdint>

#include "surface/com_stream.h"

namespace ravelin::mcu {

// The byte stream a boot-loader update travels over: a surface serial slot,
// or an interface card's TCP link.
class tTivaMessenger {
public:
    virtual ~tTivaMessenger() = default;
    // Bytes taken.
    virtual int32_t Send(const uint8_t* Buffer, int32_t Count) = 0;
    // Bytes delivered; never waits, 0 when nothing is there.
    virtual int32_t Receive(uint8_t* Buffer, int32_t Count) = 0;
};

// A surface panel's serial port. The port belongs to the surface link.
class tTivaSerialMessenger : public tTivaMessenger {
public:
    explicit tTivaSerialMessenger(surface::ComStream* aComPort) : ComPort(aComPort) {}
    int32_t Send(const uint8_t* Buffer, int32_t Count) override;
    int32_t Receive(uint8_t* Buffer, int32_t Count) override;

    surface::ComStream* ComPort; // not owned; none gives 0 both ways
};

} // namespace ravelin::mcu
