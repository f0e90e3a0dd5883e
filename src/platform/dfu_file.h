#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// DFU image files: the 16-byte suffix at the end (device, product and vendor
// IDs, DFU version, "UFD", its length and a CRC-32 over everything before the
// CRC) and the optional 8-byte prefix, which is the boot loader's own program
// command (command 0x01, the start address in KiB, the payload length), so
// that the file without its suffix streams to the device unchanged.
namespace ravelin::platform::dfu {

constexpr size_t kSuffixLength = 16;
constexpr size_t kPrefixLength = 8;
constexpr uint16_t kAnyId = 0xFFFF;

// Reflected CRC-32, polynomial 0x04C11DB7, start 0xFFFFFFFF, no final XOR
// ("123456789" gives 0x340BC6D9).
uint32_t Crc32(const uint8_t* data, size_t n);

struct Suffix {
    uint16_t bcdDevice = 0;
    uint16_t idProduct = kAnyId;
    uint16_t idVendor = kAnyId;
    uint16_t bcdDFU = 0x0100;
    uint8_t bLength = 16;
    uint32_t dwCRC = 0;
};

// Reads the suffix; false when the signature, the length or the CRC is wrong.
bool ReadSuffix(const std::vector<uint8_t>& file, Suffix& suffix);

struct Prefix {
    uint32_t address = 0;  // start address: the KiB number x 1024
    uint32_t length = 0;   // payload bytes after the prefix
};

// The prefix of a file without its suffix (`body` bytes long): command 0x01,
// byte 1 zero, and a length that leaves exactly the payload.
bool ReadPrefix(const uint8_t* body, size_t bodyLength, Prefix& prefix);

// The 8-byte program command for `length` bytes at `address`.
std::vector<uint8_t> ProgramHeader(uint32_t address, uint32_t length);

// A whole DFU file: prefix (when address is not 0), payload and suffix.
std::vector<uint8_t> MakeDfuFile(const std::vector<uint8_t>& payload, uint32_t address, uint16_t idVendor,
                                 uint16_t idProduct, uint16_t bcdDevice = 0);

} // namespace ravelin::platform::dfu
