// Bytes from a panel, split into reads, into the surface link's receive
// (frame parsing, NAKs, identities and the other effects of a message).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_chunks.h"
#include "surface/fake_com.h"
#include "surface/isa_serial.h"
#include "surface/overloaded.h"

using namespace ravelin::surface;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    SetOverloadReceiver([](uint8_t, uint32_t) { return true; }, true);
    SurfaceLinkServices sv;
    sv.displayMessage = [](const std::string&) {};
    SurfaceLink link(std::move(sv));
    // The first byte picks the panel type of the slot (work surface, local
    // I/O, switcher ... ), so that each type's effects are reached.
    const int slot = data[0] & 3;
    link.SetPanelType(slot, static_cast<int16_t>(data[0]));
    auto line = std::make_shared<testing::FakeLine>();
    link.Slots[slot].SurfacePort = std::make_unique<testing::FakeComStream>(10 + slot, line);
    ravelin::fuzz::ForEachChunk(data + 1, size - 1, [&](const std::string& chunk) {
        line->feed(chunk);
        int from = -1;
        std::string body;
        while (link.ReceiveAnySurfaceMessage(from, body, 255)) {
        }
    });
    return 0;
}
