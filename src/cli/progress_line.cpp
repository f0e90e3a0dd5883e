#include "cli/progress_line.h"

#include <algorithm>
#include <cstdio>

namespace ravelin::cli {

namespace {
constexpr int kBarWidth = 20;
constexpr int kMeterFull = 999;
}

std::string FormatDuration(uint32_t ms) {
    const uint32_t s = ms / 1000;
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%u:%02u", s / 60, s % 60);
    return buf;
}

std::string FormatProgressLine(const ProgressSample& s, int columns) {
    const int delivered = std::clamp(s.delivered, 0, kMeterFull);
    std::string bar(static_cast<size_t>(delivered * kBarWidth / kMeterFull), '#');
    bar.resize(kBarWidth, '.');
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", (delivered + 5) / 10);
    std::string line = "[" + bar + "] " + percent + "  packet " + std::to_string(s.packets) + "  " +
                       FormatDuration(s.elapsedMs);
    if (s.elapsedMs >= 1000) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "  %.1f/s", s.packets * 1000.0 / s.elapsedMs);
        line += rate;
    }
    if (delivered > 0 && delivered < kMeterFull) {
        const uint64_t left = uint64_t(s.elapsedMs) * uint64_t(kMeterFull - delivered) / uint64_t(delivered);
        line += "  " + FormatDuration(static_cast<uint32_t>(left)) + " left";
    }
    if (columns > 1 && static_cast<int>(line.size()) > columns - 1) line.resize(static_cast<size_t>(columns - 1));
    return line;
}

} // namespace ravelin::cli
