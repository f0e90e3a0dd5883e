// A boot loader's answers, split into reads, into the serial boot-loader
// update of a small image.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_chunks.h"
#include "mcu/tiva_updater.h"
#include "surface/fake_clock.h"
#include "surface/fake_com.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    auto line = std::make_shared<surface::testing::FakeLine>();
    surface::testing::FakeComStream port{11, line};
    mcu::tTivaSerialMessenger messenger{&port};
    surface::testing::FakeClock clock;
    std::vector<uint8_t> image(size_t(data[0]) * 3 + 1, 0x5A);
    mcu::tTivaUpdater updater(messenger, std::move(image), data[0] & 1, clock, [](const std::string&) {});
    int finished = 0;
    updater.OnProgress = [](float, uint8_t) {};
    updater.OnFinished = [&](float, uint8_t) { ++finished; };
    updater.Start();
    fuzz::ForEachChunk(data + 1, size - 1, [&](const std::string& chunk) {
        line->feed(chunk);
        for (int i = 0; i < 4; ++i) updater.PollTimerEvent();
        line->takeWritten();
    });
    if (finished > 1) __builtin_trap(); // an update ends once
    return 0;
}
