// The window must keep answering while a panel takes its code: the pause
// after each surface message is a timer, not a sleep of the user-interface
// thread. A panel that answers every line at once would otherwise hold the
// thread from the first line to the last.
#include <algorithm>
#include <atomic>
#include <vector>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/main_form_fixture.h"
#include "platform/clock.h"
#include "platform/plain_event_loop.h"
#include "platform/timer_thread.h"

namespace ravelin::app::testing {
namespace {

TEST_F(MainFormTest, EventsAreHandledWithinAFifthOfASecondDuringAHexUpdate) {
    Kr60();
    SerialPorts({{4, 14}});
    PanelModel& panel = Panel(14, 134, 11);
    std::string text = ":10080000000000000C000000000000000000000000DC\r\n";
    for (int i = 0; i < 100; ++i) text += ":0400000000112233XX\r\n";
    text += ":00000001FF\r\n";
    WriteFile(folder / "KR60GPIO.hex", text);
    // The poll (on the link's timer thread) and the update both send.
    std::mutex serving;
    panel.line->onSend = [&] {
        std::lock_guard<std::mutex> g(serving);
        panel.Serve();
    };

    platform::PlainEventLoop real;
    MainFormServices s;
    s.loop = &real;
    s.clock = &platform::systemClock();
    s.newTimerThread = platform::newSystemTimerThread;
    s.openComPort = ports.opener();
    TMainForm window(std::move(s), folder.string());
    window.FormCreate();
    window.StartTimers();
    real.runFor(1200);
    ASSERT_EQ(window.Grid().Cell(ColUpdate, 12), UpdateCellText);
    window.GridMouseDown(ColUpdate, 12);

    // Another thread asks the window for attention every 20 ms, as a desktop does.
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> done{false};
    std::mutex answeredLock;
    std::vector<int64_t> answeredMs;
    std::thread asker([&] {
        while (!done) {
            const auto asked = Clock::now();
            real.post([&, asked] {
                const int64_t ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
                std::lock_guard<std::mutex> g(answeredLock);
                answeredMs.push_back(ms);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    for (int i = 0; i < 500 && window.UpdateBusy(); ++i) real.runFor(20);
    done = true;
    asker.join();
    EXPECT_FALSE(window.UpdateBusy());
    EXPECT_EQ(window.Display().Progress, "update successful");
    EXPECT_EQ(panel.hexLines.size(), 102u);
    // A window held for the whole update (2 s here) would leave most asks
    // unanswered for far longer; a busy machine may delay a few of them.
    real.runFor(50);
    std::lock_guard<std::mutex> g(answeredLock);
    ASSERT_GT(answeredMs.size(), 50u);
    const auto late = std::count_if(answeredMs.begin(), answeredMs.end(), [](int64_t ms) { return ms >= 200; });
    EXPECT_LE(late * 10, static_cast<long>(answeredMs.size())) << late << " of " << answeredMs.size() << " late";
    EXPECT_LT(*std::max_element(answeredMs.begin(), answeredMs.end()), 1000);
    window.FormClose();
}

} // namespace
} // namespace ravelin::app::testing
