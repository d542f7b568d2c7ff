#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sys/concurrency/fifo_base.h"
#include "sys/concurrency/squasher.h"

namespace qv::sys {
namespace {

// Producer and consumer meet at one queued value every round: the consumer
// takes it while the producer adds the next. Whenever the consumer saw the
// FIFO become empty, the producer must have seen it become not empty, or a
// consumer sleeping on that edge would never wake. Each side needs a full
// barrier between its index store and its read of the other's index; without
// one, a store still waiting in its core's buffer lets both read stale
// indices. The window is a few dozen nanoseconds: this file is built
// optimised, the consumer staggers its start so that rounds go either way,
// and both sides spin a while before yielding, to run at the same time.
TEST(FifoBase, ProducerAndConsumerCrossingAtOneValueLoseNoEdge) {
    constexpr std::uint32_t kRounds = 200000;
    FifoBase<std::uint64_t, 4, NullSquasher<std::uint64_t>> ring;
    unsigned edges = 0;
    ring.tryAdd(0, edges);
    std::vector<std::uint8_t> added(kRounds + 1);
    std::vector<std::uint8_t> removed(kRounds + 1);
    std::atomic<std::uint32_t> ready{0};
    std::atomic<std::uint32_t> go{0};
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
        ring.tryRemove(edges);
        removed[round] = static_cast<std::uint8_t>(edges);
    }
    producer.join();
    std::uint32_t lost = 0;
    for (std::uint32_t round = 1; round <= kRounds; ++round) {
        lost += (removed[round] & kFifoBecameEmpty) && !(added[round] & kFifoBecameNotEmpty) ? 1 : 0;
    }
    EXPECT_EQ(lost, 0u);
}

} // namespace
} // namespace qv::sys
