#include "sys/errors/error_handlers.h"

#include "errors_test_support.h"

namespace qv::sys {
namespace {

TEST(ErrorHandlers, FatalErrorLogsTheExceptionOnceAndAbortsWithoutDump) {
    const test::ChildRun fatal = test::runChild("fatal");
    EXPECT_EQ(3u, fatal.status) << fatal.output;
    EXPECT_EQ(1u, fatal.count("\tErrorHandler\t"));
    EXPECT_EQ(1u, fatal.count("\tFATAL\terror_handlers.cpp:"));
    EXPECT_EQ(1u, fatal.count("Fatal error in QuorvaneAnalytics appMain: boom"));
    EXPECT_FALSE(fatal.dump);

    const test::ChildRun second = test::runChild("fatal-claimed");
    EXPECT_EQ(3u, second.status) << second.output;
    EXPECT_EQ(0u, second.count("\tErrorHandler\t"));
}

TEST(ErrorHandlers, RuntimeFailuresLogOnceDumpAndAbort) {
    const std::pair<const char*, const char*> cases[] = {
        {"terminate", "Terminate handler called"},
        {"abort", "Abort signal"},
        {"pure-call", "Pure virtual function call"},
        {"invalid-parameter", "Invalid parameter passed to a runtime function"},
    };
    for (const auto& [scenario, text] : cases) {
        const test::ChildRun run = test::runChild(scenario);
        EXPECT_EQ(3u, run.status) << run.output;
        EXPECT_EQ(1u, run.count("\tFATAL\t")) << run.output;
        EXPECT_EQ(1u, run.count(text)) << run.output;
        // The dump shows the handler's own thread at the point it was called.
        EXPECT_EQ(1u, run.dump.value_or(std::make_pair(0u, 0u)).second) << scenario;
        EXPECT_EQ(0u, run.count("carried on"));
    }
}

} // namespace
} // namespace qv::sys
