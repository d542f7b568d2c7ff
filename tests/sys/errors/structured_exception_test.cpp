#include "sys/errors/structured_exception.h"

#include "errors_test_support.h"

namespace qv::sys {
namespace {

// Known codes are named in the fault test below.
TEST(StructuredException, DescriptionOfACodeWithoutANameSaysSo) {
    EXPECT_EQ("Structured Exception 40010005 Unknown", structuredExceptionDescription(0x40010005));
}

TEST(StructuredException, FaultsOfAThreadThatInstalledTheTranslatorAreThrownOnceAndDumped) {
    const test::ChildRun run = test::runChild("translate");
    EXPECT_EQ(0xC0000094u, run.status) << run.output;
    EXPECT_EQ(1u, test::count(run.output, "caught: Structured Exception C0000094 Integer Divide By Zero"));
    EXPECT_EQ(1u, test::count(run.output, "caught: Structured Exception C0000005 Access Violation"));
    EXPECT_EQ(2u, test::count(run.output, "unwound")) << run.output;
    EXPECT_EQ(1u, test::count(run.output, "then plain"));
    EXPECT_EQ(1u, test::count(run.output, "unhandled C0000094"));
    EXPECT_EQ(2u, test::count(run.output, "\tERROR\tstructured_exception.cpp:97\t"));
    EXPECT_EQ(0xC0000005u,
              run.dump.value_or(std::make_pair(0u, 0u)).second); // the later dump replaced the first

    const test::ChildRun otherThread = test::runChild("fault-other-thread");
    EXPECT_EQ(0u, test::count(otherThread.output, "caught"));
    EXPECT_EQ(1u, test::count(otherThread.output, "unhandled C0000094"));
}

} // namespace
} // namespace qv::sys
