#include <gtest/gtest.h>

#include "fake_update_control.h"
#include "host/corvane_host.h"
#include "platform/virtual_event_loop.h"
#include "surface/fake_com.h"

using namespace ravelin;
using namespace ravelin::host;

namespace {

// An update whose packets go nowhere: only the watchdog can end it.
struct UnansweredUpdate : platform::RunningUpdate {
    void Start() override {}
};

// A host port that takes nothing: every poll fails with a "Tx error" that
// shows on the message line. The update must still end with "no response"
// once the watchdog's 30 s have passed, and it does as long as the link's
// messages reach the message line without counting as progress.
TEST(DeadHostPort, AnUpdateEndsWithNoResponseWhileTheTxErrorsShow) {
    struct Case {
        bool messagesCountAsProgress;
        bool ends;
    } cases[] = {{false, true}, {true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.messagesCountAsProgress ? "messages as progress" : "messages apart from progress");
        platform::VirtualEventLoop loop;
        host::testing::FakeUpdateControl control;
        surface::testing::FakePorts ports;
        ports.add(4)->acceptLimit = 0;
        HostServices services{ports.opener(),
                              [&](const std::string& text) {
                                  if (c.messagesCountAsProgress) control.DisplayMessage(text);
                                  else control.SetMessagePanel(" " + text);
                              },
                              {}};
        tCorvaneHost host(4, true, "Corvane", services);
        loop.addTimer(10, [&] { ServiceCorvaneHost(&host); });
        UnansweredUpdate update;
        control.attach(loop, update);
        update.Start();

        loop.advance(29 * 1000);
        EXPECT_EQ(control.panel, " Corvane Host Tx error: 0 sent instead of 3");
        EXPECT_FALSE(control.ended());
        loop.advance(2 * 1000);
        EXPECT_EQ(control.ended(), c.ends);
        if (c.ends) EXPECT_EQ(control.cancelText, "no response");
    }
}

} // namespace
