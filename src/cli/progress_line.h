#pragma once
#include <cstdint>
#include <string>

namespace ravelin::cli {

// One moment of an update as the terminal's progress line shows it.
struct ProgressSample {
    int delivered = 0;       // the destination meter, 0..999
    int32_t packets = 0;     // progress steps so far
    uint32_t elapsedMs = 0;  // since the update started
};

// "[#########...........]  45%  packet 180  0:04  45.0/s  0:05 left", cut
// to `columns` - 1 characters so the terminal never wraps it. Rate and time
// left wait for the first second and the first delivered part.
std::string FormatProgressLine(const ProgressSample& s, int columns);

// m:ss, or h:mm:ss from an hour on.
std::string FormatDuration(uint32_t ms);

} // namespace ravelin::cli
