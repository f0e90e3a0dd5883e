#pragma once
#include <cstdint>
#include <functional>

#include "host/corvane_host.h"

namespace ravelin::host {

// Copies the board's sample-rate reports into the engine link's table of
// sample rates by engine port.
class tCorvaneMessageHandler {
public:
    // Stores one rate at an engine port number.
    using EngineSampleRateSink = std::function<void(int enginePort, float sampleRate)>;

    // Attaches itself to the host's sample-rate and engine-reset events; a
    // null host is left alone.
    tCorvaneMessageHandler(tCorvaneHost* host, EngineSampleRateSink sink);

    static int CorvaneToEnginePort(tCorvanePort port);
    void SampleRateChange(tCorvanePort port, uint32_t sampleRate);
    void EngineResetComplete(uint8_t FPGAsRunning) {}

private:
    EngineSampleRateSink sink_;
};

} // namespace ravelin::host
