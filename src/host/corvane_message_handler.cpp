#include "host/corvane_message_handler.h"

namespace ravelin::host {

tCorvaneMessageHandler::tCorvaneMessageHandler(tCorvaneHost* host, EngineSampleRateSink sink)
    : sink_(std::move(sink)) {
    if (!host) return;
    host->OnSampleRateChange = [this](tCorvanePort port, uint32_t rate) { SampleRateChange(port, rate); };
    host->OnEngineResetComplete = [this](uint8_t running) { EngineResetComplete(running); };
}

int tCorvaneMessageHandler::CorvaneToEnginePort(tCorvanePort port) {
    switch (port) {
    case vh_Ostra0: return 16;
    case vh_Ostra1: return 17;
    case vh_WordClock: return 1;
    case vh_USBAudio: return 20;
    }
    return 0;
}

void tCorvaneMessageHandler::SampleRateChange(tCorvanePort port, uint32_t sampleRate) {
    if (sink_) sink_(CorvaneToEnginePort(port), float(sampleRate));
}

} // namespace ravelin::host
