#include "surface/com_ports.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "fake_clock.h"
#include "platform/plain_event_loop.h"
#include "platform/serial_device.h"

namespace ravelin::surface {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using Steady = std::chrono::steady_clock;

// --- the other end of the line --------------------------------------------

// A pseudo-terminal: the port opens the terminal side, the test plays the
// device on the master side.
struct Pty {
    int master = -1;
    std::string slavePath;

    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        slavePath = ::ptsname(master);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    bool ok() const { return master >= 0 && !slavePath.empty(); }

    void write(const std::string& data) const {
        size_t done = 0;
        const auto deadline = Steady::now() + 3s;
        while (done < data.size() && Steady::now() < deadline) {
            ssize_t n = ::write(master, data.data() + done, data.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
    // Reads until `enough` says so or the time is up.
    template <class Enough>
    std::string readUntil(Enough enough, std::chrono::milliseconds limit = 3000ms) const {
        std::string got;
        const auto deadline = Steady::now() + limit;
        char buf[4096];
        while (!enough(got) && Steady::now() < deadline) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, size_t(n));
                continue;
            }
            pollfd p{master, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
        return got;
    }
    std::string read(size_t count) const {
        return readUntil([count](const std::string& s) { return s.size() >= count; });
    }
};

std::string Pattern(size_t n, unsigned seed = 0) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 7 + seed + i / 251) & 0xFF);
    return s;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = Steady::now() + limit;
    while (!pred()) {
        if (Steady::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

size_t EntriesIn(const char* dir) {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

// The UI loop, telling the test when a worker has started a hand-over.
class WatchedLoop : public platform::EventLoop {
public:
    int addTimer(int periodMs, Task onTick) override { return inner.addTimer(periodMs, std::move(onTick)); }
    void removeTimer(int id) override { inner.removeTimer(id); }
    bool post(Task task) override { return inner.post(std::move(task)); }
    bool send(Task task, const std::atomic<bool>* abandon) override {
        ++sends;
        return inner.send(std::move(task), abandon);
    }
    void run() override { inner.run(); }
    void quit() override { inner.quit(); }
    bool isLoopThread() const override { return inner.isLoopThread(); }

    platform::PlainEventLoop inner;
    std::atomic<int> sends{0};
};

// --- fixture ---------------------------------------------------------------

class ComPortPty : public ::testing::Test {
protected:
    static constexpr const char* kMissing = "/nonexistent/ravelin-tty";

    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminal";
        ComPortServices s;
        s.loop = &loop;
        s.displayMessage = [this](const std::string& m) {
            std::lock_guard<std::mutex> g(lock);
            messages.push_back(m);
        };
        s.devicePath = [this](int com) -> std::string {
            if (com == 1) return pty.slavePath;
            if (com == 8) return "/dev/null";
            return kMissing + std::to_string(com);
        };
        s.clock = &clock;
        SetComPortServices(s);
        services = s;
    }
    // For a stream faster than the consumer: the worker's 10 ms retries on a
    // full input queue are then real time the consumer gets to catch up.
    void UseRealClock() {
        services.clock = nullptr;
        SetComPortServices(services);
    }
    void TearDown() override {
        port.reset();
        SetComPortServices({});
    }

    void Open(int baud = 115200, bool flow = false) {
        port = std::make_unique<tComPort>(1, baud, flow);
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> g(lock);
        return messages;
    }
    // Queues everything, waiting (in real time) while the queue is full.
    bool SendAll(const std::string& data, size_t piece = 1000) {
        size_t done = 0;
        const auto deadline = Steady::now() + 3s;
        while (done < data.size() && Steady::now() < deadline) {
            int n = std::min(piece, data.size() - done);
            int sent = port->Send(data.data() + done, n);
            if (sent > 0) done += size_t(sent);
            else std::this_thread::sleep_for(1ms);
        }
        return done == data.size();
    }
    // Fills the input queue to the brim; returns what it holds.
    std::string FillInputQueue() {
        std::string fill = Pattern(4095, 3);
        pty.write(fill);
        EXPECT_TRUE(WaitFor([&] { return port->ReceivingCount() == 4095; }));
        return fill;
    }

    Pty pty;
    FakeClock clock;
    WatchedLoop loop;
    ComPortServices services;
    std::mutex lock;
    std::vector<std::string> messages;
    std::unique_ptr<tComPort> port;
};

// --- moving bytes ----------------------------------------------------------

TEST_F(ComPortPty, SentBytesArriveInOrder) {
    Open();
    std::string all;
    for (int i = 0; i < 256; ++i) all += char(i);
    all = "hello" + all + Pattern(9000);  // more than two of the worker's blocks

    auto reader = std::async(std::launch::async, [&] { return pty.read(all.size()); });
    EXPECT_EQ(port->SendString("hello"), 5);
    EXPECT_EQ(port->Send(all.data() + 5, 256), 256);
    ASSERT_TRUE(SendAll(all.substr(5 + 256)));
    std::string got = reader.get();
    EXPECT_EQ(got.size(), all.size());
    EXPECT_TRUE(got == all) << "bytes differ or are out of order";
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ComPortPty, ReceivesWhatTheOtherSideWrote) {
    Open();
    uint8_t buf[1000];
    uint8_t first = 0x77;
    EXPECT_EQ(port->Receive(buf, sizeof buf), 0);
    EXPECT_FALSE(port->PeekNextByte(first));
    EXPECT_EQ(first, 0x77);

    std::string sent = Pattern(300, 1);
    pty.write(sent);
    ASSERT_TRUE(WaitFor([&] { return port->ReceivingCount() == 300; }));
    EXPECT_EQ(port->ReceiveSpaceUsed(), 300 * 256 / 4096);

    ASSERT_TRUE(port->PeekNextByte(first));
    EXPECT_EQ(first, uint8_t(sent[0]));
    int a = port->Receive(buf, 100);
    int b = port->Receive(buf + 100, 900);
    EXPECT_EQ(a, 100);
    EXPECT_EQ(b, 200);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 300), sent);
    EXPECT_EQ(port->ReceivingCount(), 0);
}

TEST_F(ComPortPty, BurstLargerThanOneReadArrivesWhole) {
    UseRealClock();
    Open();
    const std::string burst = Pattern(3 * 4096 + 17, 5);
    std::thread writer([&] { pty.write(burst); });

    std::string got;
    uint8_t buf[512];
    const auto deadline = Steady::now() + 3s;
    while (got.size() < burst.size() && Steady::now() < deadline) {
        int n = port->Receive(buf, sizeof buf);
        if (n > 0) got.append(reinterpret_cast<char*>(buf), size_t(n));
        else std::this_thread::sleep_for(1ms);
    }
    writer.join();
    EXPECT_EQ(got.size(), burst.size());
    EXPECT_TRUE(got == burst) << "bytes differ or are out of order";
    EXPECT_TRUE(Messages().empty());
}

// --- Send's limits ---------------------------------------------------------

struct SendCase {
    const char* name;
    int count;
    int result;
    int64_t sleptMs;  // in 10 ms steps, on the port's clock
};

class ComPortSendCount : public ComPortPty, public ::testing::WithParamInterface<SendCase> {};

TEST_P(ComPortSendCount, QueuesAllOrNothing) {
    const SendCase& c = GetParam();
    Open();
    std::vector<uint8_t> data(size_t(std::max(c.count, 1)), 0x42);
    EXPECT_EQ(port->Send(data.data(), c.count), c.result);
    EXPECT_EQ(clock.sleptMs(), c.sleptMs);
    if (c.result == 0) {
        EXPECT_EQ(port->SendingCount(), 0);
    } else {
        EXPECT_EQ(pty.read(size_t(c.result)).size(), size_t(c.result));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ComPortSendCount,
    ::testing::Values(SendCase{"Zero", 0, 0, 0}, SendCase{"Negative", -3, 0, 0},
                      SendCase{"WholeQueue", 4095, 4095, 0},
                      SendCase{"OneMoreThanTheQueue", 4096, 0, 100},
                      SendCase{"FiveThousand", 5000, 0, 100}),
    [](const ::testing::TestParamInfo<SendCase>& i) { return std::string(i.param.name); });

TEST_F(ComPortPty, ClearOutputQueueDropsQueuedAndHeldBytes) {
    Open();
    // Nobody reads the other side: the line fills, then the queue.
    const std::string piece = Pattern(1000, 9);
    int64_t accepted = 0;
    int refusals = 0;
    const auto deadline = Steady::now() + 3s;
    while (refusals < 20 && Steady::now() < deadline) {
        if (port->Send(piece.data(), 1000) == 1000) {
            accepted += 1000;
            refusals = 0;
        } else {
            ++refusals;  // 20 ms in a row without room: the worker is held up
            std::this_thread::sleep_for(1ms);
        }
    }
    ASSERT_EQ(refusals, 20) << "the line never filled";
    int queued = port->SendingCount();
    ASSERT_GT(queued, 3000);

    port->ClearOutputQueue();
    EXPECT_EQ(port->SendingCount(), 0);
    EXPECT_EQ(port->SendString("END!"), 4);

    std::string got = pty.readUntil([](const std::string& s) {
        return s.size() >= 4 && s.compare(s.size() - 4, 4, "END!") == 0;
    });
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got.substr(got.size() - 4), "END!");
    // Neither the queued bytes nor the block the worker held came out.
    EXPECT_LT(int64_t(got.size()) - 4, accepted - queued);
}

// --- opening ---------------------------------------------------------------

struct OpenCase {
    const char* name;
    int com;
    int baud;
};

class ComPortOpenFailure : public ComPortPty, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(ComPortOpenFailure, ThrowsAndLeavesNothingOpen) {
    const OpenCase& c = GetParam();
    size_t fds = EntriesIn("/proc/self/fd");
    size_t threads = EntriesIn("/proc/self/task");
    try {
        OpenComPort(c.com, c.baud, true);
        FAIL() << "opened";
    } catch (const ComPortError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open ComPort " + std::to_string(c.com));
    }
    EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
    EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, ComPortOpenFailure,
    ::testing::Values(OpenCase{"MissingDevice", 7, 115200},
                      OpenCase{"NotATerminal", 8, 115200},
                      OpenCase{"RateNoUartTakes", 1, 250000}),
    [](const ::testing::TestParamInfo<OpenCase>& i) { return std::string(i.param.name); });

TEST_F(ComPortPty, OpensThroughTheOpenerWithHandshake) {
    std::unique_ptr<ComStream> s = OpenComPort(1, 115200, true);
    EXPECT_EQ(s->comNumber(), 1);
    EXPECT_EQ(s->send(reinterpret_cast<const uint8_t*>("ok"), 2), 2);
    EXPECT_EQ(pty.read(2), "ok");
}

TEST(ComPortDevicePath, DefaultsToTheSystemsSerialPorts) {
    SetComPortServices({});
    EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
    ComPortServices s;
    s.devicePath = [](int com) { return "/dev/ttyUSB" + std::to_string(com); };
    SetComPortServices(s);
    EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB2");
    SetComPortServices({});
}

// --- messages from the worker ----------------------------------------------

TEST_F(ComPortPty, InputOverflowIsShownOnTheUiThread) {
    Open();
    std::string held = FillInputQueue();
    pty.write("Z");
    // The loop runs here, on the test thread: it is the UI thread.
    ASSERT_TRUE(WaitFor([&] {
        loop.inner.runFor(5);
        return !Messages().empty();
    }));
    EXPECT_EQ(Messages(), std::vector<std::string>{"COM1 Rx error: input queue locked or overflowed"});
    EXPECT_EQ(clock.sleptMs(), 100);  // ten tries, 10 ms apart

    std::string got(4095, '\0');
    EXPECT_EQ(port->Receive(got.data(), 4096), 4095);
    EXPECT_TRUE(got == held) << "the dropped byte must not displace held ones";
}

TEST_F(ComPortPty, DestroyWhileAMessageWaitsForTheUiThread) {
    Open();
    FillInputQueue();
    pty.write("Z");
    // The UI loop is not running: the worker's hand-over cannot complete.
    ASSERT_TRUE(WaitFor([&] { return loop.sends == 1; }));

    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    tComPort* raw = port.release();
    std::thread closer([raw, done] {
        delete raw;
        done->set_value();
    });
    if (finished.wait_for(2s) != std::future_status::ready) {
        closer.detach();
        FAIL() << "destroying the port hangs on the message hand-over";
    }
    closer.join();
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ComPortPty, MessagesAreCutTo255Characters) {
    Open();
    // Called on the UI thread itself, the message is shown directly.
    port->ComThread->DisplayMessage(std::string(300, 'x'));
    std::vector<std::string> m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].size(), 255u);
    EXPECT_EQ(m[0], "COM1 " + std::string(250, 'x'));
}

