// Bytes from an interface card, in the reads the socket hands over, into its
// slot: frame parsing, the status, rack data, MADI control messages and the
// other devices behind the card.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cards/card_messages.h"
#include "cards/fake_tcp.h"
#include "cards/ostra_slot.h"
#include "fuzz_chunks.h"
#include "platform/virtual_event_loop.h"

using namespace ravelin;
using namespace ravelin::cards;

namespace {

struct Racks : OstraRackAccess {
    std::array<std::array<uint8_t, 210>, 50> records{};
    int RackOnPort(int port) override { return port & 1 ? 1 + port % 49 : -1; }
    uint8_t* RackRecord(int n) override { return records[size_t(n) % records.size()].data(); }
    uint32_t EngineSampleRate(int) override { return 48000; }
    int PartnerRack(int, int port) override { return port & 2 ? 2 : 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::VirtualEventLoop loop;
    auto sock = std::make_shared<test::FakeTcpState>();
    std::vector<std::string> log;
    Racks racks;
    OstraSlotServices services;
    services.engineAddress = "10.0.0.5";
    services.localAddress = "192.168.1.20";
    services.link = test::FakeLink(sock, log, &loop);
    services.racks = &racks;
    auto slot = NewOstraSlot(0, services);
    slot->OnMADIMessageReceived = [](int, int, const std::string&) {};
    slot->OnNetworkIDReceived = [](int, uint8_t) {};
    slot->OnRackDeviceDataReceived = [](int, const tIODeviceData&) {};
    slot->OnAMMShareMeterReceived = [](int, int, int) {};
    slot->OnDuzodMessageReceived = [](int, int, int) {};
    sock->connect();
    // The card answered the synchronisation as a running card.
    sock->deliver(std::string(1, char(kCardFirmwareRunning)));
    slot->Service();
    fuzz::ForEachChunk(data, size, [&](const std::string& chunk) {
        sock->deliver(chunk);
        slot->Service();
        sock->sent.clear();
    });
    return 0;
}
