#pragma once
// The ravelin-sim options of the engine host board's faults: its two file
// updates (the FPGA and the USB-audio image) and its USB boot loader.

#include "host_board.h"

#include <string>
#include <vector>

namespace ravelin::sim {

struct HostBoardOptionArgs {
    std::vector<std::string> fpgaErrors;     // --host-fpga-error PACKET:CODE (PACKET from 0, erase or finish)
    std::vector<int> fpgaSilentAfter;        // --host-fpga-silent PACKETS (0: from the start)
    std::vector<int> fpgaDrops;              // --host-fpga-drop PACKETS
    std::vector<std::string> usbAudioErrors; // --usb-audio-error PACKET:CODE
    std::vector<int> usbAudioSilentAfter;    // --usb-audio-silent PACKETS
    std::vector<int> usbAudioDrops;          // --usb-audio-drop PACKETS
    bool dfuAbsent = false;                  // --dfu-absent
    int dfuSilentAt = 0;                     // --dfu-silent BLOCK
    int dfuGoneAt = 0;                       // --dfu-gone BLOCK
    int dfuLastStatus = 0;                   // --dfu-last-status STATUS
    long dfuFlip = -1;                       // --dfu-flip OFFSET
};

// Applies the options to the board; an empty result, or the text of the
// first option that does not fit.
std::string applyHostBoardOptions(const HostBoardOptionArgs& args, HostBoardConfig& board);

} // namespace ravelin::sim
