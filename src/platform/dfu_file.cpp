#include "platform/dfu_file.h"

namespace ravelin::platform::dfu {

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, uint16_t(x));
    put16(v, uint16_t(x >> 16));
}

} // namespace

uint32_t Crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

bool ReadSuffix(const std::vector<uint8_t>& file, Suffix& s) {
    if (file.size() < kSuffixLength) return false;
    const uint8_t* p = file.data() + file.size() - kSuffixLength;
    if (p[8] != 'U' || p[9] != 'F' || p[10] != 'D') return false;
    s.bcdDevice = le16(p);
    s.idProduct = le16(p + 2);
    s.idVendor = le16(p + 4);
    s.bcdDFU = le16(p + 6);
    s.bLength = p[11];
    s.dwCRC = le32(p + 12);
    if (s.bLength < kSuffixLength || s.bLength > file.size()) return false;
    return Crc32(file.data(), file.size() - 4) == s.dwCRC;
}

bool ReadPrefix(const uint8_t* body, size_t bodyLength, Prefix& prefix) {
    if (bodyLength < kPrefixLength || body[0] != 0x01 || body[1] != 0x00) return false;
    const uint32_t length = le32(body + 4);
    if (length != bodyLength - kPrefixLength) return false;
    prefix.address = uint32_t(le16(body + 2)) * 1024u;
    prefix.length = length;
    return true;
}

std::vector<uint8_t> ProgramHeader(uint32_t address, uint32_t length) {
    std::vector<uint8_t> h{0x01, 0x00};
    put16(h, uint16_t(address / 1024));
    put32(h, length);
    return h;
}

std::vector<uint8_t> MakeDfuFile(const std::vector<uint8_t>& payload, uint32_t address, uint16_t idVendor,
                                 uint16_t idProduct, uint16_t bcdDevice) {
    std::vector<uint8_t> file;
    if (address != 0) file = ProgramHeader(address, uint32_t(payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());
    put16(file, bcdDevice);
    put16(file, idProduct);
    put16(file, idVendor);
    put16(file, 0x0100);
    file.insert(file.end(), {'U', 'F', 'D', 16});
    put32(file, Crc32(file.data(), file.size()));
    return file;
}

} // namespace ravelin::platform::dfu
