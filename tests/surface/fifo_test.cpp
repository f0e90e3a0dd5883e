#include "surface/fifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ravelin::surface {
namespace {

// Stores until the queue refuses; returns how many went in.
int FillUp(tFiFo& q) {
    std::vector<uint8_t> element(size_t(q.ElementSize), 0x5A);
    int n = 0;
    while (q.Store(element.data())) {
        ++n;
        if (n > (q.SizeMask + 1)) break;  // a queue that never fills
    }
    return n;
}

// --- creation --------------------------------------------------------------

struct CreateCase {
    const char* name;
    std::function<std::unique_ptr<tFiFo>()> make;
    bool ok;
    int capacity;     // elements it holds when ok
    int32_t ringBytes;
};

class FiFoCreate : public ::testing::TestWithParam<CreateCase> {};

TEST_P(FiFoCreate, SizeRulesAndCapacity) {
    const CreateCase& c = GetParam();
    if (!c.ok) {
        try {
            c.make();
            FAIL() << "creation should have failed";
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "tFiFo.Create failed");
        }
        return;
    }
    std::unique_ptr<tFiFo> q = c.make();
    EXPECT_EQ(q->SizeMask + 1, c.ringBytes);
    EXPECT_TRUE(q->Empty());
    EXPECT_EQ(q->SpaceFree(), c.capacity);
    EXPECT_EQ(FillUp(*q), c.capacity);
    EXPECT_TRUE(q->Full());
    EXPECT_EQ(q->SpaceFree(), 0);
    EXPECT_EQ(q->Count, c.capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FiFoCreate,
    ::testing::Values(
        CreateCase{"Bytes4096", [] { return std::make_unique<tFiFo>(1, 4096); }, true, 4095, 4096},
        CreateCase{"Bytes16384", [] { return std::make_unique<tFiFo>(1, 16384); }, true, 16383, 16384},
        CreateCase{"Sixteen262144", [] { return std::make_unique<tFiFo>(16, 262144); }, true, 16383, 262144},
        CreateCase{"NotPowerOfTwo", [] { return std::make_unique<tFiFo>(1, 4095); }, false, 0, 0},
        CreateCase{"NotMultipleOfElement", [] { return std::make_unique<tFiFo>(3, 4096); }, false, 0, 0},
        CreateCase{"ZeroSize", [] { return std::make_unique<tFiFo>(1, 0); }, false, 0, 0},
        CreateCase{"NegativeSize", [] { return std::make_unique<tFiFo>(1, -4096); }, false, 0, 0},
        CreateCase{"ZeroElement", [] { return std::make_unique<tFiFo>(0, 4096); }, false, 0, 0},
        CreateCase{"Words1024", [] { return std::make_unique<tWordFiFo>(1024); }, true, 1023, 2048},
        CreateCase{"Words1000RaisedToPowerOfTwo", [] { return std::make_unique<tWordFiFo>(1000); }, true, 1023, 2048},
        CreateCase{"Words1025", [] { return std::make_unique<tWordFiFo>(1025); }, true, 2047, 4096},
        CreateCase{"Longs1000", [] { return std::make_unique<tLongFiFo>(1000); }, true, 1023, 4096},
        CreateCase{"LongsOne", [] { return std::make_unique<tLongFiFo>(1); }, true, 0, 4},
        CreateCase{"WordsZero", [] { return std::make_unique<tWordFiFo>(0); }, false, 0, 0},
        CreateCase{"Pointers100", [] { return std::make_unique<tPointerFiFo>(100); }, true,
                   int(1024 / sizeof(void*)) - 1, 1024}),
    [](const ::testing::TestParamInfo<CreateCase>& i) { return std::string(i.param.name); });

// --- element width ---------------------------------------------------------

struct WidthCase {
    const char* name;
    std::function<std::unique_ptr<tFiFo>()> make;
    size_t width;
};

class FiFoWidth : public ::testing::TestWithParam<WidthCase> {};

// Every byte of an element goes through, and not one byte more lands in the
// caller's variable.
TEST_P(FiFoWidth, CopiesExactlyOneElement) {
    const WidthCase& c = GetParam();
    std::unique_ptr<tFiFo> q = c.make();
    ASSERT_EQ(size_t(q->ElementSize), c.width);

    uint8_t in[32], out[32], peeked[32];
    for (size_t i = 0; i < sizeof in; ++i) in[i] = uint8_t(0x10 + i);
    std::memset(out, 0xEE, sizeof out);
    std::memset(peeked, 0xEE, sizeof peeked);

    ASSERT_TRUE(q->Store(in));
    ASSERT_TRUE(q->Peek(peeked));
    ASSERT_TRUE(q->Retrieve(out));
    for (size_t i = 0; i < sizeof out; ++i) {
        uint8_t want = i < c.width ? in[i] : 0xEE;
        EXPECT_EQ(out[i], want) << "byte " << i;
        EXPECT_EQ(peeked[i], want) << "peeked byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, FiFoWidth,
    ::testing::Values(WidthCase{"Byte", [] { return std::make_unique<tFiFo>(1, 64); }, 1},
                      WidthCase{"Word", [] { return std::make_unique<tWordFiFo>(8); }, 2},
                      WidthCase{"Long", [] { return std::make_unique<tLongFiFo>(8); }, 4},
                      WidthCase{"Sixteen", [] { return std::make_unique<tFiFo>(16, 256); }, 16},
                      WidthCase{"Pointer", [] { return std::make_unique<tPointerFiFo>(8); }, sizeof(void*)}),
    [](const ::testing::TestParamInfo<WidthCase>& i) { return std::string(i.param.name); });

// --- a serial port's byte queue -------------------------------------------

TEST(FiFoByteQueue, FullQueueRefusesAndKeepsContent) {
    tFiFo q(1, 4096);
    EXPECT_EQ(q.SpaceUsed(), 0);
    EXPECT_EQ(q.SpaceFree(), 4095);

    for (int i = 0; i < 4095; ++i) {
        uint8_t b = uint8_t(i * 7);
        ASSERT_TRUE(q.Store(&b)) << i;
        if (i == 2047) {
            EXPECT_EQ(q.SpaceUsed(), 128);  // 2048 of 4096 bytes
        }
    }
    EXPECT_EQ(q.SpaceUsed(), 255);
    EXPECT_EQ(q.SpaceFree(), 0);
    EXPECT_TRUE(q.Full());

    uint8_t extra = 0xFF;
    EXPECT_FALSE(q.Store(&extra));
    EXPECT_EQ(q.Count, 4095);

    for (int i = 0; i < 4095; ++i) {
        uint8_t b = 0;
        ASSERT_TRUE(q.Retrieve(&b));
        ASSERT_EQ(b, uint8_t(i * 7)) << i;
    }
    EXPECT_TRUE(q.Empty());
    EXPECT_EQ(q.Count, 0);
}

TEST(FiFoByteQueue, EmptyQueueLeavesDestinationUntouched) {
    tFiFo q(1, 16);
    uint8_t b = 0xA5;
    EXPECT_FALSE(q.Retrieve(&b));
    EXPECT_FALSE(q.Peek(&b));
    EXPECT_EQ(b, 0xA5);

    // Emptied again after use, not only fresh.
    uint8_t x = 1;
    ASSERT_TRUE(q.Store(&x));
    ASSERT_TRUE(q.Retrieve(&x));
    b = 0xA5;
    EXPECT_FALSE(q.Retrieve(&b));
    EXPECT_FALSE(q.Peek(&b));
    EXPECT_EQ(b, 0xA5);
}

TEST(FiFoByteQueue, ClearEmptiesFromAnyPosition) {
    tFiFo q(1, 8);
    uint8_t b = 0;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(q.Store(&b));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(q.Retrieve(&b));
    q.Clear();
    EXPECT_TRUE(q.Empty());
    EXPECT_EQ(q.Count, 0);
    EXPECT_EQ(q.SpaceFree(), 7);
    EXPECT_EQ(FillUp(q), 7);
}

// Positions run past the end of the ring many times, with batches of every
// size from one to full; the queue must agree with a plain deque throughout.
TEST(FiFoByteQueue, WrapAroundKeepsOrder) {
    tWordFiFo q(8);  // 16-byte ring: 7 words
    std::deque<uint16_t> model;
    uint16_t next = 1;
    for (int round = 0; round < 200; ++round) {
        int stores = 1 + round % 7;
        for (int i = 0; i < stores; ++i) {
            bool stored = q.Store(&next);
            ASSERT_EQ(stored, model.size() < 7) << "round " << round;
            if (stored) model.push_back(next++);
        }
        ASSERT_EQ(q.SpaceFree(), int32_t(7 - model.size()));
        ASSERT_EQ(q.SpaceUsed(), uint8_t(model.size() * 2 * 256 / 16));
        int takes = 1 + (round * 3) % 7;
        for (int i = 0; i < takes && !model.empty(); ++i) {
            uint16_t peeked = 0, got = 0;
            ASSERT_TRUE(q.Peek(&peeked));
            ASSERT_TRUE(q.Retrieve(&got));
            ASSERT_EQ(peeked, model.front());
            ASSERT_EQ(got, model.front());
            model.pop_front();
        }
        ASSERT_EQ(q.Count, int32_t(model.size()));
        ASSERT_EQ(q.Empty(), model.empty());
    }
    EXPECT_GT(next, 500);  // the ring of 8 words has wrapped many times
}

// --- pointer queue ---------------------------------------------------------

class FiFoPointer : public ::testing::Test {
protected:
    tPointerFiFo q{16};
    int x = 1, y = 2;
    void* X = &x;
    void* Y = &y;

    void StoreAll(std::initializer_list<void*> entries) {
        for (void* p : entries) ASSERT_TRUE(q.StorePointer(p));
    }
};

TEST_F(FiFoPointer, RetrieveSkipsNilEntries) {
    StoreAll({nullptr, nullptr, X});
    void* p = nullptr;
    EXPECT_TRUE(q.RetrievePointer(p));
    EXPECT_EQ(p, X);
    EXPECT_TRUE(q.Empty());
}

TEST_F(FiFoPointer, OnlyNilEntriesReadAsEmpty) {
    StoreAll({nullptr, nullptr});
    void* p = Y;
    EXPECT_FALSE(q.RetrievePointer(p));
    EXPECT_TRUE(q.Empty());
    EXPECT_EQ(q.Count, 0);
}

TEST_F(FiFoPointer, FilterOutVoidsEveryMatchInPlace) {
    StoreAll({X, Y, X});
    q.FilterOut(X);
    EXPECT_EQ(q.Count, 3);  // positions and count stay

    // The raw entries, as the base queue holds them.
    std::vector<void*> raw;
    void* p;
    tPointerFiFo copy{16};
    while (q.tFiFo::Retrieve(&p)) {
        raw.push_back(p);
        copy.StorePointer(p);
    }
    EXPECT_EQ(raw, (std::vector<void*>{nullptr, Y, nullptr}));

    // A consumer sees only Y.
    EXPECT_TRUE(copy.RetrievePointer(p));
    EXPECT_EQ(p, Y);
    EXPECT_FALSE(copy.RetrievePointer(p));
}

TEST_F(FiFoPointer, FilterOutWorksAcrossTheRingEnd) {
    // Move the positions near the end of the ring first.
    void* p;
    for (int i = 0; i < 14; ++i) {
        ASSERT_TRUE(q.StorePointer(Y));
        ASSERT_TRUE(q.RetrievePointer(p));
    }
    StoreAll({X, Y, X, X, Y});
    q.FilterOut(X);
    std::vector<void*> got;
    while (q.RetrievePointer(p)) got.push_back(p);
    EXPECT_EQ(got, (std::vector<void*>{Y, Y}));
}

// --- one producer, one consumer -------------------------------------------

TEST(FiFoThreads, ProducerAndConsumerKeepOrder) {
    tLongFiFo q(1024);  // small against the run: it wraps about a hundred times
    constexpr uint32_t N = 100000;
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        for (uint32_t i = 0; i < N && !stop;) {
            if (q.Store(&i)) ++i;
            else std::this_thread::yield();
        }
    });
    // A lost element would leave the consumer waiting: give up after a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    uint32_t received = 0, mismatches = 0, firstBad = 0;
    while (received < N && std::chrono::steady_clock::now() < deadline) {
        uint32_t v;
        if (!q.Retrieve(&v)) {
            std::this_thread::yield();
            continue;
        }
        if (v != received && mismatches++ == 0) firstBad = received;
        ++received;
    }
    stop = true;
    producer.join();
    EXPECT_EQ(received, N);
    EXPECT_EQ(mismatches, 0u) << "first out of order at " << firstBad;
    EXPECT_TRUE(q.Empty());
}

} // namespace
} // namespace ravelin::surface
