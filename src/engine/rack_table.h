#pragma once
#include <array>
#include <cstdint>

// The engine's rack records: 50 of 210 bytes, record 0 unused.
namespace ravelin::engine {

inline constexpr int RackCount = 50;
inline constexpr int RackRecordSize = 210;
using tRackRecord = std::array<uint8_t, RackRecordSize>;

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
    uint8_t Port(int i) const { return Records[i][1]; }
    uint8_t RackType(int i) const { return Records[i][108]; }
    bool VersionValid(int i) const { return (Records[i][4] & 2) != 0; }
};

} // namespace ravelin::engine