// --- line controls ---------------------------------------------------------

TEST_F(ComPortPty, DtrPulseOnAPseudoTerminalIsHarmless) {
    Open();
    port->ToggleDTR();
    EXPECT_EQ(clock.sleptMs(), 1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(port->SendString("x"), 1);
    EXPECT_EQ(pty.read(1), "x");
}

// --- the device underneath -------------------------------------------------

TEST(ComPortSerialDevice, ModemLinesOnAPseudoTerminalSucceed) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto dev = platform::SerialDevice::open(pty.slavePath, 115200, false);
    ASSERT_TRUE(dev);
    EXPECT_TRUE(dev->setDTR(true));
    EXPECT_TRUE(dev->setDTR(false));
    EXPECT_TRUE(dev->setRTS(false));
    EXPECT_TRUE(dev->setBreak(false));
}

TEST(ComPortSerialDevice, WaitEndsOnInputAndOnWake) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    std::string error;
    auto dev = platform::SerialDevice::open(pty.slavePath, 9600, false, &error);
    ASSERT_TRUE(dev) << error;

    uint8_t buf[16];
    EXPECT_EQ(dev->read(buf, sizeof buf), 0);  // nothing there: no waiting

    auto waiter = std::async(std::launch::async, [&] { return dev->wait(true, false, 5000); });
    EXPECT_EQ(waiter.wait_for(20ms), std::future_status::timeout);  // asleep
    ASSERT_EQ(dev->wake(), 0);
    ASSERT_EQ(waiter.wait_for(2s), std::future_status::ready);
    auto ev = waiter.get();
    EXPECT_TRUE(ev.woken);
    EXPECT_FALSE(ev.readable);

    pty.write("q");
    ev = dev->wait(true, false, 2000);
    EXPECT_TRUE(ev.readable);
    EXPECT_FALSE(ev.woken);  // the earlier wake was used up
    EXPECT_EQ(dev->read(buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 'q');
}

