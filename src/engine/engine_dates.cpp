#include "engine/engine_dates.h"

#include <cstdio>

namespace ravelin::engine {

namespace {
bool Bcd(uint8_t b, int& v) {
    if ((b >> 4) > 9 || (b & 15) > 9) return false;
    v = (b >> 4) * 10 + (b & 15);
    return true;
}
} // namespace

std::string BcdDateText(uint8_t day, uint8_t month, uint8_t year, uint8_t century) {
    int d, m, y, c;
    if (!Bcd(day, d) || !Bcd(month, m) || !Bcd(year, y) || !Bcd(century, c)) return "";
    const int full = c * 100 + y;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || full < 1) return "";
    const bool leap = (full % 4 == 0 && full % 100 != 0) || full % 400 == 0;
    if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d, m, full);
    return buf;
}

std::string EngineDateText(uint32_t v) {
    return BcdDateText(uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24));
}

std::string RackDateText(uint32_t v) {
    return BcdDateText(uint8_t(v >> 16), uint8_t(v >> 24), uint8_t(v), uint8_t(v >> 8));
}

} // namespace ravelin::engine
