#pragma once
#include <cstdint>
#include <string>

// The engine host board's serial messages: one message type per frame, the
// type in the frame's header byte. Numbers of the board's protocol live here
// and nowhere else.
namespace ravelin::host {

constexpr int kHostBaudRate = 115200;

// Message headers.
constexpr uint8_t kHostAYT = 0;
constexpr uint8_t kHostRestart = 1;
constexpr uint8_t kHostError = 2;
constexpr uint8_t kHostBoot = 4;
constexpr uint8_t kHostEcho = 5;
constexpr uint8_t kHostUpdateHostFPGA = 39;
constexpr uint8_t kHostUpdateUSBAudio = 40;
constexpr uint8_t kHostUpdateXMOS = 41;
constexpr uint8_t kHostStatus = 60;
constexpr uint8_t kHostSampleRate = 61;
constexpr uint8_t kHostResetEngine = 62;
constexpr uint8_t kHostUpdateEngineFPGA = 63;
constexpr uint8_t kHostSyncSource = 64;
constexpr uint8_t kHostTemperature = 65;
constexpr uint8_t kHostVoltages = 66;
constexpr uint8_t kHostIPAddress = 68;
constexpr uint8_t kHostSubnetMask = 69;
constexpr uint8_t kHostUDPorTCP = 70;
constexpr uint8_t kHostSetDateTime = 71;
constexpr uint8_t kHostRecoveryState = 80;

// Bytes of the Status reply.
constexpr int kHostStatusLength = 12;
// Most data bytes one message carries.
constexpr int kHostMaxData = 253;

// The codes of a frame the program rejects, sent back in an Error message;
// the same numbers as the file-update protocol's acknowledge codes.
constexpr uint8_t tu_Ack = 0;
constexpr uint8_t tu_LengthError = 1;
constexpr uint8_t tu_ChecksumError = 2;
constexpr uint8_t tu_FlashError = 4;

// The board's clock sources, in the order of their ordinals on the wire.
enum tCorvanePort : uint8_t { vh_Ostra0 = 0, vh_Ostra1 = 1, vh_WordClock = 2, vh_USBAudio = 3 };
constexpr int kCorvanePortCount = 4;
constexpr int kCorvaneVoltageCount = 7;

// The name traces show for a header; a header without a name is its decimal
// number followed by "?".
std::string MessageName(uint8_t header);

} // namespace ravelin::host
