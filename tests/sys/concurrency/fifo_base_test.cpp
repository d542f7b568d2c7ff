#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

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

// Producer and consumer meet at one queued value every round: the consumer
// takes it, in order, while the producer adds the next. Built natively under
// the thread sanitizer as well (scripts/tsan.sh). Whenever the consumer saw the
// FIFO become empty, the producer must have seen it become not empty, or a
// consumer sleeping on that edge would never wake. Each side needs a full
// barrier between its index store and its read of the other's index; without
// one, a store still waiting in its core's buffer lets both read stale
// indices. The window is a few dozen nanoseconds: this file is built
// optimised, the consumer staggers its start, and both spin before yielding.
TEST(FifoBase, ProducerAndConsumerCrossingAtOneValueLoseNoEdge) {
    constexpr std::uint32_t kRounds = 200000;
    Ring<4> ring;
    unsigned edges = 0;
    ring.tryAdd(0, edges);
    std::vector<std::uint8_t> added(kRounds + 1);
    std::vector<std::uint8_t> removed(kRounds + 1);
    std::atomic<std::uint32_t> ready{0};
    std::atomic<std::uint32_t> go{0};
    std::uint32_t mismatches = 0;
    const auto awaitRound = [](const std::atomic<std::uint32_t>& counter, std::uint32_t round) {
        for (std::uint32_t spins = 0; counter.load() < round; ++spins) {
            if (spins > 20000) {
                std::this_thread::yield();
            }
        }
    };
    std::thread producer([&] {
        for (std::uint32_t round = 1; round <= kRounds; ++round) {
            ready.store(round);
            awaitRound(go, round);
            unsigned crossed = 0;
            ring.tryAdd(round, crossed);
            added[round] = static_cast<std::uint8_t>(crossed);
        }
    });
    for (std::uint32_t round = 1; round <= kRounds; ++round) {
        awaitRound(ready, round);
        go.store(round);
        for (volatile std::uint32_t spin = round % 64; spin != 0; --spin) {
        }
        mismatches += ring.first() != round - 1 ? 1 : 0;
        ring.tryRemove(edges);
        removed[round] = static_cast<std::uint8_t>(edges);
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
    std::uint32_t lost = 0;
    for (std::uint32_t round = 1; round <= kRounds; ++round) {
        lost += (removed[round] & kFifoBecameEmpty) && !(added[round] & kFifoBecameNotEmpty) ? 1 : 0;
    }
    EXPECT_EQ(lost, 0u);
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
