#include "surface/frame.h"

namespace ravelin::surface {

uint8_t FrameSum(const uint8_t* data, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

std::string EncodeFrame(std::string_view body) {
    if (body.empty() || body.size() > kMaxFrameBody) return {};
    std::string frame;
    frame.reserve(body.size() + 2);
    frame.push_back(static_cast<char>(body.size() + 1));
    frame.append(body);
    frame.push_back(static_cast<char>(FrameSum(reinterpret_cast<const uint8_t*>(frame.data()), frame.size())));
    return frame;
}

bool DecodeFrame(std::string_view frame, std::string& body) {
    if (frame.size() < 3) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(frame.data());
    if (static_cast<size_t>(p[0]) + 1 != frame.size()) return false;
    if (FrameSum(p, frame.size() - 1) != p[frame.size() - 1]) return false;
    body.assign(frame.substr(1, frame.size() - 2));
    return true;
}

} // namespace ravelin::surface
