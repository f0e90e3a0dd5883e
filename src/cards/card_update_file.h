#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/update_control.h"

namespace ravelin::cards {

// The update file of a card row ("Ostra\" + name, relative to the program
// folder), read whole. A missing file puts `what` ("Code", "FPGA") into the
// message line as "Cannot Update <what>: file <path> not found", an empty
// one as "... is empty"; both give nullopt, and nothing has been sent then.
std::optional<std::vector<uint8_t>> ReadCardUpdateFile(platform::UpdateControl& control,
                                                       const std::string& programFolder,
                                                       const std::string& fileName, const std::string& what);

} // namespace ravelin::cards
