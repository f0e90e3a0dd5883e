#pragma once
#include <array>
#include <cstdint>
#include <string>

// The engine's messages: 16-bit little-endian words, word 0 holding the
// word count (the index of the checksum word) and the status, then the
// sequence number, the destination, the 4-byte header, the data, and last
// the wrap-around sum of every word before it.
namespace ravelin::engine {

struct tEngineHeader {
    uint32_t IDfull = 0;

    constexpr tEngineHeader() = default;
    constexpr tEngineHeader(uint32_t v) : IDfull(v) {}
    constexpr operator uint32_t() const { return IDfull; }
    constexpr uint8_t Parameter() const { return uint8_t(IDfull); }
    constexpr uint8_t Module() const { return uint8_t(IDfull >> 8); }
    constexpr uint8_t Band() const { return uint8_t(IDfull >> 16); }
    constexpr uint8_t Channel() const { return uint8_t(IDfull >> 24); }
    constexpr uint16_t IDlo() const { return uint16_t(IDfull); }
    constexpr uint16_t IDhi() const { return uint16_t(IDfull >> 16); }
};

constexpr tEngineHeader MakeHeader(uint16_t idLo) { return tEngineHeader(idLo); }
constexpr tEngineHeader MakeHeader(uint16_t idLo, uint8_t band, uint8_t channel) {
    return tEngineHeader(uint32_t(idLo) | uint32_t(band) << 16 | uint32_t(channel) << 24);
}

// Room for the longest message (255 as word count, so 256 words) and the
// filler of its last 8-byte unit.
inline constexpr int kMaxMessageWords = 256;
inline constexpr int kStandardWordCount = 7;

struct tEngineMessage {
    std::array<uint8_t, 2 * kMaxMessageWords + 8> Bytes{};

    uint8_t WordCount() const { return Bytes[0]; }
    void SetWordCount(uint8_t n) { Bytes[0] = n; }
    uint8_t Status() const { return Bytes[1]; }
    void SetStatus(uint8_t s) { Bytes[1] = s; }
    uint16_t Word(int i) const { return uint16_t(Bytes[2 * i] | Bytes[2 * i + 1] << 8); }
    void SetWord(int i, uint16_t w) {
        Bytes[2 * i] = uint8_t(w);
        Bytes[2 * i + 1] = uint8_t(w >> 8);
    }
    uint32_t Long(int byte) const {
        return uint32_t(Bytes[byte]) | uint32_t(Bytes[byte + 1]) << 8 | uint32_t(Bytes[byte + 2]) << 16 |
               uint32_t(Bytes[byte + 3]) << 24;
    }
    void SetLong(int byte, uint32_t v) {
        for (int k = 0; k < 4; ++k) Bytes[byte + k] = uint8_t(v >> (8 * k));
    }
    uint16_t Sequence() const { return Word(1); }
    void SetSequence(uint16_t s) { SetWord(1, s); }
    uint16_t DestID() const { return Word(2); }
    tEngineHeader Header() const { return Long(6); }
    void SetHeader(tEngineHeader h) { SetLong(6, h.IDfull); }
    uint32_t Data32() const { return Long(10); }
    void SetData32(uint32_t v) { SetLong(10, v); }
    float DataFloat() const;
    uint16_t Checksum() const { return Word(WordCount()); }
    uint8_t* Data() { return Bytes.data() + 10; }
    const uint8_t* Data() const { return Bytes.data() + 10; }
};

// Wrap-around sum of words 0 .. WordCount - 1.
uint16_t EngineChecksum(const tEngineMessage& m);
// Word count, status 0, sequence 0, destination 0, header and data.
void InitEngineMessage(tEngineMessage& m, uint8_t wordCount, tEngineHeader header, uint32_t data32);
// A standard message (7 as word count) with its checksum in place.
tEngineMessage StandardMessage(uint8_t status, tEngineHeader header, uint32_t data32, uint16_t sequence = 0);

// "status N: text".
std::string EngineStatusText(int code);
const std::string& ModuleName(int module);
const std::string& ParameterName(int parameter);

// Upper-case hexadecimal with at least `digits` digits.
std::string Hex(uint32_t value, int digits);

// The log line of a message: prefix, the fields in hexadecimal, the data as
// a float, the checksum and the module and parameter names.
std::string EngineMessageLine(const std::string& prefix, const tEngineMessage& m);

} // namespace ravelin::engine
