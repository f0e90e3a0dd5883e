#pragma once
// A hex line as the program frames it, written out by hand for the sim's tests.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ravelin::sim::test_bytes {

inline std::vector<uint8_t> hexLineFrame(const std::string& line)
{
    // Length = type + text + checksum; checksum = length + type + text.
    std::vector<uint8_t> f(line.size() + 3);
    f[0] = uint8_t(line.size() + 2);
    f[1] = 0x09;
    std::copy(line.begin(), line.end(), f.begin() + 2);
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
    f.back() = uint8_t(sum);
    return f;
}

} // namespace ravelin::sim::test_bytes
