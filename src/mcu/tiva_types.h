#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Types shared by the microcontroller boot-loader updater, the file-update
// protocol and every owner of either (surface panels, host board, cards).
namespace ravelin::mcu {

// The outcome an update event carries. Events may carry values above 5 (an
// abort reason less 64); every value other than tu_Ack is a failure.
enum tTivaUpdateError : uint8_t {
    tu_Ack = 0,
    tu_LengthError = 1,
    tu_ChecksumError = 2,
    tu_SizeError = 3,
    tu_FlashError = 4,
    tu_SequenceError = 5,
};

// Progress from 0.0 to 1.0 and the outcome so far.
using tTivaUpdateEvent = std::function<void(float Progress, uint8_t AckCode)>;

// What the boot-loader updater expects next.
enum tTivaUpdateState : uint8_t {
    ts_NoAck = 0,     // nothing
    ts_WaitAck = 1,   // the ACK or NAK of the packet just sent
    ts_WaitReply = 2, // a status packet
    ts_Error = 3,     // never entered
};

// Where the owners' texts go (the main window's DisplayMessage).
using DisplayFn = std::function<void(const std::string&)>;

} // namespace ravelin::mcu
