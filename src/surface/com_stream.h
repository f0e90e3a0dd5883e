#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace ravelin::surface {

// What the protocol code sees of one serial port: a byte stream that never
// blocks. tComPort is the real one (a worker thread behind two locked queues);
// tests put an in-memory one in its place.
class ComStream {
public:
    virtual ~ComStream() = default;
    // Queues count bytes; returns how many were queued (0 when none could be).
    virtual int send(const uint8_t* data, int count) = 0;
    // Takes up to count received bytes; never waits.
    virtual int receive(uint8_t* data, int count) = 0;
    // The oldest received byte, left in place; false when none is queued.
    virtual bool peekNextByte(uint8_t& data) = 0;
    virtual int receivingCount() = 0;
    virtual int sendingCount() = 0;
    virtual void clearInputQueue() = 0;
    virtual void clearOutputQueue() = 0;
    // A DTR pulse of about a millisecond, leaving DTR low.
    virtual void toggleDTR() = 0;
    // The port number (1 for the first port).
    virtual int comNumber() const = 0;
};

// Raised when a port cannot be opened; what() is "Cannot open ComPort " and the number.
class ComPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens port `com` at `baudRate`, with RTS/CTS flow control or none.
// Throws ComPortError when the device cannot be opened.
using ComPortOpener =
    std::function<std::unique_ptr<ComStream>(int com, int baudRate, bool flowControl)>;

} // namespace ravelin::surface
