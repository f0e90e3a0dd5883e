// The terminal's progress line: what it says at the start, halfway and near
// the end, and that it never runs past the terminal's width.
#include <gtest/gtest.h>

#include "cli/progress_line.h"

namespace ravelin::cli {
namespace {

TEST(ProgressLine, ShowsBarPercentPacketsTimeRateAndTimeLeft) {
    struct Case {
        ProgressSample s;
        const char* line;
    };
    const Case cases[] = {
        // Nothing delivered yet and under a second: no rate, no estimate.
        {{0, 0, 400}, "[....................]   0%  packet 0  0:00"},
        {{500, 200, 5000}, "[##########..........]  50%  packet 200  0:05  40.0/s  0:04 left"},
        {{999, 400, 10250}, "[####################] 100%  packet 400  0:10  39.0/s"},
        {{-5, 0, 0}, "[....................]   0%  packet 0  0:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatProgressLine(c.s, 200), c.line);
}

TEST(ProgressLine, IsCutToOneLessThanTheTerminalWidth) {
    EXPECT_EQ(FormatProgressLine({500, 200, 5000}, 30).size(), 29u);
}

TEST(ProgressLine, DurationsPastAnHourShowTheHours) {
    EXPECT_EQ(FormatDuration(59999), "0:59");
    EXPECT_EQ(FormatDuration(3725000), "1:02:05");
}

} // namespace
} // namespace ravelin::cli
