#pragma once
#include <string>

#include "platform/instance_lock.h"

namespace ravelin::cli {

struct DemoOptions {
    double waitS = 3;      // seconds for the panels to report before the inventory
    int hexLines = 0;      // lines of each panel code file; 0 = the virtual console's own
};

// Serves the virtual console from a fresh temporary folder in this process
// and runs the program on it: the window where there is a display; otherwise
// the inventory and one update of the GPIO panel (row 12) in the terminal.
// The folder is removed again at the end.
int RunDemo(int argc, char** argv, const DemoOptions& options, platform::InstanceLock& lock);

// True when a window can be opened (X or Wayland display named).
bool HaveDisplay();

} // namespace ravelin::cli
