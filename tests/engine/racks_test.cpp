// Rack numbers, names, reports and the Optocore device message.

#include "engine/rack_messages.h"
#include "engine_fixture.h"

namespace ravelin::engine::testing {
namespace {

TEST(RackTableTest, PortsMapToRackNumbers) {
    RackTable t;
    struct Case { int port; int rack; };
    for (Case c : {Case{42, 5}, Case{55, 18}, Case{74, 19}, Case{87, 32}, Case{16, 1}, Case{2, 4}, Case{3, 3},
                   Case{33, 0}, Case{0, 0}})
        EXPECT_EQ(RackIndexForPort(t, uint8_t(c.port)), c.rack) << c.port;
    t.Records[7][rbPort] = 42;
    EXPECT_EQ(RackIndexForPort(t, 42), 7);
}

TEST(RackTableTest, NamesFollowKindAndPort) {
    RackTable t;
    struct Case { int kind; int port; const char* name; };
    for (Case c : {Case{0, 45, "Rack 1.14"}, Case{0, 0, "Rack n/c"}, Case{9, 16, "Rack D1b"},
                   Case{50, 66, "Mic 2.3"}, Case{25, 3, "MADI"}, Case{31, 3, "Rack 3a"}}) {
        t.Records[1][rbKind] = uint8_t(c.kind);
        t.Records[1][rbPort] = uint8_t(c.port);
        EXPECT_EQ(RackName(t, 1), c.name) << c.kind << " " << c.port;
    }
}

TEST(RackTableTest, PartnersAndSpanningRacks) {
    RackTable t;
    t.Records[3] = {};
    t.Records[3][rbKind] = 79;
    t.Records[3][rbPort] = 17;
    EXPECT_EQ(PartnerRack(t, 51, 0), 3);
    EXPECT_EQ(PartnerRack(t, 51, 17), 3);
    EXPECT_EQ(PartnerRack(t, 8, 17), -1);
    t.Records[4][rbPort] = 44;
    t.Records[4][rbSpan] = 2;
    t.Records[4][rbFlags] = rfSpansNextPort;
    EXPECT_EQ(RackOnPort(t, 45), 4);
    EXPECT_EQ(RackOnPort(t, 46), -1);
}

using RackReports = EngineFixture;

TEST_F(RackReports, DeviceDataRecordsARackAndItsGoingAway) {
    std::vector<uint8_t> data(40, 0);
    data[0] = 0x01;
    data[4] = 9;
    Reply(stRequestOK, MakeHeader(idDeviceData, 42, 0), data);
    EXPECT_EQ(racks.Port(5), 42);
    EXPECT_EQ(racks.RackType(5), 9);
    EXPECT_TRUE(racks.VersionValid(5));
    EXPECT_EQ(window.refreshRacks, 1);
    window.rows[5] = 20;
    Reply(stRequestOK, MakeHeader(idDeviceData, 42, 0), {});
    EXPECT_FALSE(racks.VersionValid(5));
    EXPECT_EQ(racks.Port(5), 42);  // the record stays
    EXPECT_EQ(window.running[20], "");
    Reply(stRequestOK, MakeHeader(idDeviceData, 33, 0), data);
    EXPECT_EQ(racks.Port(33 - 0), 0);
}

TEST_F(RackReports, VersionReportsFillOnlyShownRacks) {
    racks.Records[5][rbPort] = 42;
    auto report = [&](uint32_t value, uint16_t item) {
        auto d = Le32(value);
        d.push_back(uint8_t(item));
        d.push_back(0);
        Reply(0, MakeHeader(idVersionReport, 42, 0), d);
    };
    report(0x0107, 6);
    EXPECT_TRUE(window.running.empty());  // no rows: nothing written
    window.rows[5] = 20;
    report(0x0107, 6);
    EXPECT_EQ(window.running[20], "1.7");
    report(0x06152021, 9);  // bytes 21 20 15 06
    EXPECT_EQ(window.running[21], "15/06/2021");
    Reply(0, MakeHeader(idRackBoot, 42, 0), Le32(11));
    EXPECT_EQ(control.messages.back(), "Rack boot error: bad flash checksum");
}

TEST_F(RackReports, OptocoreDeviceModeMessage) {
    unit->Dispatch().Racks().SetOptocoreDeviceMode(1, 255, 5);
    auto m = Sent();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].Header(), hdrOptocore);
    const std::vector<uint8_t> expected = {5, 2, 1, 255, 5, 12};
    EXPECT_EQ(std::vector<uint8_t>(m[0].Data(), m[0].Data() + 6), expected);
}

} // namespace
} // namespace ravelin::engine::testing
