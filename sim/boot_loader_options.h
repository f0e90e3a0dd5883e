#pragma once
// The ravelin-sim options of the panels' faults in an update (hex lines, boot
// loaders, the local I/O unit's FPGA file update, a line pulled), each a
// list of "SLOT[:...]" texts.

#include "virtual_console.h"

#include <string>
#include <vector>

namespace ravelin::sim {

struct BootLoaderOptionArgs {
    std::vector<int> capable;          // --boot-loader SLOT
    std::vector<int> startIn;          // --in-boot-loader SLOT
    std::vector<int> none;             // --no-boot-loader SLOT
    std::vector<std::string> naks;     // --bl-nak SLOT:PACKET:TIMES
    std::vector<std::string> statuses; // --bl-status SLOT:DATAPACKET:STATUS
    std::vector<std::string> silent;   // --bl-silent SLOT:DATAPACKETS
    std::vector<std::string> fpgaErrors; // --fpga-error SLOT:PACKET:CODE (PACKET "erase" for the erase)
    std::vector<int> fpgaSilent;       // --fpga-silent SLOT
    std::vector<std::string> fpgaSilentAfter; // --fpga-silent-after SLOT:PACKETS
    std::vector<std::string> drops;    // --panel-drop SLOT:MESSAGES
    std::vector<std::string> hexSilentAfter; // --silent-after SLOT:LINES
};

// Applies the options to the panels; an empty result, or the text of the
// first option that does not fit.
std::string applyBootLoaderOptions(const BootLoaderOptionArgs& args, ConsoleConfig& config);

} // namespace ravelin::sim
