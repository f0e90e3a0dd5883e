#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ravelin::platform {

// One open serial device: raw 8N1 line, non-blocking reads and writes, and a
// wait that sleeps in the kernel until bytes arrive, the device can take more
// output, or another thread calls wake().
//
// wake() may be called from any thread; the line controls (DTR, RTS, break)
// may come from a thread other than the one reading and writing.
class SerialDevice {
public:
    // Opens `path` at `baudRate`, 8 data bits, no parity, one stop bit, with
    // RTS/CTS handshake or without, and leaves RTS (when not handshaking), DTR
    // and break low. Returns null when the device cannot be opened or set up;
    // `error`, when given, then receives why.
    static std::unique_ptr<SerialDevice> open(const std::string& path, int baudRate, bool flowControl,
                                              std::string* error = nullptr);

    // The line rate the device is set to for a requested `baudRate`: the
    // standard rate itself, or the nearest standard rate when it lies within
    // 2 % (a UART still locks on), else nothing.
    static std::optional<int> standardRate(int baudRate);

    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // What ended a wait().
    struct Events {
        bool readable = false;  // bytes are buffered
        bool writable = false;  // output can be written
        bool woken = false;     // wake() was called (consumed by this wait)
        bool hangup = false;    // the device is gone or in error
    };
    // Sleeps until one of the requested conditions holds, wake() is called or
    // timeoutMs passes (negative: no limit). With watchInput false the device
    // itself is not watched for input (nor for hang-ups).
    Events wait(bool watchInput, bool watchWritable, int timeoutMs);
    // Ends the current or next wait(). Returns 0, or the system error number.
    int wake();

    // Takes what is buffered, up to `max` bytes, without waiting. Returns the
    // count (0 when nothing is there) or minus the system error number; a
    // device that has hung up reads as -EIO.
    int read(uint8_t* data, int max);
    // Writes what the driver takes now, without waiting. Returns the count
    // (0 when it takes nothing yet) or minus the system error number.
    int write(const uint8_t* data, int count);
    // Drops output not yet sent.
    void cancelOutput();

    // Line controls. A device without modem lines (a pseudo-terminal) accepts
    // them silently. False only on a real failure.
    bool setDTR(bool on);
    bool setRTS(bool on);
    bool setBreak(bool on);

    // The rate the line runs at.
    int baudRate() const { return rate_; }

private:
    SerialDevice(int fd, int wakeFd, int rate) : fd_(fd), wakeFd_(wakeFd), rate_(rate) {}
    bool modemLine(int line, bool on);

    int fd_;
    int wakeFd_;
    int rate_;
};

} // namespace ravelin::platform
