#pragma once
#include <array>
#include <cstdint>
#include <string>

// The records a card slot keeps for the devices behind its card.
namespace ravelin::cards {

enum tMADITransmitMode : uint8_t { madi48k = 0, TarvolaControl = 1, madi96kSmux = 2, madi96kHispeed = 3 };
enum tOstraSRCState : uint8_t { src_Off = 0, src_Down = 1, src_Up = 2 };

// The 40-byte device data of a rack, laid out as the engine sends it:
// AssemblyDate (Day, Month, Year 16-bit) at 0, RackType 16-bit at 4, SlotData
// 14 x 16-bit at 6, OptoSlot8in at 34, OptoSlot8out at 35, ValidSync at 36.
// 16-bit fields are stored least significant byte first.
struct tIODeviceData {
    static constexpr int Size = 40;
    static constexpr int SlotCount = 14;
    std::array<uint8_t, Size> Bytes{};

    void SetWord(int offset, uint16_t v)
    {
        Bytes[size_t(offset)] = uint8_t(v);
        Bytes[size_t(offset) + 1] = uint8_t(v >> 8);
    }
    uint16_t Word(int offset) const { return uint16_t(Bytes[size_t(offset)] | Bytes[size_t(offset) + 1] << 8); }
    uint16_t RackType() const { return Word(4); }
    uint16_t SlotData(int slot) const { return Word(6 + 2 * slot); }
    uint8_t AssemblyDay() const { return Bytes[0]; }
    uint8_t AssemblyMonth() const { return Bytes[1]; }
    uint16_t AssemblyYear() const { return Word(2); }
    bool operator==(const tIODeviceData&) const = default;
};

// A Duzod device's network settings: 14 bytes on the wire, NetworkPort, then
// IPAddress, SubnetMask and GateWay (each as it lies in memory, least
// significant byte first), then DHCPUsage.
struct tDuzodIPRec {
    static constexpr int Size = 14;
    uint8_t NetworkPort = 0;
    uint32_t IPAddress = 0; // network byte order: the first byte of the address is the low byte
    uint32_t SubnetMask = 0;
    uint32_t GateWay = 0;
    uint8_t DHCPUsage = 0;

    std::string ToBytes() const;
    // Missing bytes read as 0.
    static tDuzodIPRec FromBytes(const std::string& bytes);
    bool operator==(const tDuzodIPRec&) const = default;
};

struct tDuzodDataRec {
    std::string DeviceName;   // up to 64 characters
    std::string SerialNumber; // up to 24 characters
    std::array<uint8_t, 3> Version{};
    uint8_t ExternalDeviceCode = 0;
    std::array<uint16_t, 2> ExternalControlPorts{};
    std::array<tDuzodIPRec, 2> IPData{};
};

struct tDante64SocketDataRec {
    uint32_t SocketType = 0;
    uint32_t Gain = 0;
    bool Pad = false;
    bool Phantom = false;
    bool Src = false;
    bool DataDirty = false;
};

struct tDante64DataRec {
    static constexpr int SocketCount = 64;
    std::array<tDante64SocketDataRec, SocketCount> SocketData{};
    std::string SpidVersion;
};

} // namespace ravelin::cards
