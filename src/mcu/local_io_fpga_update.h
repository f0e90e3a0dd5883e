#pragma once
// The FPGA of the microcontroller local I/O unit: the file goes to the unit's
// running firmware with the file-update protocol, each message a surface
// message of type 0x0B on the local I/O slot, while the surface poll goes on.
// After the end the unit reloads its FPGA for about 8 s; the update waits
// that long on the communications tick (the engine and card links keep being
// serviced by the tick itself), restarts the surface link and only then ends.

#include <cstdint>
#include <memory>
#include <string>

#include "mcu/tiva_file_updater.h"
#include "platform/update_control.h"
#include "surface/isa_serial.h"
#include "surface/surface_update.h"

namespace ravelin::mcu {

constexpr uint8_t kLocalIOFPGAUpdateHeader = 0x0B;
// Communications ticks (10 ms) the unit is given to reload its FPGA.
constexpr int kLocalIOReloadTicks = 801;

class LocalIOFPGAUpdate : public platform::RunningUpdate, public surface::SurfaceUpdate {
public:
    LocalIOFPGAUpdate(platform::UpdateControl& control, surface::SurfaceLink& link, std::string fileName);

    // Start_LocalIOFPGAUpdate.
    void Start() override;
    // Counts the reload pause down; at its end the surface link is restarted
    // and the update ends.
    void CommsTick() override;
    // Every surface message the communications tick takes while row 13 is
    // being updated; messages of other slots are left alone.
    void ReceiveSurfaceMessage(int slot, const std::string& body);
    void SurfaceMessage(int slot, const std::string& body) override { ReceiveSurfaceMessage(slot, body); }
    // NoAnswer keeps the default: "no response", and the link is not restarted.

    bool Pausing() const { return reloadTicks_ > 0; }
    tTivaFileUpdater* Updater() const { return updater_.get(); }

    void LocalIOFPGA_SendEvent(const std::string& aMsg);
    void LocalIOFPGA_EraseProgressEvent(float Amount, uint8_t Error);
    void LocalIOFPGA_UpdateProgressEvent(float Amount, uint8_t Error);
    void LocalIOFPGA_FinishedEvent(float Amount, uint8_t Error);

private:
    platform::UpdateControl& control_;
    surface::SurfaceLink& link_;
    std::string fileName_;
    std::unique_ptr<tTivaFileUpdater> updater_;
    int reloadTicks_ = 0;
    bool finishing_ = false;
    bool success_ = false;
};

} // namespace ravelin::mcu
