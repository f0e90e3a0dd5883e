#pragma once
// The program's end of the surface panel lines: up to eight serial ports, one
// panel on each, framed messages with a length byte and an 8-bit checksum, a
// poll once a second that learns every panel's type and running version, and
// the auto-baud probe that finds a panel sitting in its bootloader.
//
// Threads: the poll tick runs on the link's own 10 ms timer thread; every
// other operation runs on the user-interface thread. Both send on the same
// ports, so each slot has a lock held for the whole of one framed message or
// one raw burst; the values both threads write are atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/timer_thread.h"
#include "surface/com_stream.h"

namespace ravelin::surface {

// Slots of the link (0 .. 7); only the first NumPorts are ever opened.
constexpr int kSurfaceSlotCount = 8;
// Sets of slots (EnabledMask, TivaPorts, ...) are 16-bit masks.
constexpr uint16_t SlotBit(int slot) { return slot >= 0 && slot < 16 ? uint16_t(1u << slot) : 0; }
constexpr bool InSlotSet(uint16_t set, int slot) { return (set & SlotBit(slot)) != 0; }

// Longest body (type plus data) the link frames: the length byte holds body + 1.
constexpr int kMaxSurfaceSendBody = 254;
// Longest body accepted from a panel (length byte 128).
constexpr int kMaxSurfaceReceiveBody = 127;
constexpr int kDefaultSurfaceBaudRate = 115200;

// Overload notices the link posts.
constexpr uint8_t kOverloadSurfaceSend = 133;  // detail: slot
constexpr uint8_t kOverloadSurfaceNak = 138;   // detail: code * 65536 + slot
constexpr uint8_t kOverloadSurfaceType2 = 139; // detail: slot

// Message types.
constexpr uint8_t kSurfaceNak = 0x01;
constexpr uint8_t kSurfaceOverload = 0x02;
constexpr uint8_t kSurfaceEnterBootLoader = 0x03;
constexpr uint8_t kSurfacePoll = 0x04;        // to a panel: poll; from it: identity
constexpr uint8_t kSurfaceHexLine = 0x09;
constexpr uint8_t kSurfaceStartPolling = 0x0A;
constexpr uint8_t kSurfaceWorkSurface = 0x44; // data 0x3D after a poll, 0x39 after a NAK
constexpr uint8_t kSurfaceEngineReset = 0x51;
constexpr uint8_t kSurfaceFPGADate = 0x54;
constexpr uint8_t kSurfaceAskFPGADate = 0x57;
constexpr uint8_t kSurfaceLocalIOPoll = 0x58;
constexpr uint8_t kSurfaceSwitcherPoll = 0x5C;

// Single bytes on the line outside frames.
constexpr uint8_t kSurfaceAppAlive = 0xAA;
constexpr uint8_t kSurfaceBootLoaderAck = 0xCC;

// Window message the timer posts on every tick (nobody handles it).
constexpr int kSurfaceTimerTickMessage = 1024 + 281;

// The main window's name for a panel type; other codes as decimal; no panel
// (-1) and 255 as "".
std::string PanelTypeName(int code);
bool IsWorkSurfaceType(int type);
bool IsLocalIOType(int type);
bool IsSwitcherType(int type);

struct SurfaceLinkServices {
    ComPortOpener openPort;                                           // throws ComPortError("Cannot open ComPort n")
    std::function<std::unique_ptr<platform::TimerThread>()> newTimer; // the 10 ms timer thread
    platform::Clock* clock = nullptr;                                 // busy waits / sleeps: 55 ms, 100 ms, 2000 ms
    std::function<void(const std::string&)> displayMessage;           // main window's DisplayMessage (UI thread)
    std::function<void()> postTimerTick;                              // posts window message 1305; may be empty
    std::function<void(const std::string&)> writeLog;                 // the program's log; may be empty
};

// One port slot. Fields read by the poll tick and written on the
// user-interface thread are atomics; the rest belong to the UI thread.
struct SurfaceSlot {
    int16_t ComPortNumber = -1;
    int32_t PortBaudRate = kDefaultSurfaceBaudRate;
    // The open port, owned by the link. Replaced only on the UI thread under
    // the slot's lock; the timer thread uses it only under that lock.
    std::unique_ptr<ComStream> SurfacePort;
    std::atomic<int16_t> PanelType{-1};
    uint16_t PanelVersion = 0;
    std::atomic<uint8_t> ResponseCount{0};
    std::atomic<uint16_t> PollHoldoff{0};
};

class SurfaceLink {
public:
    explicit SurfaceLink(SurfaceLinkServices services);
    ~SurfaceLink(); // closes the link
    SurfaceLink(const SurfaceLink&) = delete;
    SurfaceLink& operator=(const SurfaceLink&) = delete;

