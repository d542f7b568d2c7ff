#include <cstdint>
#include <thread>

#include <gtest/gtest.h>

#include "sys/concurrency/fifo_base.h"
#include "sys/concurrency/squasher.h"

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

TEST(FifoBase, RefusalsChangeNothingAndCapacityOneCrossesTwoEdgesAtOnce) {
    Ring<1> ring;
    unsigned edges = 99;
    EXPECT_FALSE(ring.tryRemove(edges));
    EXPECT_EQ(edges, 99u);
    ASSERT_TRUE(ring.tryAdd(7, edges));
    EXPECT_EQ(edges, unsigned{kFifoBecameNotEmpty | kFifoBecameFull});
    EXPECT_FALSE(ring.tryAdd(8, edges));
    EXPECT_EQ(ring.first(), 7u);
    ASSERT_TRUE(ring.tryRemove(edges));
    EXPECT_EQ(edges, unsigned{kFifoBecameNotFull | kFifoBecameEmpty});
    EXPECT_TRUE(ring.isEmpty());
    EXPECT_FALSE(ring.isFull());
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

} // namespace
} // namespace qv::sys
