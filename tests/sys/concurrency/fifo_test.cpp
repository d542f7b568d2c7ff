#include <cstdint>
#include <string>
#include <thread>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sys/concurrency/fifo.h"
#include "sys/errors/exception.h"

namespace qv::sys {
namespace {

// The flags that are set, consuming them: F full, E empty, f not-full, e not-empty.
template <typename F>
std::string setFlags(F& fifo) {
    return std::string(fifo.fullFlag().wait(0) ? "F" : "") + (fifo.emptyFlag().wait(0) ? "E" : "") +
           (fifo.notFullFlag().wait(0) ? "f" : "") + (fifo.notEmptyFlag().wait(0) ? "e" : "");
}

// Matches a call that throws an InternalError with this message.
auto throwsMessage(const std::wstring& message) {
    return testing::Throws<InternalError>(testing::Property(&InternalError::message, message));
}

TEST(Fifo, CapacityTenHoldsTenAndOverflowAndUnderflowThrowChangingNothing) {
    Fifo<int, 10> fifo;
    EXPECT_THAT([&] { fifo.getFirst(); }, throwsMessage(L"Attempt to read empty fifo in Fifo::getFirst()"));
    EXPECT_THAT([&] { std::as_const(fifo).getFirst(); },
                throwsMessage(L"Attempt to read empty fifo in Fifo::getFirst() const"));
    EXPECT_THAT([&] { fifo.Remove(); },
                throwsMessage(L"Attempt to remove an element from an already empty fifo in Fifo::Remove()"));
    EXPECT_EQ(setFlags(fifo), "");
    for (int i = 0; i < 10; ++i) {
        fifo.Add(i);
        EXPECT_EQ(setFlags(fifo), i == 0 ? "e" : i == 9 ? "F" : "") << i;
    }
    EXPECT_THAT([&] { fifo.Add(10); },
                throwsMessage(L"Attempt to add to an already full fifo in Fifo::Add()"));
    EXPECT_EQ(setFlags(fifo), "");
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fifo.getFirst(), i);
        fifo.Remove();
        EXPECT_EQ(setFlags(fifo), i == 0 ? "f" : i == 9 ? "E" : "") << i;
    }

    Fifo<std::uint64_t, 1> single;
    single.Add(5);
    EXPECT_EQ(setFlags(single), "Fe");
    single.Remove();
    EXPECT_EQ(setFlags(single), "Ef");
    EXPECT_TRUE(single.setAccess(StringSidTrustee("WD"), true, kAccessAll));
}

// The consumer sleeps on not-empty and the producer on not-full, so a flag
// not set when it matters leaves a side asleep for good.
TEST(Fifo, MillionValuesBetweenThreadsWaitingOnTheEdgeFlags) {
    constexpr std::uint64_t kCount = 1000000;
    Fifo<std::uint64_t, 100> fifo;
    std::thread producer([&] {
        for (std::uint64_t value = 0; value < kCount; ++value) {
            while (fifo.isFull()) {
                fifo.notFullFlag().wait(kWaitForever);
            }
            fifo.Add(value);
        }
    });
    std::uint64_t mismatches = 0;
    for (std::uint64_t expected = 0; expected < kCount; ++expected) {
        while (fifo.isEmpty()) {
            fifo.notEmptyFlag().wait(kWaitForever);
        }
        mismatches += fifo.getFirst() != expected ? 1 : 0;
        fifo.Remove();
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
}

} // namespace
} // namespace qv::sys
