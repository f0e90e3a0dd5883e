#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine_message.h"

// The MADI control messages a rack behind an interface card speaks, and their
// conversion to and from the engine's i/o device messages (module 11). A MADI
// control message is a run of 16-bit little-endian words: the control code,
// n (the index of the checksum word), the data words, and the wrap-around sum
// of words 0 .. n - 1.
namespace ravelin::cards {

// The longest engine data that still fits one card frame once converted.
inline constexpr int kMaxMADIDataBytes = 240;
// A frame length byte caps what an incoming message can hold, and the engine
// message's 8-bit word count (n + 5) caps n.
inline constexpr int kMaxMADIWordIndex = 250;

// The MADI code of an engine header (channel codes take the header's Channel
// byte); 0 when it has none.
uint16_t EngineToMADICode(engine::tEngineHeader Header);
// The engine header of a MADI code (Band 0; Channel from a channel code); 0
// when it has none.
engine::tEngineHeader MADIToEngineID(uint16_t Code);
// The MADI control message for engine data of Count bytes; empty when the
// header has no code or the data is too long.
std::string EngineToMADIMessage(engine::tEngineHeader Header, const uint8_t* Data, int Count);
// The engine message of a MADI control message from the card of slot
// nOstraSlot (its Band 16 + slot). False, with nothing to hand on, when the
// code has no counterpart or the message is shorter than its word n says.
bool MADIToEngineMessage(std::string_view MADIMessage, int nOstraSlot, engine::tEngineMessage& Message);

} // namespace ravelin::cards
