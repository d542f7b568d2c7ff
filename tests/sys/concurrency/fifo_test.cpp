#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sys/concurrency/fifo.h"
#include "sys/concurrency/tagged_value_fifo.h"
#include "sys/errors/exception.h"

namespace qv::sys {
namespace {

// Which of the four flags are set, as "full empty notFull notEmpty" bits
// "F", "E", "f", "e"; waiting consumes them.
template <typename F>
std::string setFlags(F& fifo) {
    std::string text;
    text += fifo.fullFlag().wait(0) ? "F" : "";
    text += fifo.emptyFlag().wait(0) ? "E" : "";
    text += fifo.notFullFlag().wait(0) ? "f" : "";
    text += fifo.notEmptyFlag().wait(0) ? "e" : "";
    return text;
}

template <typename Call>
std::string internalErrorText(Call call) {
    try {
        call();
    } catch (const InternalError& error) {
        return narrowText(error.message());
    }
    return "no error";
}

TEST(Fifo, CapacityTenHoldsTenAndOverflowAndUnderflowThrowChangingNothing) {
    Fifo<int, 10> fifo;
    EXPECT_EQ(setFlags(fifo), "");
    EXPECT_EQ(internalErrorText([&] { fifo.getFirst(); }), "Attempt to read empty fifo in Fifo::getFirst()");
    EXPECT_EQ(internalErrorText([&] { static_cast<const Fifo<int, 10>&>(fifo).getFirst(); }),
              "Attempt to read empty fifo in Fifo::getFirst() const");
    EXPECT_EQ(internalErrorText([&] { fifo.Remove(); }),
              "Attempt to remove an element from an already empty fifo in Fifo::Remove()");
    EXPECT_EQ(setFlags(fifo), "");

    for (int i = 0; i < 10; ++i) {
        fifo.Add(i);
        EXPECT_EQ(setFlags(fifo), i == 0 ? "e" : i == 9 ? "F" : "") << i;
    }
    EXPECT_TRUE(fifo.isFull());
    EXPECT_EQ(internalErrorText([&] { fifo.Add(10); }),
              "Attempt to add to an already full fifo in Fifo::Add()");
    EXPECT_EQ(setFlags(fifo), "");
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fifo.getFirst(), i);
        fifo.Remove();
        EXPECT_EQ(setFlags(fifo), i == 0 ? "f" : i == 9 ? "E" : "") << i;
    }
    EXPECT_TRUE(fifo.isEmpty());
}

TEST(Fifo, CapacityOneSetsTwoFlagsPerCallAndDescribesItself) {
    Fifo<std::uint64_t, 1> fifo;
    fifo.Add(5);
    EXPECT_EQ(setFlags(fifo), "Fe");
    fifo.Remove();
    EXPECT_EQ(setFlags(fifo), "Ef");

    const FifoDescriptor descriptor = fifo.describe();
    EXPECT_EQ(descriptor.capacity, 1u);
    EXPECT_EQ(descriptor.fullEvent, fifo.fullFlag().getHandle());
    EXPECT_EQ(descriptor.notEmptyEvent, fifo.notEmptyFlag().getHandle());
    StringSidTrustee everyone("WD");
    EXPECT_TRUE(fifo.setAccess(everyone, true, kAccessAll));
}

// The consumer sleeps on not-empty and the producer on not-full, so every
// edge flag must be set exactly when it matters or a side never wakes.
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

struct Counted : ITaggedValue {
    explicit Counted(int& deleted) : deleted_(deleted) {}
    ~Counted() override { ++deleted_; }
    std::int32_t tag() const override { return 7; }
    int& deleted_;
};

TEST(TaggedValueFifo, OwnsQueuedValuesAndDeletesRefusedOnes) {
    int deleted = 0;
    {
        TaggedValueFifo<3> fifo;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(fifo.offer(std::make_unique<Counted>(deleted)), i < 3);
        }
        EXPECT_EQ(deleted, 1); // the refused fourth
        std::unique_ptr<const ITaggedValue> first = fifo.take();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->tag(), 7);
        first.reset();
        EXPECT_EQ(deleted, 2);
    }
    EXPECT_EQ(deleted, 4); // the two still queued, once each
}

} // namespace
} // namespace qv::sys