    // "Serial.ini", section "SerialPorts".
    void LoadConfig(const platform::IniFile& serialIni);

    void Start_ISAS(bool runMain);
    void OpenSurfaceLink(bool flowControl);
    bool OpenSurfacePorts(bool flowControl);
    void CloseSurfaceLink();
    // Stops the 10 ms timer and leaves the ports as they are (closing after
    // the hardware links failed to start).
    void StopSurfaceTimer();
    void RestartSurfaceLink();
    void StartSurfacePolling();

    // body: the type byte, then the data. True when the whole frame was queued
    // or the slot has no open port. False when the link is closed, the slot is
    // not enabled, the body does not fit a frame (more than 254 bytes) - all
    // without a notice - or the port took only part of the frame (overload
    // notice 133).
    bool SendSurfaceMessage(int slot, const std::string& body);
    void SendSurfaceRaw(int slot, const std::string& bytes);
    // The body of the slot's next complete, valid message, or "". Never waits.
    std::string ReceiveSurfaceMessage(int slot);
    bool ReceiveAnySurfaceMessage(int& slot, std::string& body, int maxLength);
    // The slot's open port; nullptr for no port and for slots above 7.
    ComStream* GetSurfaceComPort(int slot);

    void PollTick();  // the poll tick (runs on the timer thread)
    void TimerTick(); // one 10 ms timer tick
    uint32_t TickCount() const { return SurfaceTickCount.load(std::memory_order_relaxed); }

    // Convenience readers of the per-slot state (any slot number; -1 / 0 outside 0..7).
    int16_t PanelType(int slot) const;
    void SetPanelType(int slot, int16_t type);
    uint16_t PanelVersion(int slot) const;

    // ---- link state ----
    std::array<SurfaceSlot, kSurfaceSlotCount> Slots;
    uint8_t NumPorts = 5;
    std::atomic<uint16_t> EnabledMask{255};
    std::atomic<uint16_t> TivaPorts{SlotBit(1) | SlotBit(2)};
    std::atomic<uint16_t> AutoBaudPorts{SlotBit(1) | SlotBit(2)};
    std::atomic<uint16_t> BootLoaderPorts{0};
    std::atomic<uint8_t> LocalIOPort{0};
    std::atomic<uint8_t> SwitcherPort{0};
    std::string LocalIOFPGADate = std::string(8, ' ');
    std::atomic<bool> PortsOpen{false};
    std::atomic<bool> PollHalt{false};
    std::atomic<uint32_t> SurfaceTickCount{0};
    int32_t VCPreconnectionDelay = 4000; // read from the configuration; nothing uses it

private:
    void SendNak(int slot, uint8_t reason);
    void ApplyReceiveEffects(int slot, const std::string& body);
    void DestroyPorts();
    void Sleep(int ms);

    SurfaceLinkServices services_;
    std::unique_ptr<platform::TimerThread> timer_;
    int pollCountdown_ = 0; // timer thread only (reset before the timer starts)
    // One per slot: held for a whole frame or burst and while the port is replaced.
    std::array<std::mutex, kSurfaceSlotCount> slotLocks_;
};

} // namespace ravelin::surface
