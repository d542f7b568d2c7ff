#include <cstdint>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "sys/concurrency/fifo_base.h"
#include "sys/concurrency/squasher.h"
#include "sys/concurrency/waitable.h"

namespace qv::sys {
namespace {

template <std::uint32_t N>
using Ring = FifoBase<std::uint64_t, N, NullSquasher<std::uint64_t>>;

TEST(FifoBase, IndicesWrapWithValuesInOrderAndEdgesAtTheTransitions) {
    Ring<10> ring;
    unsigned edges = 0;
    std::uint64_t next = 0;
    std::uint64_t expected = 0;
    for (int i = 0; i < 1000; ++i) {
        // Between one and ten values queued, so the indices meet every slot.
        const int batch = 1 + i % 10;
        for (int k = 0; k < batch; ++k) {
            ASSERT_TRUE(ring.tryAdd(next++, edges));
            EXPECT_EQ(edges & kFifoBecameNotEmpty, k == 0 ? kFifoBecameNotEmpty : 0u);
            EXPECT_EQ(edges & kFifoBecameFull, k == 9 ? kFifoBecameFull : 0u);
        }
        EXPECT_EQ(ring.isFull(), batch == 10);
        for (int k = 0; k < batch; ++k) {
            ASSERT_EQ(ring.first(), expected++);
            ASSERT_TRUE(ring.tryRemove(edges));
            EXPECT_EQ(edges & kFifoBecameNotFull, batch == 10 && k == 0 ? kFifoBecameNotFull : 0u);
            EXPECT_EQ(edges & kFifoBecameEmpty, k == batch - 1 ? kFifoBecameEmpty : 0u);
        }
        ASSERT_TRUE(ring.isEmpty());
    }
}

// Two threads, a million values: none lost, duplicated or reordered. Built
// natively under the thread sanitizer as well (scripts/tsan.sh).
TEST(FifoBase, MillionValuesBetweenTwoThreadsArriveInOrder) {
    constexpr std::uint64_t kCount = 1000000;
    Ring<100> ring;
    std::thread producer([&] {
        unsigned edges = 0;
        for (std::uint64_t value = 0; value < kCount; ++value) {
            while (!ring.tryAdd(value, edges)) {
                std::this_thread::yield();
            }
        }
    });
    std::uint64_t mismatches = 0;
    unsigned edges = 0;
    for (std::uint64_t expected = 0; expected < kCount; ++expected) {
        while (ring.isEmpty()) {
            std::this_thread::yield();
        }
        mismatches += ring.first() != expected ? 1 : 0;
        ring.tryRemove(edges);
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
    EXPECT_TRUE(ring.isEmpty());
}

TEST(WaitMilliseconds, RoundsUpOnlyTheLargestMeansNoLimitAndNegativePolls) {
    EXPECT_EQ(waitMilliseconds(0), 0u);
    EXPECT_EQ(waitMilliseconds(1), 1u);
    EXPECT_EQ(waitMilliseconds(1001), 2u);
    EXPECT_EQ(waitMilliseconds(kWaitForever), 0xFFFFFFFFu);
    // A deadline already passed, by however much, is a poll, never a wait without end.
    EXPECT_EQ(waitMilliseconds(-1), 0u);
    EXPECT_EQ(waitMilliseconds(std::numeric_limits<std::int64_t>::min()), 0u);
    // Too long for the kernel: the longest finite wait, not a wrapped short one.
    EXPECT_EQ(waitMilliseconds(kWaitForever - 1), 0xFFFFFFFEu);
}

} // namespace
} // namespace qv::sys
