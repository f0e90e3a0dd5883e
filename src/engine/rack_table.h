#pragma once
#include <array>
#include <cstdint>
#include <string>

// The engine's rack records: 50 of 210 bytes, record 0 unused. A record is
// kept for the whole run once a rack has been seen on a port, so a rack's
// number stays the same when it goes and comes back.
namespace ravelin::engine {

inline constexpr int RackCount = 50;
inline constexpr int RackRecordSize = 210;
inline constexpr int kDeviceDataOffset = 104;
inline constexpr int kDeviceDataSize = 40;
using tRackRecord = std::array<uint8_t, RackRecordSize>;

// Record bytes.
inline constexpr int rbKind = 0;
inline constexpr int rbPort = 1;
inline constexpr int rbFlags = 4;
inline constexpr int rbRackType = kDeviceDataOffset + 4;  // 108
inline constexpr int rbSpan = 208;
inline constexpr int rbCardSlot = 209;
// Flag bits.
inline constexpr uint8_t rfPresent = 1;
inline constexpr uint8_t rfReportsValid = 2;
inline constexpr uint8_t rfSpansNextPort = 32;

struct RackTable {
    std::array<tRackRecord, RackCount> Records{};

    void Clear() { Records = {}; }
    // Records 1 and 2 are the racks behind card slots 0 and 1.
    void AddOstraRacks() {
        for (int i = 1; i <= 2; ++i) {
            auto& r = Records[i];
            r[0] = 2;
            r[1] = static_cast<uint8_t>(15 + i);
            r[2] = 57;
            r[3] = 2;
            r[208] = 5;
            r[209] = static_cast<uint8_t>(i - 1);
        }
    }
    uint8_t Port(int i) const { return Records[i][rbPort]; }
    uint8_t Kind(int i) const { return Records[i][rbKind]; }
    uint16_t RackType(int i) const { return uint16_t(Records[i][rbRackType] | Records[i][rbRackType + 1] << 8); }
    bool VersionValid(int i) const { return (Records[i][rbFlags] & rfReportsValid) != 0; }
};

// The rack number of an engine port: the record already holding the port,
// else the default numbering of the port ranges; 0 when there is none.
int RackIndexForPort(const RackTable& t, uint8_t port);
// The first record on a port (or spanning into it from the port before); -1.
int RackOnPort(const RackTable& t, int port);
bool IsLocalRack(const RackTable& t, int i);
// The record of the other half of a two-record device; -1 when none.
int PartnerRack(const RackTable& t, int kind, int port);
// A device kind's short name; empty for kinds without one.
const std::string& DeviceKindName(int kind);
// The name a rack is shown under ("Rack 1.14", "Rack D1b", "Mic 2.3").
std::string RackName(const RackTable& t, int i);

} // namespace ravelin::engine
