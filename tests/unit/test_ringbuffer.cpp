#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "VOQ.h"

using namespace VOQ;

TEST(RingBuffer, OverflowAndUnderflow) {
    RingBuffer b(3);
    for (double v : {1.0, 2.0, 3.0, 4.0}) b.Write(v);
    EXPECT_EQ(b.Buffered(), 3u);
    EXPECT_EQ(b.Overflowed(), 1u);
    EXPECT_EQ(b.Read(), 2.0);
    EXPECT_EQ(b.Read(), 3.0);
    EXPECT_EQ(b.Read(), 4.0);
    try {
        b.Read();
        FAIL() << "no underflow";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "buffer underflow");
    }
    EXPECT_EQ(b.Buffered(), 0u);
}

TEST(RingBuffer, Unallocated) {
    RingBuffer b;
    EXPECT_EQ(b.Write(5), 1u);
    EXPECT_EQ(b.LookBack(0), 0.0);
    try {
        b.Read();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "cannot read from unallocated buffer");
    }
}

TEST(RingBuffer, ImpossibleCapacityIsRefused) {
    RingBuffer b;
    EXPECT_THROW(b.Allocate(UINT64_MAX), Error);
    EXPECT_FALSE(b.IsAllocated());
    EXPECT_EQ(b.Write(1), 1u);
}

TEST(RingBuffer, LookBack) {
    RingBuffer b(3);
    b.Write(1);
    b.Write(2);
    b.Write(3);
    EXPECT_EQ(b.LookBack(0), 3.0);
    EXPECT_EQ(b.LookBack(2), 1.0);
    EXPECT_EQ(b.LookBack(5), 1.0);  // (writeIndex - 6) mod 3 == 0
    b.Write(4);
    EXPECT_EQ(b.LookBack(0), 4.0);
    EXPECT_EQ(b.LookBack(1), 3.0);
}

TEST(RingBuffer, RunningSumIgnoresNonFiniteValues) {
    RingBuffer b(2);
    b.Write(std::numeric_limits<double>::quiet_NaN());
    b.Write(std::numeric_limits<double>::infinity());
    EXPECT_EQ(b.Sum(), 0.0);
    b.Write(3);
    b.Write(5);
    EXPECT_EQ(b.Sum(), 8.0);
    EXPECT_EQ(b.Mean(), 4.0);
}

TEST(RingBuffer, FlushKeepsSumConsistentWithStorage) {
    RingBuffer b(4);
    for (double v : {1.0, 2.0, 3.0}) b.Write(v);
    b.Flush();
    EXPECT_EQ(b.Buffered(), 0u);
    EXPECT_EQ(b.Overflowed(), 0u);
    EXPECT_EQ(b.Sum(), 6.0);
    b.Write(10);
    b.Write(20);  // overwrites the 1
    EXPECT_EQ(b.Sum(), 35.0);
    EXPECT_EQ(b.Buffered(), 2u);
    EXPECT_EQ(b.Read(), 10.0);
}

TEST(RingBuffer, OneWriterOneReaderLoseNothing) {
    RingBuffer b(64);
    const int n = 200000;
    std::thread writer([&] {
        for (int i = 1; i <= n; ++i) {
            while (b.Buffered() == b.Capacity()) std::this_thread::yield();
            b.Write(i);
        }
    });
    double expected = 1;
    int received = 0;
    while (received < n) {
        if (b.Buffered() == 0) {
            std::this_thread::yield();
            continue;
        }
        double v = b.Read();
        ASSERT_EQ(v, expected);
        expected += 1;
        ++received;
    }
    writer.join();
    EXPECT_EQ(b.Overflowed(), 0u);
}
