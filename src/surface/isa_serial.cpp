#include "surface/isa_serial.h"
#include "surface/frame.h"

#include <algorithm>

#include "surface/overloaded.h"

namespace ravelin::surface {

namespace {

const char* const kSection = "SerialPorts";

struct PanelTypeEntry {
    int code;
    const char* name;
};

const PanelTypeEntry kPanelTypeNames[] = {
    {0, "Upper Master"},     {1, "Lower Master"},      {2, "Channel Surface"},
    {8, "KR20 Centre"},      {9, "KR20 Right"},        {10, "KR20 Left"},
    {16, "KR30 Left"},       {17, "KR30 Right"},       {24, "KR40 Centre"},
    {25, "KR40 Right"},      {26, "KR40 Left"},        {27, "Fader Pod"},
    {32, "KR10 Surface"},    {40, "KR70 Master"},      {41, "KR70 Surface"},
    {64, "KR60 Right"},      {65, "KR60 Left"},        {80, "MX7 Surface"},
    {81, "MX7 Master"},      {85, "MX6 Left"},         {86, "MX6 Right"},
    {128, "TC"},             {129, "GPIO/MIDI"},       {130, "KR40 RE"},
    {132, "KR40 Macros"},    {133, "KR70 Macros"},     {134, "KR60 GPIO"},
    {144, "Local IO"},       {145, "KR20 Local IO"},   {146, "KR30 Local IO"},
    {147, "KR40 Local IO"},  {148, "KR10 Local IO"},   {149, "KR70 Local IO"},
    {150, "KR60 Local IO"},  {151, "MX7 Local IO Mk2"}, {152, "MX6 Local IO Mk2"},
    {160, "Switcher"},       {161, "KR70 PowerCon"},
};

const int kWorkSurfaceTypes[] = {0,  1,  2,  8,  9,  10, 16, 17, 24, 25, 26,
                                 27, 32, 40, 41, 64, 65, 80, 81, 85, 86};

// Panels whose version is two bytes wide; the others report one byte.
bool HasWideVersion(int type) { return type == 80 || type == 81 || type == 85 || type == 86; }

std::string Bytes(std::initializer_list<uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool ValidSlot(int slot) { return slot >= 0 && slot < kSurfaceSlotCount; }

} // namespace

std::string PanelTypeName(int code) {
    // No panel: nothing to name.
    if (code == 255 || code == -1) return "";
    for (const auto& e : kPanelTypeNames)
        if (e.code == code) return e.name;
    return std::to_string(code);
}

bool IsWorkSurfaceType(int type) {
    return std::find(std::begin(kWorkSurfaceTypes), std::end(kWorkSurfaceTypes), type) !=
           std::end(kWorkSurfaceTypes);
}
bool IsLocalIOType(int type) { return type >= 144 && type <= 152; }
bool IsSwitcherType(int type) { return type == 160 || type == 161; }

SurfaceLink::SurfaceLink(SurfaceLinkServices services) : services_(std::move(services)) {
    // The panels expected before any has answered; the main window replaces
    // them per console model.
    Slots[1].PanelType = 64;
    Slots[2].PanelType = 65;
    Slots[3].PanelType = 150;
    Slots[4].PanelType = 134;
}

SurfaceLink::~SurfaceLink() {
    CloseSurfaceLink();
    timer_.reset();
}

void SurfaceLink::LoadConfig(const platform::IniFile& ini) {
    EnabledMask = static_cast<uint16_t>(ini.readInteger(kSection, "EnabledMask", 255));
    for (int s = 0; s < kSurfaceSlotCount; ++s) {
        const std::string digit(1, static_cast<char>('0' + s));
        // The rate is read as text: a value that is not a number leaves the
        // line at its usual rate instead of at 0 baud.
        long long rate = 0;
        if (!platform::IniFile::parseInteger(
                ini.readString(kSection, "BaudRate" + digit, std::to_string(kDefaultSurfaceBaudRate)),
                rate))
            rate = kDefaultSurfaceBaudRate;
        Slots[s].PortBaudRate = static_cast<int32_t>(rate);
        Slots[s].ComPortNumber = static_cast<int16_t>(ini.readInteger(kSection, "ComPort" + digit, -1));
    }
    VCPreconnectionDelay = static_cast<int32_t>(ini.readInteger(kSection, "VCPreconnectionDelay", 4000));
}

void SurfaceLink::Sleep(int ms) {
    if (services_.clock) services_.clock->sleep(ms);
}

void SurfaceLink::Start_ISAS(bool runMain) {
    PollHalt = !runMain;
    OpenSurfaceLink(runMain);
    if (runMain) StartSurfacePolling();
}

void SurfaceLink::OpenSurfaceLink(bool flowControl) {
    PortsOpen = OpenSurfacePorts(flowControl);
    // Panels without a bootloader get ten polls before anything is read into
    // their silence.
    for (int s = 0; s < kSurfaceSlotCount; ++s)
        if (InSlotSet(EnabledMask, s) && !InSlotSet(TivaPorts, s)) Slots[s].PollHoldoff = 10;
    if (!timer_ && services_.newTimer) timer_ = services_.newTimer();
    if (timer_ && !timer_->running()) {
        pollCountdown_ = 0; // the first tick polls at once
        timer_->start(10, [this] { TimerTick(); });
    }
    Sleep(55);
}

bool SurfaceLink::OpenSurfacePorts(bool flowControl) {
    bool anyOpen = false;
    const int slots = std::min<int>(NumPorts, kSurfaceSlotCount);
    for (int s = 0; s < slots; ++s) {
        SurfaceSlot& slot = Slots[s];
        if (!InSlotSet(EnabledMask, s) || slot.ComPortNumber < 0) continue;
        {
            // A device is opened once: let go of a port still held from before.
            std::lock_guard<std::mutex> g(slotLocks_[s]);
            slot.SurfacePort.reset();
        }
        std::unique_ptr<ComStream> port;
        try {
            if (services_.openPort)
                port = services_.openPort(slot.ComPortNumber, slot.PortBaudRate, flowControl);
        } catch (const ComPortError&) {
            const std::string text = "Cannot open ComPort " + std::to_string(slot.ComPortNumber);
            if (services_.displayMessage) services_.displayMessage(text);
            // The message line is soon overwritten; the log keeps the reason a panel stays blank.
            if (services_.writeLog) services_.writeLog(text);
        }
        {
            std::lock_guard<std::mutex> g(slotLocks_[s]);
            slot.SurfacePort = std::move(port);
        }
        Sleep(100);
        std::lock_guard<std::mutex> g(slotLocks_[s]);
        if (slot.SurfacePort) {
            anyOpen = true;
            // Every panel but the KR60 local I/O gets a DTR pulse once its port is open.
            if (slot.PanelType != 150) slot.SurfacePort->toggleDTR();
        }
    }
    return anyOpen;
}

void SurfaceLink::StopSurfaceTimer() {
    if (timer_) timer_->stop();
}

void SurfaceLink::DestroyPorts() {
    for (int s = 0; s < kSurfaceSlotCount; ++s) {
        std::lock_guard<std::mutex> g(slotLocks_[s]);
        Slots[s].SurfacePort.reset();
    }
}

void SurfaceLink::CloseSurfaceLink() {
    // The timer first: once it has stopped no poll tick can reach a port.
    StopSurfaceTimer();
    DestroyPorts();
    PortsOpen = false;
}

void SurfaceLink::RestartSurfaceLink() {
    if (PortsOpen) CloseSurfaceLink();
    OpenSurfaceLink(true);
    for (int s = 0; s < kSurfaceSlotCount; ++s) {
        std::lock_guard<std::mutex> g(slotLocks_[s]);
        if (Slots[s].SurfacePort) Slots[s].SurfacePort->toggleDTR();
    }
    Sleep(2000);
    StartSurfacePolling();
}

void SurfaceLink::StartSurfacePolling() {
    for (int s = 0; s < kSurfaceSlotCount; ++s) {
        if (!InSlotSet(EnabledMask, s)) continue;
        if (InSlotSet(TivaPorts, s)) {
            // A bootloader-capable panel may be sitting in its bootloader:
            // the auto-baud bytes make that bootloader answer 0xCC.
            if (InSlotSet(AutoBaudPorts, s)) SendSurfaceRaw(s, "UU");
        } else {
            SendSurfaceMessage(s, Bytes({kSurfaceStartPolling}));
        }
    }
    Sleep(55);
}

bool SurfaceLink::SendSurfaceMessage(int slot, const std::string& body) {
    if (!PortsOpen || slot < 0 || slot > 15 || !InSlotSet(EnabledMask, slot)) return false;
    // The length byte counts body and checksum, so 254 body bytes is the most
    // a frame can say; a longer body is refused rather than cut.
    if (body.size() > static_cast<size_t>(kMaxSurfaceSendBody)) return false;
    // A panel reads a length byte of 1 as filler, so an empty body goes out as type 0.
    const std::string b = body.empty() ? std::string(1, '\0') : body;
    const std::string frame = EncodeFrame(b);

    if (!ValidSlot(slot)) return true; // enabled, but the link has no port there
    int sent = 0;
    {
        // Held for the whole frame: the poll tick and the UI thread send on
        // the same port, and the panel must see each frame unbroken.
        std::lock_guard<std::mutex> g(slotLocks_[slot]);
        ComStream* port = Slots[slot].SurfacePort.get();
        if (!port) return true;
        sent = port->send(reinterpret_cast<const uint8_t*>(frame.data()), static_cast<int>(frame.size()));
    }
    if (sent < static_cast<int>(frame.size())) {
        PostOverload(kOverloadSurfaceSend, static_cast<uint32_t>(slot));
        return false;
    }
    return true;
}

void SurfaceLink::SendSurfaceRaw(int slot, const std::string& bytes) {
    if (!ValidSlot(slot) || bytes.empty()) return;
    std::lock_guard<std::mutex> g(slotLocks_[slot]);
    if (ComStream* port = Slots[slot].SurfacePort.get())
        port->send(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

void SurfaceLink::SendNak(int slot, uint8_t reason) {
    // Whatever else is buffered belongs to the broken frame or follows it out
    // of step; the panel sends again after the NAK.
    if (ComStream* port = Slots[slot].SurfacePort.get()) port->clearInputQueue();
    SendSurfaceMessage(slot, Bytes({kSurfaceNak, reason}));
    if (IsWorkSurfaceType(Slots[slot].PanelType)) SendSurfaceMessage(slot, Bytes({kSurfaceWorkSurface, 0x39}));
}

std::string SurfaceLink::ReceiveSurfaceMessage(int slot) {
    if (!ValidSlot(slot)) return {};
    ComStream* port = Slots[slot].SurfacePort.get(); // replaced only on this thread
    if (!port) return {};
    const uint16_t bit = SlotBit(slot);
    for (;;) {
        uint8_t b = 0;
        if (!port->peekNextByte(b)) return {};
        if (b == kSurfaceAppAlive) {
            port->receive(&b, 1);
            BootLoaderPorts.fetch_and(static_cast<uint16_t>(~bit), std::memory_order_relaxed);
            Slots[slot].ResponseCount = 0;
        } else if (b == kSurfaceBootLoaderAck) {
            port->receive(&b, 1);
            BootLoaderPorts.fetch_or(bit, std::memory_order_relaxed);
        } else if (b >= 2 && b <= 128) {
            // Leave a partial frame queued; a later call takes it whole.
            if (port->receivingCount() <= b) return {};
            uint8_t frame[129];
            const int want = b + 1;
            if (port->receive(frame, want) < want) return {}; // the poll tick reset the slot meanwhile
            std::string body;
            if (DecodeFrame(std::string_view(reinterpret_cast<const char*>(frame), want), body)) return body;
            SendNak(slot, 0);
            return {};
        } else if (b <= 1) {
            port->receive(&b, 1);
            if (b == 0) {
                uint8_t next = 0;
                while (port->peekNextByte(next) && next == 0) port->receive(&next, 1);
            }
        } else {
            SendNak(slot, 1); // no frame is that long
            return {};
        }
    }
}

void SurfaceLink::ApplyReceiveEffects(int slot, const std::string& body) {
    SurfaceSlot& s = Slots[slot];
    const auto at = [&](size_t i) { return static_cast<uint8_t>(body[i]); };
    switch (at(0)) {
    case kSurfaceNak: {
        const uint32_t code = body.size() > 1 ? at(1) : 0;
        // The panel lost its place in our frame; a run of zeros lets it
        // resynchronise on the next length byte.
        SendSurfaceRaw(slot, std::string(128, '\0'));
        PostOverload(kOverloadSurfaceNak, code * 65536u + static_cast<uint32_t>(slot));
        break;
    }
    case kSurfaceOverload:
        PostOverload(kOverloadSurfaceType2, static_cast<uint32_t>(slot));
        break;
    case kSurfacePoll: {
        if (body.size() < 5) break; // not an identity without its four bytes
        const int type = at(2);
        s.PanelType = static_cast<int16_t>(type);
        if (IsLocalIOType(type)) LocalIOPort = static_cast<uint8_t>(slot);
        if (IsSwitcherType(type)) SwitcherPort = static_cast<uint8_t>(slot);
        s.PanelVersion = HasWideVersion(type) ? static_cast<uint16_t>(at(3) * 256 + at(4)) : at(3);
        uint16_t holdoff = s.PollHoldoff.load(std::memory_order_relaxed);
        while (holdoff < 10 && !s.PollHoldoff.compare_exchange_weak(holdoff, 10, std::memory_order_relaxed)) {
        }
        s.ResponseCount = 0;
        break;
    }
    case kSurfaceFPGADate:
        if (body.size() >= 9) LocalIOFPGADate = body.substr(1, 8);
        break;
    default:
        break;
    }
}

bool SurfaceLink::ReceiveAnySurfaceMessage(int& slot, std::string& body, int maxLength) {
    for (int s = 0; s < kSurfaceSlotCount; ++s) {
        std::string message = ReceiveSurfaceMessage(s);
        if (message.empty()) continue;
        ApplyReceiveEffects(s, message);
        slot = s;
        body = message.substr(0, static_cast<size_t>(std::max(0, maxLength)));
        return true;
    }
    return false;
}

ComStream* SurfaceLink::GetSurfaceComPort(int slot) {
    return ValidSlot(slot) ? Slots[slot].SurfacePort.get() : nullptr;
}

void SurfaceLink::PollTick() {
    if (PollHalt) return;
    const int slots = std::min<int>(NumPorts, kSurfaceSlotCount);
    for (int s = 0; s < slots; ++s) {
        if (!InSlotSet(EnabledMask, s)) continue;
        SurfaceSlot& slot = Slots[s];
        bool poll = true;
        if (slot.PollHoldoff == 0 && InSlotSet(TivaPorts, s)) {
            const uint8_t silent = static_cast<uint8_t>(slot.ResponseCount.fetch_add(1, std::memory_order_relaxed) + 1);
            if (silent > 3) {
                // Three unanswered polls: the panel may be in its bootloader,
                // which only answers the auto-baud bytes.
                {
                    std::lock_guard<std::mutex> g(slotLocks_[s]);
                    if (ComStream* port = slot.SurfacePort.get()) {
                        port->clearInputQueue();
                        port->clearOutputQueue();
                    }
                }
                if (InSlotSet(AutoBaudPorts, s)) SendSurfaceRaw(s, "UU");
                poll = false;
            }
        }
        if (!poll) continue;
        SendSurfaceMessage(s, Bytes({kSurfacePoll}));
        if (IsWorkSurfaceType(slot.PanelType)) SendSurfaceMessage(s, Bytes({kSurfaceWorkSurface, 0x3D}));
        if (s == SwitcherPort) SendSurfaceMessage(s, Bytes({kSurfaceSwitcherPoll}));
        if (s == LocalIOPort) SendSurfaceMessage(s, Bytes({kSurfaceLocalIOPoll}));
        uint16_t holdoff = slot.PollHoldoff.load(std::memory_order_relaxed);
        while (holdoff > 0 &&
               !slot.PollHoldoff.compare_exchange_weak(holdoff, static_cast<uint16_t>(holdoff - 1),
                                                       std::memory_order_relaxed)) {
        }
    }
}

void SurfaceLink::TimerTick() {
    SurfaceTickCount.fetch_add(1, std::memory_order_relaxed);
    if (services_.postTimerTick) services_.postTimerTick();
    if (pollCountdown_ == 0) {
        PollTick();
        pollCountdown_ = 100; // 1000 ms at 10 ms a tick
    } else {
        --pollCountdown_;
    }
}

int16_t SurfaceLink::PanelType(int slot) const { return ValidSlot(slot) ? Slots[slot].PanelType.load() : -1; }

void SurfaceLink::SetPanelType(int slot, int16_t type) {
    if (ValidSlot(slot)) Slots[slot].PanelType = type;
}

uint16_t SurfaceLink::PanelVersion(int slot) const { return ValidSlot(slot) ? Slots[slot].PanelVersion : 0; }

} // namespace ravelin::surface
