#pragma once
#include <string>

#include "app/main_unit.h"

namespace ravelin::app {

// What a real run of the main window stands on: the machine's clock and timer
// thread, and serial ports opened at the device paths "Serial.ini" names, whose
// workers hand their messages to `loop`. Used by every front end.
MainFormServices SystemServices(platform::EventLoop& loop, const std::string& programFolder);

} // namespace ravelin::app
