#include "sys/errors/error_handlers.h"

#include "errors_test_support.h"

namespace qv::sys {
namespace {

TEST(ErrorHandlers, FatalErrorLogsTheExceptionOnceAndAbortsWithoutDump) {
    const test::ChildRun fatal = test::runChild("fatal");
    EXPECT_EQ(3u, fatal.status) << fatal.output;
    EXPECT_EQ(1u, test::count(fatal.output, "\tErrorHandler\t"));
    EXPECT_EQ(1u, test::count(fatal.output, "\tFATAL\terror_handlers.cpp:86\t"));
    EXPECT_EQ(1u, test::count(fatal.output, "Fatal error in QuorvaneAnalytics appMain: boom"));
    EXPECT_FALSE(fatal.dump);

    const test::ChildRun second = test::runChild("fatal-claimed");
    EXPECT_EQ(3u, second.status) << second.output;
    EXPECT_EQ(0u, test::count(second.output, "\tErrorHandler\t"));
}

TEST(ErrorHandlers, RuntimeFailuresLogOnceDumpAndAbort) {
    // Each record has a line number of its own, by which log readers tell them apart.
    for (const auto& [scenario, record] :
         {std::make_pair("escape-main", "\tFATAL\terror_handlers.cpp:33\tTerminate handler called"),
          std::make_pair("abort", "\tFATAL\terror_handlers.cpp:61\tAbort signal"),
          std::make_pair("pure-call", "\tFATAL\terror_handlers.cpp:142\tPure virtual function call"),
          std::make_pair("invalid-parameter", "\tFATAL\terror_handlers.cpp:126\tInvalid parameter passed")}) {
        const test::ChildRun run = test::runChild(scenario);
        EXPECT_EQ(3u, run.status) << run.output;
        EXPECT_EQ(1u, test::count(run.output, "\tFATAL\t")) << run.output;
        EXPECT_EQ(1u, test::count(run.output, record)) << run.output;
        // The dump shows the failing thread where the handler was called.
        EXPECT_EQ(1u, test::codeOf(run.dump)) << scenario;
    }
}

} // namespace
} // namespace qv::sys
