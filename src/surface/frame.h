#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The frame the surface panels, the engine host board and the interface
// cards share: a length byte (the bytes that follow it: body and checksum),
// the body (a type or header byte, then data), and an 8-bit checksum, the sum
// of every byte of the frame before it.
namespace ravelin::surface {

// The longest body a length byte can describe.
constexpr size_t kMaxFrameBody = 254;

// The 8-bit sum of `n` bytes.
uint8_t FrameSum(const uint8_t* data, size_t n);

// The whole frame around `body`; empty when the body is empty or longer than
// kMaxFrameBody (a frame is never cut).
std::string EncodeFrame(std::string_view body);

// Checks a whole frame (length byte first, checksum last): true when its
// length byte matches its size and its checksum holds; `body` then holds the
// bytes between them.
bool DecodeFrame(std::string_view frame, std::string& body);

} // namespace ravelin::surface
