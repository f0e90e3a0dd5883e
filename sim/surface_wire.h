#pragma once
// The panels' end of the surface serial line: how a message is framed.
//
// A frame is a length byte L (the number of bytes that follow: type, data and
// checksum), the message type, the data and a checksum that is the sum of L and
// every body byte, modulo 256. Written here from the line's description alone,
// so that the console program and the virtual console do not share a mistake.

#include <cstdint>
#include <vector>

namespace ravelin::sim {

// Message types seen on the surface line.
namespace surface_msg {
constexpr uint8_t Nak = 0x01;
constexpr uint8_t Overload = 0x02;
constexpr uint8_t EnterBootLoader = 0x03;
constexpr uint8_t Poll = 0x04;        // also the type of the identity reply
constexpr uint8_t HexLine = 0x09;     // also the type of the reply to a hex line
constexpr uint8_t StartPolling = 0x0A;
constexpr uint8_t FileUpdate = 0x0B;
constexpr uint8_t Surface = 0x44;
constexpr uint8_t EngineReset = 0x51;
constexpr uint8_t FpgaDate = 0x54;    // the local I/O unit's FPGA date, "ddmmyyyy"
constexpr uint8_t FpgaDateRequest = 0x57; // "W"
constexpr uint8_t LocalIO = 0x58;
constexpr uint8_t Switcher = 0x5C;
} // namespace surface_msg

// Single bytes outside frames.
constexpr uint8_t kApplicationAlive = 0xAA;
constexpr uint8_t kAutoBaudByte = 0x55; // two of them: "UU"

uint8_t surfaceChecksum(const uint8_t* frame, std::size_t lengthAndBody);

// A whole frame for a message of the given type and data (type plus data at
// most 254 bytes).
std::vector<uint8_t> surfaceFrame(uint8_t type, const std::vector<uint8_t>& data = {});

} // namespace ravelin::sim
