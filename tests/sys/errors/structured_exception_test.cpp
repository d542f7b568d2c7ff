#include "sys/errors/structured_exception.h"

#include <cstdio>

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
    // The first dump keeps the fixed name; the second goes beside it.
    EXPECT_EQ(0xC0000094u, test::codeOf(run.dump));
    ASSERT_EQ(1u, run.uniqueDumps.size());
    EXPECT_EQ(0xC0000005u, test::codeOf(run.uniqueDumps[0]));

    const test::ChildRun otherThread = test::runChild("fault-other-thread");
    EXPECT_EQ(0u, test::count(otherThread.output, "caught"));
    EXPECT_EQ(1u, test::count(otherThread.output, "unhandled C0000094"));
}

TEST(StructuredException, AFaultNothingCatchesOnTheMainThreadKeepsItsDumpPastTheFatalPath) {
    const test::ChildRun run = test::runChild("fault-main");
    EXPECT_EQ(3u, run.status) << run.output;
    unsigned long thread = 0;
    void* function = nullptr;
    const auto said = run.output.find("fault in thread ");
    ASSERT_NE(std::string::npos, said) << run.output;
    ASSERT_EQ(2, std::sscanf(&run.output[said], "fault in thread %lu function %p", &thread, &function));
    ASSERT_EQ(0xC0000005u, test::codeOf(run.dump)) << run.output;
    const MINIDUMP_EXCEPTION& fault = run.dump->stream.ExceptionRecord;
    EXPECT_EQ(thread, run.dump->stream.ThreadId);
    // The context is the faulting instruction's: a write (1) to address 0 in writeThroughNull.
    const auto start = reinterpret_cast<std::uint64_t>(function);
    EXPECT_TRUE(fault.ExceptionAddress >= start && fault.ExceptionAddress < start + 32) << std::hex << start;
    EXPECT_EQ(fault.ExceptionAddress, run.dump->context.Rip);
    EXPECT_EQ(1u, fault.ExceptionInformation[0]);
    EXPECT_EQ(0u, fault.ExceptionInformation[1]);
    // The terminate handler's dump of the same failure lies beside it.
    ASSERT_EQ(1u, run.uniqueDumps.size()) << run.output;
    EXPECT_EQ(1u, test::codeOf(run.uniqueDumps[0]));
}

} // namespace
} // namespace qv::sys
