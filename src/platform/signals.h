#pragma once

namespace ravelin::platform {

// Ctrl-C and SIGTERM only raise a flag, so a headless run can close the way
// the window closes (links shut, "closing" logged) instead of dying mid-step.
void WatchTerminateSignals();
bool TerminateRequested();
void ClearTerminateRequest();

} // namespace ravelin::platform
