#pragma once
#include <string>

#include "platform/instance_lock.h"

namespace ravelin::ui {

// The program with its window: builds the main window's logic on the Qt
// loop, shows it and runs until the window closes. A later start knocking on
// `lock` brings the window forward. Returns the exit status (0).
int RunMainWindow(int argc, char** argv, const std::string& folder, platform::InstanceLock& lock);

} // namespace ravelin::ui
