#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "sys/logger/identity.h"
#include "sys/logger/line_format.h"

namespace qv::sys::Logger {
namespace {

TEST(LogLine, DecoratedLineCarriesEveryFieldAndShortLineOnlyTheNames) {
    EXPECT_EQ(composeLine(kDecoratedLine, 3725042, kWarn, "@@tok@@", 24, "QuorvaneAnalytics",
                          "00000000DEADBEEF", 4312, "Main", "text"),
              "01:02:05.042\t4312:Main\tQuorvaneAnalytics\t00000000DEADBEEF\tWARN\t@@tok@@:24\ttext");
    // Any line type but the short one is decorated; an unnamed thread leaves "id:".
    EXPECT_EQ(composeLine(7, 0, kVerbose, "a.cpp", -1, "M", "", 1, "", ""),
              "00:00:00.000\t1:\tM\t\tVERBOSE\ta.cpp:-1\t");
    // At least two hour digits, and no wrap at a day.
    EXPECT_EQ(formatElapsed(100u * 3600000u), "100:00:00.000");
    EXPECT_EQ(formatElapsed(UINT32_MAX), "1193:02:47.295");

    EXPECT_EQ(composeLine(kShortLine, 5, kInfo, "s", 1, "Reader", "0000000000001234", 9, "T", "hello"),
              "[Reader 0000000000001234] hello");
    EXPECT_EQ(composeLine(kShortLine, 5, kInfo, "s", 1, "Reader", "", 9, "T", "hello"), "[Reader] hello");
}

TEST(LogLine, SourceIsShortenedUnlessItIsAToken) {
    EXPECT_STREQ(shortenSource("@@ab\\cd/ef@@"), "@@ab\\cd/ef@@");
    EXPECT_STREQ(shortenSource("C:\\src\\sys\\logger.cpp"), "logger.cpp");
    EXPECT_STREQ(shortenSource("/work/main/sys/logger.cpp"), "logger.cpp");
    EXPECT_STREQ(shortenSource("a\\b/c.cpp"), "b/c.cpp"); // the backslash wins
    EXPECT_STREQ(shortenSource("@"), "@");
    EXPECT_STREQ(shortenSource(nullptr), "");
}

TEST(Identity, InstanceIdIsTheAddressAndSettersSanitise) {
    Identity identity("Message Reader-1");
    char address[32];
    std::snprintf(address, sizeof address, "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&identity)));
    EXPECT_EQ(identity.instanceId(), address);
    EXPECT_EQ(identity.name(), "Message_Reader_1");
    identity.setName("a.b:c\xC3\xBC_Z9");
    EXPECT_EQ(identity.name(), "a_b_c___Z9");
    identity.setInstanceId("{12 34}");
    EXPECT_EQ(identity.instanceId(), "_12_34_");
}

} // namespace
} // namespace qv::sys::Logger
