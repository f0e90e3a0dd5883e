// Bytes from the engine host board into its serial link's service step.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_chunks.h"
#include "host/corvane_host.h"
#include "surface/fake_com.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    surface::testing::FakePorts ports;
    auto line = ports.add(3);
    host::HostServices services{ports.opener(), [](const std::string&) {}, [](const std::string&) {}};
    host::tCorvaneHost h(3, true, "Corvane", std::move(services));
    h.Logging = true;
    h.OnSampleRateChange = [](host::tCorvanePort, uint32_t) {};
    h.OnEngineResetComplete = [](uint8_t) {};
    h.OnEngineFPGAUpdateComplete = [](uint8_t) {};
    h.OnXMOSUpdateComplete = [](uint8_t) {};
    h.SetFileUpdateReceiver([](const std::string&) {});
    fuzz::ForEachChunk(data, size, [&](const std::string& chunk) {
        line->feed(chunk);
        h.Service();
        line->takeWritten();
    });
    return 0;
}
