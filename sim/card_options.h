#pragma once
// The ravelin-sim options of the interface cards' boot loaders and FPGA file
// updates, each a list of "SLOT:..." texts.

#include "virtual_console.h"

#include <string>
#include <vector>

namespace ravelin::sim {

struct CardOptionArgs {
    std::vector<std::string> naks;       // --card-bl-nak SLOT:PACKET:TIMES
    std::vector<std::string> statuses;   // --card-bl-status SLOT:DATAPACKET:STATUS
    std::vector<std::string> silent;     // --card-bl-silent SLOT:DATAPACKETS
    std::vector<std::string> drops;      // --card-bl-drop SLOT:DATAPACKETS
    std::vector<std::string> fpgaErrors; // --card-fpga-error SLOT:PACKET:CODE (PACKET "erase" for the erase)
    std::vector<int> fpgaSilent;         // --card-fpga-silent SLOT
    std::vector<int> racks;              // --card-rack SLOT
    std::vector<std::string> fpgaSilentAfter; // --card-fpga-silent-after SLOT:PACKETS
    std::vector<std::string> fpgaDrops;  // --card-fpga-drop SLOT:PACKETS
    std::vector<std::string> rackFaults; // --card-rack-fault SLOT:FAULT (as --rack-fault)
};

// Applies the options to the cards; an empty result, or the text of the
// first option that does not fit.
std::string applyCardOptions(const CardOptionArgs& args, ConsoleConfig& config);

} // namespace ravelin::sim
