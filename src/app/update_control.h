#pragma once
#include <cstdint>
#include <string>

// The contract between the main window and the procedure that updates one
// device: the procedure reports every step of progress, may show texts, and
// ends the update exactly once with FinishUpdate or CancelUpdate.
namespace ravelin::app {

class UpdateControl {
public:
    virtual ~UpdateControl() = default;

    int32_t UpdatingRow = 0;         // 0: no update runs
    int32_t PacketCount = 0;         // steps reported so far
    int32_t UpdateTimeoutCount = 0;  // refresh ticks left before the update counts as stalled
    int32_t RefreshCount = 0;        // refresh ticks left before the next 5-second step
    int32_t DownloadFileSize = 0;    // total amount (bytes, or 100 for a fraction); never 0 in use
    int32_t DownloadProgress = 0;    // amount done, same unit

    virtual void ProgressUpdate() = 0;
    virtual void FinishUpdate() = 0;
    virtual void CancelUpdate() = 0;
    // The message line as it stands (with its leading space) and a raw write of it.
    virtual const std::string& MessagePanelText() const = 0;
    virtual void SetMessagePanel(const std::string& text) = 0;
    virtual void SetProgressLabel(const std::string& text) = 0;
};

} // namespace ravelin::app
