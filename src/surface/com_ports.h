#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "surface/com_stream.h"
#include "surface/fifo.h"

namespace ravelin::platform {
class SerialDevice;
}

namespace ravelin::surface {

// What the serial ports need from the rest of the program; set once at
// start-up, before the first port is opened. A port keeps the services it was
// opened with.
struct ComPortServices {
    platform::EventLoop* loop = nullptr;                     // UI loop for the synchronous hand-over of messages; null: messages go to stderr
    std::function<void(const std::string&)> displayMessage;  // the main window's DisplayMessage, run on the UI thread
    std::function<std::string(int com)> devicePath;          // null -> "/dev/ttyS<com-1>"
    platform::Clock* clock = nullptr;                        // null -> platform::systemClock()
};
void SetComPortServices(ComPortServices services);

// The device behind port number `com` (1 for the first port).
std::string ComDevicePath(int com);

// A ComPortOpener: the port opened as a tComPort. Throws ComPortError.
std::unique_ptr<ComStream> OpenComPort(int com, int baudRate, bool flowControl);

// The text of a serial error code; system error numbers read "(" code ")".
std::string ErrorText(int32_t code);

// A port's worker: moves bytes between the device and the two queues. It
// sleeps in the kernel until bytes arrive, until the owner asks it to
// transmit (SetTransmitReady) or until the port is destroyed; it never polls.
class tComThread {
public:
    static constexpr int32_t QueueBytes = 4096;  // each queue holds 4095 bytes
    static constexpr int BlockBytes = 4096;      // most bytes moved per read or write
    static constexpr int TxWaitMs = 1000;        // longest wait for the driver to take a block

    // Starts the worker at once on the open device, which stays the owner's.
    tComThread(int32_t aCom, platform::SerialDevice& aDevice, ComPortServices services);
    // Stops the worker and waits for it. Gives up a pending message hand-over
    // first, so this never waits on the user-interface thread.
    ~tComThread();

    tComThread(const tComThread&) = delete;
    tComThread& operator=(const tComThread&) = delete;

    // Wakes the worker so that it looks at OutQueue.
    void SetTransmitReady();
    // Shows "COM<n> " + s through the main window's DisplayMessage on the
    // user-interface thread and waits until that has run (or the port closes).
    void DisplayMessage(const std::string& s);

    std::string MessageText;  // the text being handed over; under messageLock
    const int32_t nCom;
    tFiFo InQueue{1, QueueBytes};
    tFiFo OutQueue{1, QueueBytes};
    std::atomic<bool> Transmitting{false};
    std::atomic<bool> ClearIO{false};
    std::atomic<bool> SuspendTransmit{false};
    std::atomic<bool> TransmitSuspended{false};

private:
    void Execute();
    void Receive();
    void Transmit();
    // Writes the held block out; waits for the driver up to TxWaitMs, taking
    // input in between. Returns early when woken or closing.
    void WritePending();

    platform::SerialDevice& device;
    ComPortServices services;
    platform::Clock& clock;
    std::atomic<bool> closing{false};
    std::mutex messageLock;
    bool inputGone = false;  // the device hung up: it is no longer watched for input
    uint8_t rxBlock[BlockBytes];
    uint8_t txBlock[BlockBytes];
    int txLength = 0;  // bytes of txBlock taken from OutQueue
    int txDone = 0;    // of which the driver has taken this many
    std::thread worker;
};

// One serial port as a byte stream for the protocol code on the
// user-interface thread: Send and Receive only touch the queues and never
// wait on the device.
class tComPort : public ComStream {
public:
    // Opens port aCom; throws ComPortError("Cannot open ComPort <aCom>"),
    // leaving nothing open, when the device cannot be opened.
    tComPort(int32_t aCom, int32_t BaudRate, bool FlowControl);
    ~tComPort() override;

    // Queues Count bytes; returns Count, a short count when the queue stayed
    // full, or 0 when there was never room for all of them.
    int32_t Send(const void* Buffer, int32_t Count);
    int32_t SendString(const std::string& s);
    // Takes up to Count received bytes; never waits.
    int32_t Receive(void* Buffer, int32_t Count);
    bool PeekNextByte(uint8_t& Data);
    int32_t ReceivingCount();
    int32_t SendingCount();
    uint8_t ReceiveSpaceUsed();
    uint8_t SendSpaceUsed();
    void ClearInputQueue();
    // Drops the queued bytes and has the worker drop what the driver still
    // holds for output.
    void ClearOutputQueue();
    void ToggleDTR();

    // ComStream
    int send(const uint8_t* data, int count) override { return Send(data, count); }
    int receive(uint8_t* data, int count) override { return Receive(data, count); }
    bool peekNextByte(uint8_t& data) override { return PeekNextByte(data); }
    int receivingCount() override { return ReceivingCount(); }
    int sendingCount() override { return SendingCount(); }
    void clearInputQueue() override { ClearInputQueue(); }
    void clearOutputQueue() override { ClearOutputQueue(); }
    void toggleDTR() override { ToggleDTR(); }
    int comNumber() const override { return nCom; }

    const int32_t nCom;

private:
    ComPortServices services;
    platform::Clock& clock;
    std::unique_ptr<platform::SerialDevice> device;

public:
    std::unique_ptr<tComThread> ComThread;  // after device: it goes first
};

} // namespace ravelin::surface
