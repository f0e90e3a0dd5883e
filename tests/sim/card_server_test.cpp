// The virtual cards' addresses: the fixed card ports must not collide between
// consoles running on one machine.

#include "virtual_console.h"

#include <gtest/gtest.h>

using namespace ravelin::sim;

namespace {

TEST(VirtualCards, EachConsoleListensOnItsOwnLoopbackAddressUnlessOneIsSet)
{
    ConsoleConfig quiet;
    quiet.panels.clear();
    VirtualConsole a(quiet), b(quiet);
    EXPECT_EQ(a.cardAddress().rfind("127.", 0), 0u);
    EXPECT_NE(a.cardAddress(), b.cardAddress());
    a.start();
    b.start(); // the same ports, another address
    ASSERT_TRUE(a.card(0) && a.card(1));
    EXPECT_EQ(a.card(0)->port(), 52001);
    EXPECT_EQ(a.card(1)->port(), 52002);
    EXPECT_TRUE(b.card(1)->running());
    EXPECT_EQ(a.card(2), nullptr);

    ConsoleConfig given = quiet;
    given.engineIPAddress = "127.0.0.77";
    given.cards.resize(1);
    VirtualConsole c(given);
    EXPECT_EQ(c.cardAddress(), "127.0.0.77");
    EXPECT_EQ(c.card(1), nullptr);
}

} // namespace
