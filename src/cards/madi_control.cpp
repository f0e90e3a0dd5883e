#include "cards/madi_control.h"

#include <algorithm>
#include <cstring>

namespace ravelin::cards {

namespace {

struct CodePair {
    uint16_t idLo;
    uint16_t code;
    bool channel; // the code is a base to which the engine header's Channel is added
};

constexpr CodePair kCodes[] = {
    {0x0B15, 0x2003, false}, {0x0B1B, 0x21C0, false}, {0x0B1E, 0x202E, false}, {0x0B25, 0x2D5A, false},
    {0x0B28, 0x2101, true},  {0x0B2F, 0x200F, false}, {0x0B3B, 0x201B, false}, {0x0B3C, 0x201C, false},
    {0x0B3D, 0x201A, false}, {0x0B3E, 0x2018, false}, {0x0B3F, 0x2019, false}, {0x0BC0, 0x2020, false},
    {0x0BC1, 0x2021, false}, {0x0BC2, 0x2022, false}, {0x0BC3, 0x2023, false}, {0x0BC4, 0x2024, false},
    {0x0BC5, 0x2025, false}, {0x0BC6, 0x2026, false}, {0x0BC7, 0x2027, false}, {0x0BC8, 0x2028, false},
    {0x0BC9, 0x2029, false}, {0x0BCA, 0x202A, false}, {0x0B81, 0x4201, true},  {0x0B82, 0x4301, true},
    {0x0B83, 0x4401, true},  {0x0B84, 0x4701, true},  {0x0B86, 0x4801, true},  {0x0B8A, 0x4C01, true},
    {0x0B8B, 0x4D00, false}, {0x0B90, 0x4601, true},  {0x0B93, 0x6201, true},  {0x0B94, 0x6301, true},
    {0x0B95, 0x6401, true},  {0x0B9C, 0x6A01, true},
};

// Channel codes coming from the card: 56 codes from the base, except the
// 0x0B28 family, which the card numbers from 0x2100 to 0x213F.
constexpr int kChannelCodes = 56;
constexpr uint16_t kWideFirst = 0x2100, kWideLast = 0x213F;

uint16_t word(std::string_view s, size_t i)
{
    return uint16_t(uint8_t(s[2 * i]) | uint8_t(s[2 * i + 1]) << 8);
}

void putWord(std::string& s, uint16_t w)
{
    s.push_back(char(uint8_t(w)));
    s.push_back(char(uint8_t(w >> 8)));
}

} // namespace

uint16_t EngineToMADICode(engine::tEngineHeader Header)
{
    for (const auto& c : kCodes)
        if (c.idLo == Header.IDlo()) return c.channel ? uint16_t(c.code + Header.Channel()) : c.code;
    return 0;
}

engine::tEngineHeader MADIToEngineID(uint16_t Code)
{
    const uint8_t channel = uint8_t(Code - 1);
    if (Code >= kWideFirst && Code <= kWideLast) return engine::MakeHeader(0x0B28, 0, channel);
    for (const auto& c : kCodes) {
        if (!c.channel) {
            if (c.code == Code) return engine::MakeHeader(c.idLo);
        } else if (c.idLo != 0x0B28 && Code >= c.code && Code < c.code + kChannelCodes) {
            return engine::MakeHeader(c.idLo, 0, channel);
        }
    }
    return 0;
}

std::string EngineToMADIMessage(engine::tEngineHeader Header, const uint8_t* Data, int Count)
{
    const uint16_t code = EngineToMADICode(Header);
    if (code == 0 || Count < 0 || Count > kMaxMADIDataBytes) return {};
    const int n = Count / 2 + 2;
    std::string m;
    putWord(m, code);
    putWord(m, uint16_t(n));
    // An odd last byte has no word to go in and is dropped.
    m.append(reinterpret_cast<const char*>(Data), size_t(Count / 2 * 2));
    uint16_t sum = 0;
    for (int i = 0; i < n; ++i) sum = uint16_t(sum + word(m, size_t(i)));
    putWord(m, sum);
    return m;
}

bool MADIToEngineMessage(std::string_view MADIMessage, int nOstraSlot, engine::tEngineMessage& Message)
{
    Message = engine::tEngineMessage{};
    if (MADIMessage.size() < 4) return false;
    const engine::tEngineHeader id = MADIToEngineID(word(MADIMessage, 0));
    const int n = word(MADIMessage, 1);
    if (id == 0) return false;
    // A word n that does not fit the engine message, or that points past the
    // bytes that came, would have the copy read or write beyond them.
    if (n < 2 || n > kMaxMADIWordIndex || MADIMessage.size() < size_t(2 * n + 2)) return false;
    Message.SetWordCount(uint8_t(n + 5));
    Message.SetHeader(engine::MakeHeader(id.IDlo(), uint8_t(nOstraSlot + 16), id.Channel()));
    if (n >= 4) Message.SetData32(uint32_t(word(MADIMessage, 2)) | uint32_t(word(MADIMessage, 3)) << 16);
    // The data words and the MADI checksum; the two words after them stay 0.
    std::memcpy(Message.Data(), MADIMessage.data() + 4, size_t(2 * n - 2));
    return true;
}

} // namespace ravelin::cards
