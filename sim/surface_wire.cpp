#include "surface_wire.h"

#include <stdexcept>

namespace ravelin::sim {

uint8_t surfaceChecksum(const uint8_t* frame, std::size_t lengthAndBody)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < lengthAndBody; ++i)
        sum += frame[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

std::vector<uint8_t> surfaceFrame(uint8_t type, const std::vector<uint8_t>& data)
{
    // The length byte counts type, data and checksum, so the body may not
    // exceed 254 bytes.
    if (data.size() + 1 > 254)
        throw std::length_error("surface message too long to frame");
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + 3);
    frame.push_back(static_cast<uint8_t>(data.size() + 2));
    frame.push_back(type);
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(surfaceChecksum(frame.data(), frame.size()));
    return frame;
}

} // namespace ravelin::sim
