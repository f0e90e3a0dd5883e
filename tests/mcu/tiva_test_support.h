#pragma once
// Shared helpers of the microcontroller update tests: byte strings written
// like a line trace, and the record of an updater's events.

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace ravelin::mcu::testing {

// "03 20 20" -> bytes.
inline std::string Unhex(const std::string& text) {
    std::istringstream in(text);
    std::string out, tok;
    while (in >> tok) out.push_back(static_cast<char>(std::stoi(tok, nullptr, 16)));
    return out;
}

inline std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c);
        out += buf;
    }
    return out;
}

inline std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
    return v;
}

struct Event {
    float progress;
    uint8_t ack;
};

} // namespace ravelin::mcu::testing
