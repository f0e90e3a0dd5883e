#pragma once
#include <cstdint>

namespace ravelin::platform {

// Millisecond tick count and sleeping: the waits the protocols name (20 ms
// between surface messages, 55 ms after opening the ports, 1 s before an
// update is finished) all go through here, so tests can run them in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; wraps like a 32-bit counter.
    virtual uint32_t tickCount() = 0;
    // Blocks the calling thread; a virtual clock only moves its time on.
    virtual void sleep(int ms) = 0;
};

// The real clock of the machine.
Clock& systemClock();

} // namespace ravelin::platform
