#pragma once
#include <cstdint>
#include <string>

namespace ravelin::engine {

// "dd/mm/yyyy" of a BCD date held as day, month, year within the century,
// century; empty when the bytes do not form a valid date.
std::string BcdDateText(uint8_t day, uint8_t month, uint8_t year, uint8_t century);
// The engine's dates: the four bytes of a 32-bit value in that order.
std::string EngineDateText(uint32_t bcd);
// A rack's dates: year within the century, century, day and month.
std::string RackDateText(uint32_t bcd);

} // namespace ravelin::engine
