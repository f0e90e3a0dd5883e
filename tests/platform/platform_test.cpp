// The operating-system layer: names matched without regard to case, the INI
// rules the settings rely on, the loops' timing rules and the single instance.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "platform/files.h"
#include "platform/ini.h"
#include "platform/instance_lock.h"
#include "platform/plain_event_loop.h"
#include "platform/virtual_event_loop.h"

namespace ravelin::platform {
namespace {

namespace fs = std::filesystem;

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("ravelin-platform-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "Ostra");
    }
    void TearDown() override { fs::remove_all(dir); }
    void Write(const fs::path& p, const std::string& s) { std::ofstream(dir / p, std::ios::binary) << s; }
    fs::path dir;
};

TEST_F(TempFolder, NamesAreMatchedWithoutRegardToCaseAndEitherSeparator) {
    Write("Ostra/Tarvola_Ostra.BIN", "x");
    std::string upper = dir.string();
    EXPECT_TRUE(files::exists(upper + "\\ostra\\tarvola_ostra.bin"));
    EXPECT_TRUE(files::exists(upper + "/OSTRA/TARVOLA_OSTRA.bin"));
    EXPECT_EQ(*files::resolve(upper + "/ostra/tarvola_ostra.bin"), upper + "/Ostra/Tarvola_Ostra.BIN");
    EXPECT_FALSE(files::exists(upper + "/ostra/other.bin"));
    EXPECT_FALSE(files::exists(upper + "/ostra"));  // a folder is no file
}

TEST_F(TempFolder, AnExactNameWinsOverOneThatDiffersInCase) {
    Write("log.txt", "a");
    Write("Log.txt", "b");
    EXPECT_EQ(*files::resolve((dir / "Log.txt").string()), (dir / "Log.txt").string());
    EXPECT_EQ(*files::resolve((dir / "LOG.TXT").string()), (dir / "Log.txt").string());
}

TEST_F(TempFolder, AppendGoesToTheExistingFileWhateverItsCase) {
    Write("LOG.TXT", "first\r\n");
    EXPECT_TRUE(files::appendLine((dir / "Log.txt").string(), "second"));
    EXPECT_FALSE(fs::exists(dir / "Log.txt"));
    EXPECT_FALSE(files::appendLine((dir / "Other.txt").string(), "x"));
}

TEST_F(TempFolder, LinesEndAtLfCrLfOrCrAndTheEndComesAfterTheLastLine) {
    Write("a.hex", "one\r\ntwo\nthree\rfour");
    files::LineReader r;
    ASSERT_TRUE(r.open((dir / "A.HEX").string()));
    std::vector<std::string> got;
    while (!r.atEnd()) got.push_back(r.readLine());
    EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three", "four"}));
    Write("b.hex", "only\r\n");
    ASSERT_TRUE(r.open((dir / "b.hex").string()));
    EXPECT_FALSE(r.atEnd());
    EXPECT_EQ(r.readLine(), "only");
    EXPECT_TRUE(r.atEnd());
}

struct IntegerCase {
    const char* text;
    long long value;
};
class IniIntegerTest : public ::testing::TestWithParam<IntegerCase> {};
TEST_P(IniIntegerTest, DecimalOrLeadingHexElseTheDefault) {
    fs::path p = fs::temp_directory_path() / ("ravelin-ini-" + std::to_string(::getpid()) + ".ini");
    std::ofstream(p) << "[Sect]\nKey=" << GetParam().text << "\n";
    IniFile ini(p.string());
    EXPECT_EQ(ini.readInteger("sect", "KEY", -1), GetParam().value);
    EXPECT_EQ(ini.readInteger("sect", "missing", -1), -1);
    EXPECT_EQ(ini.readInteger("nosection", "Key", 7), 7);
    fs::remove(p);
}
INSTANTIATE_TEST_SUITE_P(Texts, IniIntegerTest,
                         ::testing::Values(IntegerCase{"12", 12}, IntegerCase{" -3 ", -3},
                                           IntegerCase{"0x1F", 31}, IntegerCase{"0X1f", 31},
                                           IntegerCase{"abc", -1}, IntegerCase{"12abc", -1},
                                           IntegerCase{"", -1}, IntegerCase{"$10", -1},
                                           IntegerCase{"0x", -1}));

TEST(IniFileTest, MissingFileGivesDefaults) {
    IniFile ini("/nonexistent/ravelin.ini");
    EXPECT_EQ(ini.readString("a", "b", "def"), "def");
    EXPECT_EQ(ini.readInteger("a", "b", 115200), 115200);
}

TEST(VirtualEventLoopTest, TimersFireInOrderAtTheirTimesAndLateTicksMerge) {
    VirtualEventLoop loop;
    std::vector<std::pair<int64_t, char>> fired;
    loop.addTimer(10, [&] { fired.push_back({loop.now(), 'c'}); });
    int slow = 0;
    loop.addTimer(25, [&] {
        fired.push_back({loop.now(), 'r'});
        if (++slow == 1) loop.sleep(40);  // the thread is blocked: ticks pile up
    });
    loop.advance(60);
    using Tick = std::pair<int64_t, char>;
    // After the 40 ms block the short timer fires once, not four times.
    std::vector<Tick> want = {{10, 'c'}, {20, 'c'}, {25, 'r'}, {65, 'c'}};
    ASSERT_GE(fired.size(), 4u);
    EXPECT_EQ(std::vector<Tick>(fired.begin(), fired.begin() + 4), want);
    EXPECT_GE(loop.now(), 65);
}

TEST(PlainEventLoopTest, SendFromAWorkerRunsOnTheLoopAndGivesUpWhenAbandoned) {
    PlainEventLoop loop;
    std::atomic<bool> ran{false}, abandon{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        loop.send([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        }, &abandon);
        loop.post([&] { loop.quit(); });
    });
    loop.runFor(2000);
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // Nobody runs the loop now: a worker already waiting must give up once
    // it is told its owner is stopping it, and not before.
    std::atomic<bool> gaveUp{false};
    std::thread stuck([&] { gaveUp = !loop.send([] {}, &abandon); });
    while (loop.pendingCount() == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(gaveUp) << "gave up before it was abandoned";
    abandon = true;
    stuck.join();
    EXPECT_TRUE(gaveUp);
}

TEST(InstanceLockTest, ASecondHolderIsRefusedAndKnocksOnTheFirst) {
    const std::string name = "RavelinTestLock" + std::to_string(::getpid());
    auto first = InstanceLock::acquire(name);
    ASSERT_TRUE(first);
    std::atomic<int> knocks{0};
    first->onKnock([&] { ++knocks; });
    EXPECT_FALSE(InstanceLock::acquire(name));
    for (int i = 0; i < 200 && knocks == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(knocks, 1);
    first.reset();
    EXPECT_TRUE(InstanceLock::acquire(name));
}

} // namespace
} // namespace ravelin::platform
