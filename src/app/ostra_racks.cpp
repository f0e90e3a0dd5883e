#include "app/ostra_racks.h"

namespace ravelin::app {

int OstraRacks::RackOnPort(int port) { return engine::RackOnPort(racks_, port); }

uint8_t* OstraRacks::RackRecord(int nRack) {
    if (nRack < 1 || nRack >= engine::RackCount) return nullptr;
    return racks_.Records[size_t(nRack)].data();
}

uint32_t OstraRacks::EngineSampleRate(int port) {
    if (port < 0 || size_t(port) >= info_.EngineSampleRates.size()) return 0;
    return uint32_t(info_.EngineSampleRates[size_t(port)]);
}

int OstraRacks::PartnerRack(int kind, int port) {
    const int partner = engine::PartnerRack(racks_, kind, port);
    return partner < 0 ? 0 : partner;
}

} // namespace ravelin::app
