#include <gtest/gtest.h>

#include "sys/concurrency/waitable.h"

namespace qv::sys {
namespace {

TEST(WaitMilliseconds, RoundsUpAndTreatsNegativeAsNoLimit) {
    EXPECT_EQ(waitMilliseconds(0), 0u);
    EXPECT_EQ(waitMilliseconds(1), 1u);
    EXPECT_EQ(waitMilliseconds(1000), 1u);
    EXPECT_EQ(waitMilliseconds(1001), 2u);
    EXPECT_EQ(waitMilliseconds(200000), 200u);
    EXPECT_EQ(waitMilliseconds(kWaitForever), 0xFFFFFFFFu);
    // A negative count means no limit, never a short or wrapped wait.
    EXPECT_EQ(waitMilliseconds(-1), 0xFFFFFFFFu);
    EXPECT_EQ(waitMilliseconds(-2000), 0xFFFFFFFFu);
    // Too long for the kernel: the longest finite wait, not a wrapped short one.
    EXPECT_EQ(waitMilliseconds(kWaitForever - 1), 0xFFFFFFFEu);
    EXPECT_EQ(waitMilliseconds(0xFFFFFFFFll * 1000), 0xFFFFFFFEu);
}

} // namespace
} // namespace qv::sys
