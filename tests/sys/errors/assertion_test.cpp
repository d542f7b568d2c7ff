#include "sys/errors/assertion.h"

#include "errors_test_support.h"

namespace qv::sys {
namespace {

enum class Kind { Read = 2 };

TEST(Assertion, BehaviourIsReadAtEveryFailure) {
    test::ScratchFolder dumps;
    test::ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", dumps.directory());
    int count = 3;

    // No value: logged and dumped, and the caller goes on.
    QV_ASSERT_CMP(count, <=, 2);
    const std::string at = " at line " + std::to_string(__LINE__ - 1) + " of " + __FILE__;
    std::string log = test::takeLog();
    EXPECT_EQ(1u, test::count(log, "\tAssertLogger\t"));
    EXPECT_EQ(1u, test::count(log, "\tERROR\tassertion.cpp")) << log;
    EXPECT_EQ(1u, test::count(log, "Assertion failed: count <= 2 with expansion: 3 <= 2" + at)) << log;
    EXPECT_EQ(std::vector<std::string>{"qv_errors_tests.dmp"}, dumps.names());
    std::filesystem::remove(dumps / "qv_errors_tests.dmp");

    {
        test::ScopedSetting nothing(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "0");
        QV_ASSERT(count == 2);
        EXPECT_EQ(0u, test::count(test::takeLog(), "Assertion failed"));
    }
    test::ScopedSetting logOnly(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "1");
    QV_ASSERT(count == 2);
    QV_ASSERT_MSG(&count == nullptr, "why");
    QV_ASSERT_CMP(Kind::Read, !=, Kind::Read);
    log = test::takeLog();
    EXPECT_EQ(1u, test::count(log, "Assertion failed: count == 2 at line")) << log;
    EXPECT_EQ(1u, test::count(log, "Assertion failed: &count == nullptr with message: \"why\" at line"))
        << log;
    EXPECT_EQ(1u, test::count(log, "with expansion: 2 != 2 at line")) << log;
    EXPECT_EQ("{not null pointer} {null ptr} false", assertionValueText(&count) + " " +
                                                         assertionValueText(static_cast<int*>(nullptr)) +
                                                         " " + assertionValueText(false));
    EXPECT_TRUE(dumps.names().empty());
}

TEST(Assertion, AbortingBehavioursEndTheProcess) {
    for (const char* behaviour : {"5", "8"}) {
        test::ScopedSetting aborting(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", behaviour);
        const test::ChildRun run = test::runChild("assert");
        EXPECT_EQ(3u, run.status) << run.output;
        EXPECT_EQ(behaviour[0] == '5' ? 1u : 0u,
                  test::count(run.output, "Assertion failed: zero == 1 with expansion: 0 == 1"))
            << run.output;
        EXPECT_EQ(0u, test::count(run.output, "carried on"));
        // 5 asks for the abort message and a fault report, 8 for neither.
        EXPECT_EQ(1u, test::count(run.output, behaviour[0] == '5' ? "abort flags 3" : "abort flags 0"));
        // The abort is the process's first fatal event: logged and dumped.
        EXPECT_EQ(1u, test::count(run.output, "\tFATAL\t")) << run.output;
        EXPECT_TRUE(run.dump);
    }
}

} // namespace
} // namespace qv::sys
