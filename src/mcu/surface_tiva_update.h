#pragma once
// A surface panel's microcontroller code, sent through the panel's ROM boot
// loader on its serial slot. The panel is asked to enter its boot loader
// (message 0x03) unless it was found waiting there already; the surface poll
// is halted for the whole update, and the communications tick drives the
// boot-loader exchange instead of reading the surface link.

#include <cstdint>
#include <memory>
#include <string>

#include "mcu/tiva_messenger.h"
#include "mcu/tiva_updater.h"
#include "platform/clock.h"
#include "platform/update_control.h"
#include "surface/isa_serial.h"
#include "surface/surface_update.h"

namespace ravelin::mcu {

// Communications ticks (10 ms) between the enter-boot-loader message and the
// ping: the panel needs them to restart into its boot loader.
constexpr int kBootLoaderEntryTicks = 10;
// Ticks the result stays on screen before the update ends and polling resumes.
constexpr int kSurfaceTivaEndTicks = 100;

class SurfaceTivaUpdate : public platform::RunningUpdate, public surface::SurfaceUpdate {
public:
    // `name` is the row's description (for the message texts), `fileName` its
    // file, `port` the slot. `clock` gives the boot loader's pause before
    // every packet.
    SurfaceTivaUpdate(platform::UpdateControl& control, surface::SurfaceLink& link, platform::Clock& clock,
                      std::string name, std::string fileName, int port);
    ~SurfaceTivaUpdate() override;

    // Start_SurfaceTivaUpdate.
    void Start() override;
    // The updater's poll step, or the countdowns of the boot-loader entry and
    // of the result pause.
    void CommsTick() override;
    // A panel that never answered: the update fails with "no response", the
    // updater and its messenger go and polling resumes.
    void NoAnswer(platform::UpdateControl& control) override;

    // While true the communications tick must not read the surface link: the
    // line carries boot-loader bytes, not frames.
    bool HoldsLine() const { return holdsLine_; }
    bool ReadsLineItself() const override { return holdsLine_; }
    // Frames of other panels while the line is not held: none is meant for
    // a boot-loader update.
    void SurfaceMessage(int, const std::string&) override {}
    const std::string& SurfaceTivaName() const { return name_; }
    tTivaUpdater* Updater() const { return updater_.get(); }

    void SurfaceTiva_ProgressEvent(float Amount, uint8_t Error);
    void SurfaceTiva_FinishedEvent(float Amount, uint8_t Error);

private:
    void CreateUpdater();
    void Release();
    // Ends the update; `this` may be gone once it returns.
    void End(bool success, const std::string& progressText);

    platform::UpdateControl& control_;
    surface::SurfaceLink& link_;
    platform::Clock& clock_;
    std::string name_;
    std::string fileName_;
    int port_;
    std::vector<uint8_t> image_;
    std::unique_ptr<tTivaSerialMessenger> messenger_;
    std::unique_ptr<tTivaUpdater> updater_;
    bool started_ = false;
    bool holdsLine_ = false;
    bool ended_ = false;
    int entryTicks_ = 0;
    int endTicks_ = 0;
    bool endSuccess_ = false;
};

// The refresh tick's look for a panel waiting in its boot loader (only while
// no update runs): the row (slot + 8) whose update should start now, or 0.
// The slot's bit is cleared and the poll halted, so the update that starts
// sends no enter-boot-loader message. A slot outside TivaPorts keeps its bit.
int SurfaceTiva_CheckBootLoader(surface::SurfaceLink& link);

// The local I/O unit on slot nPort turned out to be the microcontroller
// variant: when its code file exists in the program folder the slot becomes
// boot-loader capable without auto-baud bytes, and the result is true (the
// application then sets LocalIOIsTiva and offers row 13, its FPGA).
bool SetLocalIOTiva(surface::SurfaceLink& link, int nPort, const std::string& programFolder);

// The local I/O microcontroller's code and FPGA files.
inline constexpr const char* kLocalIOTivaFile = "tarvola_local_io_mk2.bin";
inline constexpr const char* kLocalIOFPGAFile = "tarvola_local_io_mk2_FPGA.bit";

} // namespace ravelin::mcu
