#pragma once
#include <cstdint>
#include <string>

// The contract between the main window and the one update that runs. Every
// subsystem that updates a device speaks to the application only through
// these two interfaces: the application implements `UpdateControl`, and each
// update path is a `RunningUpdate` that the main window owns while it runs.
// They sit in the bottom layer so that every subsystem can use them without
// reaching into the application.
namespace ravelin::platform {

class UpdateControl {
public:
    virtual ~UpdateControl() = default;

    // 0 when no update runs.
    virtual int32_t UpdatingRow() const = 0;
    virtual int32_t PacketCount() const = 0;
    virtual int32_t DownloadProgress() const = 0;

    // The total amount of the update, set before the first progress step:
    // the file size when the path counts bytes, 100 when it reports a
    // fraction. A 0 is held at 1 so that the meters never divide by it.
    virtual void SetDownloadFileSize(int32_t total) = 0;
    // One step of progress: the packet count goes up by one, the amount done
    // by `amount`, then the watchdog is re-armed and the meters move.
    virtual void StepProgress(int32_t amount) = 0;
    // One step of progress of a path that reports a fraction (0 to 1): the
    // amount done becomes the fraction x 100, to the nearest integer.
    virtual void StepFraction(float fraction) = 0;
    // Re-arms the watchdog and repaints the meters without counting a step.
    virtual void ProgressUpdate() = 0;
    // Shortens the watchdog to `ticks` refresh ticks (500 ms each) after a
    // step, for a path that waits less than 30 s for an answer.
    virtual void SetWatchdog(int32_t ticks) = 0;

    // Ends the update as a success. Once per update.
    virtual void FinishUpdate() = 0;
    // Ends the update as a failure; `progressText` ("no response", "Error
    // received") replaces the progress label first unless it is empty.
    virtual void CancelUpdate(const std::string& progressText) = 0;

    // The message line (" " + text; a message during an update counts as
    // progress), its raw text, a raw write that does not, the status line,
    // and the log.
    virtual void DisplayMessage(const std::string& text) = 0;
    virtual const std::string& MessagePanelText() const = 0;
    virtual void SetMessagePanel(const std::string& text) = 0;
    virtual void DisplayStatus(const std::string& text) = 0;
    virtual void WriteLog(const std::string& text) = 0;
};

// One update in progress: made by the main window's StartUpdate (the only
// place that turns a row into a path), fed with the communications tick and
// the watchdog's missing-answer call, and freed by the main window once it has
// ended. The messages of its link reach it through the path's own interface.
class RunningUpdate {
public:
    virtual ~RunningUpdate() = default;
    // Begins the transfer. A path that cannot begin ends the update itself,
    // or throws: the exception is logged and the watchdog ends the update.
    virtual void Start() = 0;
    // The 10 ms communications tick.
    virtual void CommsTick() {}
    // The watchdog ran out: no answer within its time. The default ends the
    // update with "no response".
    virtual void NoAnswer(UpdateControl& control) { control.CancelUpdate("no response"); }
    // True while the path still has steps to take after the update ended (a
    // device to restart, links to reopen): the main window keeps it, and its
    // tick, until then, and starts no other update meanwhile.
    virtual bool StepsLeft() const { return false; }
};

} // namespace ravelin::platform