struct RateCase {
    int requested;
    int expected;  // 0: refused
};

class ComPortRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(ComPortRate, MapsToAStandardRate) {
    const RateCase& c = GetParam();
    std::optional<int> r = platform::SerialDevice::standardRate(c.requested);
    if (c.expected == 0) {
        EXPECT_FALSE(r.has_value()) << *r;
    } else {
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(*r, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ComPortRate,
                         ::testing::Values(RateCase{115200, 115200}, RateCase{9600, 9600},
                                           RateCase{115000, 115200}, RateCase{57000, 57600},
                                           RateCase{921600, 921600}, RateCase{250000, 0},
                                           RateCase{12345, 0}, RateCase{0, 0}, RateCase{-9600, 0},
                                           RateCase{4000000, 4000000}, RateCase{9000000, 0}));

TEST(ComPortSerialDevice, NearRateOpensAtTheStandardOne) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto dev = platform::SerialDevice::open(pty.slavePath, 115000, true);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->baudRate(), 115200);
}

// --- error texts -----------------------------------------------------------

TEST(ComPortErrorText, KnownCodesAndSystemNumbers) {
    const std::pair<int32_t, const char*> cases[] = {
        {-1, "Invalid Serial Port"},
        {-2, "Serial Port Already Open"},
        {-3, "Serial Port Not Open"},
        {-4, "Not Enough Memory for Serial Buffers"},
        {-5, "Invalid Parameters"},
        {-10, "Serial Port Not Available"},
        {-11, "Invalid Byte Size"},
        {-12, "Invalid Baud Rate"},
        {-32768, "Invalid Serial Port Mode"},
        {0, "(0)"},
        {5, "(5)"},
        {995, "(995)"},
        {-6, "Receive Overrun, Parity Error"},
        {-(256 | 8), "Framing Error, Transmit Queue Overflow"},
        {-4096, "Out of Paper"},
        {-32, "(-32)"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(ErrorText(code), text) << "code " << code;
}

} // namespace
} // namespace ravelin::surface
