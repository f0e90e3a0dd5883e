// Replies of a device's file-update protocol, one message per chunk, into
// the file updater of a small file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_chunks.h"
#include "mcu/tiva_file_updater.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> file(size_t(data[0]) * 5 + 1, 0xA5);
    int finished = 0;
    mcu::tTivaFileUpdater updater([](const std::string&) {}, 11, std::move(file), [](const std::string&) {});
    updater.OnUpdatePacket = [](float, uint8_t) {};
    updater.OnEraseProgress = [](float, uint8_t) {};
    updater.OnUpdateFinished = [&](float, uint8_t) { ++finished; };
    updater.Start();
    fuzz::ForEachChunk(data + 1, size - 1, [&](const std::string& message) { updater.ReceiveMessage(message); });
    if (finished > 1) __builtin_trap(); // an update ends once
    return 0;
}
