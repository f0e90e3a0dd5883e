// The slot's side of the card firmware and FPGA updates: it owns the
// updaters while they run, suspends the card protocol for the boot loader and
// gets itself back into service however an update ends.
#include "cards/card_messages.h"
#include "cards/ostra_slot.h"

namespace ravelin::cards {

platform::Clock& tOstraSlot::clock() const
{
    return services_.link.clock ? *services_.link.clock : platform::systemClock();
}

bool tOstraSlot::UpdateCode(std::vector<uint8_t> image, mcu::tTivaUpdateEvent aProgressEvent,
                            mcu::tTivaUpdateEvent aFinishedEvent, mcu::DisplayFn display)
{
    // A restart request that never leaves would leave the boot-loader
    // exchange talking to the running firmware.
    if (!ReadyForUpdate()) return false;
    UpdateMessenger = std::make_unique<tTivaEthernetMessenger>(Messenger.get());
    pendingImage_ = std::move(image);
    codeProgress_ = std::move(aProgressEvent);
    CodeUpdateFinishedEvent = std::move(aFinishedEvent);
    codeDisplay_ = std::move(display);
    codeAck_ = false;
    if (InBootLoader) {
        CreateCodeUpdater();
        return true;
    }
    // Whatever waited to go out is of no use to a card about to restart; the
    // request goes out now, not on the next batch.
    ResetLink();
    Send(std::string{char(cm_Restart), 0});
    Messenger->SendBufferedOutput();
    RestartTicks = RestartCalls;
    return true;
}

void tOstraSlot::CreateCodeUpdater()
{
    // Frames the firmware sent before it restarted are no boot-loader answers.
    ResetLink();
    CodeUpdater = std::make_unique<mcu::tTivaUpdater>(*UpdateMessenger, std::move(pendingImage_), false, clock(),
                                                      codeDisplay_);
    pendingImage_.clear();
    CodeUpdater->OnProgress = [this](float p, uint8_t e) {
        if (codeProgress_) codeProgress_(p, e);
    };
    CodeUpdater->OnFinished = [this](float, uint8_t e) { codeAck_ = e == mcu::tu_Ack; };
    CodeUpdater->Start();
}

void tOstraSlot::ReleaseCodeUpdater()
{
    RestartTicks = 0;
    pendingImage_.clear();
    auto updater = std::move(CodeUpdater);
    CodeUpdater = nullptr;
    updater.reset();
    UpdateMessenger.reset();
    codeProgress_ = nullptr;
    codeDisplay_ = nullptr;
}

void tOstraSlot::CodeUpdaterEnded()
{
    const bool ok = codeAck_;
    auto finished = std::move(CodeUpdateFinishedEvent);
    CodeUpdateFinishedEvent = nullptr;
    ReleaseCodeUpdater();
    InBootLoader = false;
    // After a reset the card is cleared until it reports again; after a
    // failure it may still sit in its boot loader. Either way the next step
    // synchronises, and the answer (0xAA or 0xCC) tells which.
    if (ok) Clear();
    else ResetLink();
    AYTFailCount = AYTFailMax;
    AYTQFCount = AYTStepCalls - SyncAfterUpdateCalls;
    if (ok && finished) finished(1.0f, mcu::tu_Ack);
}

bool tOstraSlot::UpdateFPGA(std::vector<uint8_t> file, mcu::tTivaUpdateEvent aProgressEvent,
                            mcu::tTivaUpdateEvent aFinishedEvent, mcu::DisplayFn display)
{
    if (!ReadyForUpdate() || InBootLoader) return false;
    FPGAUpdater = std::make_unique<mcu::tTivaFileUpdater>([this](const std::string& m) { Send(m); }, cm_UpdateFPGA,
                                                          std::move(file), std::move(display));
    FPGAUpdater->OnUpdatePacket = std::move(aProgressEvent);
    FPGAUpdateFinishedEvent = std::move(aFinishedEvent);
    FPGAUpdater->OnUpdateFinished = [this](float p, uint8_t e) {
        if (FPGAUpdateFinishedEvent) FPGAUpdateFinishedEvent(p, e);
    };
    FPGAUpdater->Start();
    if (FPGAUpdater->Ended()) ReleaseFPGAUpdater();
    return true;
}

void tOstraSlot::ReleaseFPGAUpdater()
{
    auto updater = std::move(FPGAUpdater);
    FPGAUpdater = nullptr;
    FPGAUpdateFinishedEvent = nullptr;
}

void tOstraSlot::AbortUpdates()
{
    if (CodeUpdating() || UpdateMessenger) {
        CodeUpdateFinishedEvent = nullptr;
        ReleaseCodeUpdater();
        InBootLoader = false;
        ResetLink();
        AYTFailCount = AYTFailMax;
        AYTQFCount = AYTStepCalls - SyncAfterUpdateCalls;
    }
    if (FPGAUpdater) ReleaseFPGAUpdater();
}

} // namespace ravelin::cards
