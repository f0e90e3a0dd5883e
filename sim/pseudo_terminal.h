#pragma once
// A serial line for a virtual device: a pseudo-terminal in raw mode at
// 115200 baud. The device keeps its own handle on the slave side, so the line
// stays up while the program closes and reopens its port, as a real cable
// does; raw mode, so that nothing is echoed or translated before the program
// sets its own line settings.

#include <string>

namespace ravelin::sim {

struct PseudoTerminal {
    int master = -1;  // the device's end, non-blocking
    int slave = -1;
    std::string path; // what the program opens
};

// Throws std::system_error when no pseudo-terminal can be had.
PseudoTerminal openRawPseudoTerminal();

} // namespace ravelin::sim
