#pragma once
// The images the host board keeps for its companions: the host FPGA's bit
// file and the USB-audio processor's image. Both go over the host serial link
// with the file-update protocol, each under its own update header; the board
// answers every packet with a message of the same header. After an FPGA
// update (successful or not) the board is told to restart and every link to
// the engine is closed and opened again, since the board comes back as new.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/corvane_host.h"
#include "mcu/tiva_file_updater.h"
#include "platform/event_loop.h"
#include "platform/one_shot.h"
#include "platform/update_control.h"

namespace ravelin::host {

enum class HostImage { FPGA, USBAudio };

constexpr const char* kHostUSBAudioFile = "xmos.bin";

// The FPGA file for a host of this name: the interface FPGA for the KR60 and
// for a console without a model, the other design for every other model. The
// name is compared exactly, letter case included.
std::string GetFPGAFilename(const std::string& hostName);

// What the file updates need of the links to the engine. The host object is
// asked for afresh each time: reopening the links replaces it.
struct HostFileLinks {
    std::function<CorvaneHost*()> host;
    std::function<void()> closeLinks;   // engine links and card slots closed, the host link freed
    std::function<void()> reopenLinks;  // all of them opened again, the engine's sequence check reset
};

class HostFileUpdate final : public platform::RunningUpdate {
public:
    static constexpr int kFinishWaitMs = 1000;   // before the outcome is shown
    static constexpr int kRestartSendMs = 10;    // "Restart" on its way before the port closes
    static constexpr int kRestartWaitMs = 2000;  // the board restarts before the links reopen

    // `loop` outlives the update; the file is looked up in `programFolder`.
    HostFileUpdate(platform::UpdateControl& control, platform::EventLoop& loop, HostFileLinks links,
                   HostImage image, std::string programFolder);
    ~HostFileUpdate() override;

    // Start_HostUpdateFPGA / Start_HostUpdateUSBAudio.
    void Start() override;
    // A stalled update ends with "no response" and leaves the board alone.
    void NoAnswer(platform::UpdateControl& control) override;
    // The outcome waits a second; after an FPGA update the restart and the
    // reopening of the links follow it.
    bool StepsLeft() const override { return stepsLeft_; }

    uint8_t UpdateHeader() const;
    // The image's path as it is looked for (the folder and the file name).
    std::string Path() const;
    const mcu::tTivaFileUpdater* Updater() const { return updater_.get(); }

private:
    void Host_ProgressEvent(float Progress, uint8_t AckCode);
    // The updater's end. It arrives inside the host's own receive processing,
    // so everything that may free the host waits for a timer on the loop.
    void FileUpdaterFinished(float Progress, uint8_t AckCode);
    void Finished();
    void RestartBoard();

    platform::UpdateControl& control_;
    HostFileLinks links_;
    HostImage image_;
    std::string folder_;
    std::unique_ptr<mcu::tTivaFileUpdater> updater_;
    bool finishing_ = false;
    bool stepsLeft_ = false;
    uint8_t ackCode_ = mcu::tu_Ack;
    // The steps after the end follow one another: one timer at a time.
    platform::OneShot step_;
    // The host's receiver outlives the update on a host that stays; replies
    // that come after the update has gone find this empty.
    std::shared_ptr<HostFileUpdate*> alive_;
};

} // namespace ravelin::host
