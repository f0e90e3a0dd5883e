#pragma once
#include "cards/ostra_slot.h"
#include "engine/engine_link.h"
#include "engine/rack_table.h"

// The card slots' view of the engine link's rack table and sample rates.
namespace ravelin::app {

class OstraRacks final : public cards::OstraRackAccess {
public:
    OstraRacks(engine::RackTable& racks, const engine::EngineInfo& info) : racks_(racks), info_(info) {}
    int RackOnPort(int port) override;
    uint8_t* RackRecord(int nRack) override;
    uint32_t EngineSampleRate(int port) override;
    int PartnerRack(int kind, int port) override;

private:
    engine::RackTable& racks_;
    const engine::EngineInfo& info_;
};

} // namespace ravelin::app
