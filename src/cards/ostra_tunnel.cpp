#include "cards/ostra_tunnel.h"

#include <algorithm>

#include "cards/card_messages.h"
#include "cards/madi_control.h"

namespace ravelin::cards {

namespace {
constexpr uint16_t kMADITransmitModeID = 0x0B1B;
constexpr uint16_t kDeviceDataID = 0x0B15;
constexpr uint8_t kDeviceDataWordCount = 25;
constexpr int kFirstSlotPort = 16;
} // namespace

void tOstraSlot::SetMADITransmitMode(tMADITransmitMode TransmitMode)
{
    MADITransmitMode = TransmitMode;
    SendMADIMode(TransmitMode);
    SendInputSRC(TransmitMode == TarvolaControl ? 0 : 1);
    SendMADISmux(TransmitMode == madi96kSmux);
}

void tOstraSlot::SendMADIMode(tMADITransmitMode mode)
{
    const uint8_t* rec = rackRecord(nRack);
    if (!rec) return;
    uint8_t v = rec[2];
    if (mode == madi96kHispeed) v = uint8_t((v >> 1) | 0x80);
    for (uint8_t port : {0, 1}) Send(std::string{char(cm_MADIMode), char(port), 0, char(v)});
}

void tOstraSlot::SendMADISmux(bool on)
{
    for (uint8_t port : {0, 1}) Send(std::string{char(cm_MADISmux), char(port), char(on)});
}

bool SendToOstraSlot(const tOstraSlots& OstraSlots, engine::tEngineHeader Header, const uint8_t* Data, int Count)
{
    const int index = Header.Band() - kFirstSlotPort;
    if (index < 0 || index > 1 || !OstraSlots[size_t(index)]) return false;
    tOstraSlot& slot = *OstraSlots[size_t(index)];
    // Only a card known to run its firmware takes rack messages: a boot
    // loader would read a frame as the start of one of its own packets.
    if (slot.CardType == 0 || slot.InBootLoader || slot.CodeUpdating()) return true;
    if (Header.IDlo() == kMADITransmitModeID) {
        if (Count > 0) slot.SetMADITransmitMode(tMADITransmitMode(Data[0]));
        return true;
    }
    const std::string m = EngineToMADIMessage(Header, Data, Count);
    if (!m.empty()) slot.Send(std::string{char(cm_TarvolaControl), 0} + m);
    return true;
}

engine::tEngineMessage RackDeviceDataMessage(uint8_t port, const tIODeviceData& DeviceData)
{
    engine::tEngineMessage m;
    engine::InitEngineMessage(m, kDeviceDataWordCount, engine::MakeHeader(kDeviceDataID, port, 0), 0);
    std::copy(DeviceData.Bytes.begin(), DeviceData.Bytes.end(), m.Data());
    return m;
}

} // namespace ravelin::cards
