#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "engine/audio_engine.h"
#include "engine/engine_message.h"
#include "engine/engine_window.h"
#include "engine/rack_messages.h"
#include "engine/rack_table.h"
#include "platform/event_loop.h"
#include "platform/one_shot.h"
#include "platform/update_control.h"

// The main window's side of the engine: the start-up exchange that fills the
// engine information, the periodic version requests, the engine restart after
// an engine code update, and the handling of every received engine message
// (the transfer replies go to the transfer that runs).
namespace ravelin::engine {

// A transfer in progress that takes engine replies.
class EngineTransfer {
public:
    virtual ~EngineTransfer() = default;
    virtual void EngineReply(const tEngineMessage& m) = 0;
};

class EngineDispatch {
public:
    static constexpr int kResetWaitMs = 10000;
    static constexpr int kLocalIONoteMs = 200;
    static constexpr int kCloseDelayMs = 1000;
    static inline const std::string kRestarting = " Please wait - restarting engine...";

    EngineDispatch(platform::EventLoop& loop, platform::UpdateControl& control, EngineWindow& window,
                   AudioEngine& engine, RackTable& racks);

    // SendEngineLong, then the header and data in the "sent" label.
    void SendEngine(tEngineHeader header, int32_t data);
    void ProcessEngineMessage(tEngineMessage& m);

    // The numbering starts afresh and the next message is not sequence-checked.
    void InitialiseForStartup();
    // File set, serial number, running images, dates, the card-slot racks'
    // start-up message and the rack device data requests.
    void SendStartupRequests();
    // The engine dates and every rack's versions (every fifth second).
    void SendVersionRequests();
    // Resets the engine through the host board, waits up to 10 s for its
    // confirmation and starts the numbering afresh. `done` runs at the end.
    void RestartEngine(std::function<void()> done = {});
    bool Restarting() const { return restarting_; }

    // The transfer that takes the transfer replies; null for none.
    void SetTransfer(EngineTransfer* t) { transfer_ = t; }
    EngineTransfer* Transfer() const { return transfer_; }

    AudioEngine& Engine() { return engine_; }
    RackMessages& Racks() { return rackMessages_; }
    RackTable& Table() { return racks_; }
    EngineWindow& Window() { return window_; }
    platform::EventLoop& Loop() { return loop_; }
    platform::UpdateControl& Control() { return control_; }

private:
    void RestartStep2();
    void RestartStep3();
    void RestartEnd();

    platform::EventLoop& loop_;
    platform::UpdateControl& control_;
    EngineWindow& window_;
    AudioEngine& engine_;
    RackTable& racks_;
    RackMessages rackMessages_;
    EngineTransfer* transfer_ = nullptr;
    platform::OneShot restartTimer_;
    platform::OneShot closeTimer_;
    bool restarting_ = false;
    std::function<void()> restartDone_;
};

// "0x" + header as eight hexadecimal digits + " " + data in signed decimal.
std::string HeaderDataText(tEngineHeader header, int32_t data);

} // namespace ravelin::engine
