#include "surface/com_ports.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/serial_device.h"

namespace ravelin::surface {

namespace {

std::mutex servicesLock;
ComPortServices currentServices;

ComPortServices Services() {
    std::lock_guard<std::mutex> g(servicesLock);
    return currentServices;
}

platform::Clock& ClockOf(const ComPortServices& s) {
    return s.clock ? *s.clock : platform::systemClock();
}

// Tries per byte, and the pause between tries, when a queue has no room.
constexpr int kQueueTries = 10;
constexpr int kQueueRetryMs = 10;

} // namespace

void SetComPortServices(ComPortServices services) {
    std::lock_guard<std::mutex> g(servicesLock);
    currentServices = std::move(services);
}

std::string ComDevicePath(int com) {
    ComPortServices s = Services();
    if (s.devicePath) return s.devicePath(com);
    return "/dev/ttyS" + std::to_string(com - 1);
}

std::unique_ptr<ComStream> OpenComPort(int com, int baudRate, bool flowControl) {
    return std::make_unique<tComPort>(com, baudRate, flowControl);
}

std::string ErrorText(int32_t code) {
    switch (code) {
    case -1: return "Invalid Serial Port";
    case -2: return "Serial Port Already Open";
    case -3: return "Serial Port Not Open";
    case -4: return "Not Enough Memory for Serial Buffers";
    case -5: return "Invalid Parameters";
    case -10: return "Serial Port Not Available";
    case -11: return "Invalid Byte Size";
    case -12: return "Invalid Baud Rate";
    case -32768: return "Invalid Serial Port Mode";
    default: break;
    }
    if (code < 0) {
        // Other negative codes carry the line-error flags as their magnitude.
        static const std::pair<int64_t, const char*> flags[] = {
            {1, "Receive Queue Overflow"},  {2, "Receive Overrun"},
            {4, "Parity Error"},            {8, "Framing Error"},
            {16, "Break Error"},            {256, "Transmit Queue Overflow"},
            {512, "Parallel Device Timeout"}, {4096, "Out of Paper"},
        };
        int64_t bits = -int64_t(code);
        std::string text;
        for (const auto& [bit, name] : flags) {
            if (!(bits & bit)) continue;
            if (!text.empty()) text += ", ";
            text += name;
        }
        if (!text.empty()) return text;
    }
    return "(" + std::to_string(code) + ")";
}

// ---------------------------------------------------------------------------

tComThread::tComThread(int32_t aCom, platform::SerialDevice& aDevice, ComPortServices aServices)
    : nCom(aCom), device(aDevice), services(std::move(aServices)), clock(ClockOf(services)) {
    worker = std::thread([this] { Execute(); });
}

tComThread::~tComThread() {
    // Set before waking: a worker blocked in a message hand-over gives it up.
    closing = true;
    device.wake();
    if (worker.joinable()) worker.join();
}

void tComThread::SetTransmitReady() {
    if (int err = device.wake())
        DisplayMessage("Tx error: SetTransmitReady failed with error " + std::to_string(err));
}

void tComThread::DisplayMessage(const std::string& s) {
    std::string text = "COM" + std::to_string(nCom) + " " + s;
    if (text.size() > 255) text.resize(255);
    {
        std::lock_guard<std::mutex> g(messageLock);
        MessageText = text;
    }

    if (!services.loop || !services.displayMessage) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    if (services.loop->isLoopThread()) {
        services.displayMessage(text);
        return;
    }
    if (closing) return;
    // The task owns copies: if the hand-over is given up, the loop may still
    // run it after this port is gone.
    auto show = services.displayMessage;
    services.loop->send([show, text] { show(text); }, &closing);
}

void tComThread::Execute() {
    auto handleClearIO = [this] {
        if (!ClearIO) return;
        device.cancelOutput();
        txLength = txDone = 0;
        ClearIO = false;
    };

    while (!closing) {
        handleClearIO();
        bool holding = txDone < txLength;
        platform::SerialDevice::Events ev = device.wait(!inputGone, holding, -1);
        if (closing) break;
        handleClearIO();

        if (!inputGone && (ev.readable || ev.hangup)) Receive();
        TransmitSuspended = SuspendTransmit.load();
        if (!SuspendTransmit) {
            if (txDone < txLength) WritePending();
            else if (!OutQueue.Empty()) Transmit();
            // More queued than one block: go round again at once.
            if (txDone >= txLength && !OutQueue.Empty()) SetTransmitReady();
        }
    }
}

void tComThread::Receive() {
    int n = device.read(rxBlock, BlockBytes);
    if (n < 0) {
        // The line is gone; watching it would only report the hang-up again.
        inputGone = true;
        return;
    }
    for (int i = 0; i < n && !closing; ++i) {
        bool stored = false;
        for (int tries = 0; tries < kQueueTries && !closing; ++tries) {
            if ((stored = InQueue.Store(&rxBlock[i]))) break;
            clock.sleep(kQueueRetryMs);
        }
        if (!stored && !closing) DisplayMessage("Rx error: input queue locked or overflowed");
    }
}

void tComThread::Transmit() {
    Transmitting = false;
    int n = 0;
    while (n < BlockBytes && OutQueue.Retrieve(&txBlock[n])) ++n;
    txLength = n;
    txDone = 0;
    if (n > 0) WritePending();
}

void tComThread::WritePending() {
    while (txDone < txLength && !closing) {
        int n = device.write(txBlock + txDone, txLength - txDone);
        if (n < 0) {
            // The block is lost; the worker carries on with the next one.
            txLength = txDone = 0;
            DisplayMessage("Tx error: " + ErrorText(-n));
            return;
        }
        txDone += n;
        if (txDone >= txLength) break;

        platform::SerialDevice::Events ev = device.wait(!inputGone, true, TxWaitMs);
        if (!inputGone && (ev.readable || ev.hangup)) Receive();
        if (ev.woken) {
            // The owner wants a turn (clear, close or more to send): hand the
            // wake-up on to the main loop and keep the rest of the block.
            device.wake();
            return;
        }
        // Nothing taken for a whole second (a handshake holding us off): the
        // rest waits in the main loop, which still takes input meanwhile.
        if (!ev.writable && !ev.readable && !ev.hangup) return;
    }
}

// ---------------------------------------------------------------------------

tComPort::tComPort(int32_t aCom, int32_t BaudRate, bool FlowControl)
    : nCom(aCom), services(Services()), clock(ClockOf(services)) {
    std::string path = services.devicePath ? services.devicePath(aCom) : ComDevicePath(aCom);
    device = platform::SerialDevice::open(path, BaudRate, FlowControl);
    if (!device) throw ComPortError("Cannot open ComPort " + std::to_string(aCom));
    ComThread = std::make_unique<tComThread>(aCom, *device, services);
}

tComPort::~tComPort() {
    ComThread.reset();
    device.reset();
}

int32_t tComPort::Send(const void* Buffer, int32_t Count) {
    if (Count <= 0) return 0;
    tFiFo& queue = ComThread->OutQueue;
    for (int check = 1; queue.SpaceFree() < Count; ++check) {
        clock.sleep(kQueueRetryMs);
        if (check >= kQueueTries) return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    int32_t queued = 0;
    int failures = 0;
    while (queued < Count) {
        if (queue.Store(&bytes[queued])) {
            ++queued;
            continue;
        }
        if (++failures >= kQueueTries) return queued;
        clock.sleep(kQueueRetryMs);
    }
    ComThread->SetTransmitReady();
    return Count;
}

int32_t tComPort::SendString(const std::string& s) {
    return Send(s.data(), int32_t(s.size()));
}

int32_t tComPort::Receive(void* Buffer, int32_t Count) {
    auto* bytes = static_cast<uint8_t*>(Buffer);
    int32_t taken = 0;
    while (taken < Count && ComThread->InQueue.Retrieve(&bytes[taken])) ++taken;
    return taken;
}

bool tComPort::PeekNextByte(uint8_t& Data) { return ComThread->InQueue.Peek(&Data); }

int32_t tComPort::ReceivingCount() { return ComThread->InQueue.Count; }

int32_t tComPort::SendingCount() { return ComThread->OutQueue.Count; }

uint8_t tComPort::ReceiveSpaceUsed() { return ComThread->InQueue.SpaceUsed(); }

uint8_t tComPort::SendSpaceUsed() { return ComThread->OutQueue.SpaceUsed(); }

void tComPort::ClearInputQueue() { ComThread->InQueue.Clear(); }

void tComPort::ClearOutputQueue() {
    ComThread->OutQueue.Clear();
    ComThread->ClearIO = true;
    // The worker may be asleep or held off by the driver: its next turn is now.
    ComThread->SetTransmitReady();
}

void tComPort::ToggleDTR() {
    device->setDTR(true);
    clock.sleep(1);
    device->setDTR(false);
}

} // namespace ravelin::surface
