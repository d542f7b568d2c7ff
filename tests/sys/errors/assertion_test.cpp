#include "sys/errors/assertion.h"

#include "errors_test_support.h"

namespace qv::sys {
namespace {

enum class Kind { Read = 2 };

TEST(Assertion, ExpansionValueTexts) {
    const int value = 7;
    EXPECT_EQ("{not null pointer}", assertionValueText(&value));
    EXPECT_EQ("{null ptr}", assertionValueText(static_cast<const char*>(nullptr)));
    EXPECT_EQ("false", assertionValueText(false));
    EXPECT_EQ("-7 2 4294967295", assertionValueText(-value) + " " + assertionValueText(Kind::Read) + " " +
                                     assertionValueText(0xFFFFFFFFu));
}

TEST(Assertion, BehaviourIsReadAtEveryFailure) {
    test::ScratchDirectory dumps;
    test::ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", dumps.path);
    int count = 3;
    const std::string file = __FILE__;

    // No value: logged and dumped, and the caller goes on.
    QV_ASSERT_CMP(count, <=, 2);
    const int line = __LINE__ - 1;
    auto lines = test::takeLines("\tAssertLogger\t");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tERROR\t"));
    EXPECT_NE(std::string::npos,
              lines[0].find("Assertion failed: count <= 2 with expansion: 3 <= 2 at line " +
                            std::to_string(line) + " of " + file))
        << lines[0];
    EXPECT_EQ(std::vector<std::string>{"qv_errors_tests.dmp"}, dumps.files());
    DeleteFileA((dumps.path + "qv_errors_tests.dmp").c_str());

    {
        test::ScopedSetting nothing(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "0");
        QV_ASSERT(count == 2);
        EXPECT_TRUE(test::takeLines("Assertion failed").empty());
    }
    // The user's hive does not count for this setting.
    test::ScopedSetting user(HKEY_CURRENT_USER, "QuorvaneManager", "AssertBehaviour", "0");
    test::ScopedSetting logOnly(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "1");
    QV_ASSERT(count == 2);
    QV_ASSERT_MSG(count == 2, "why");
    lines = test::takeLines("Assertion failed");
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("Assertion failed: count == 2 at line")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("Assertion failed: count == 2 with message: \"why\" at"))
        << lines[1];
    EXPECT_TRUE(dumps.files().empty());
}

TEST(Assertion, AbortingBehavioursEndTheProcess) {
    for (const char* behaviour : {"5", "8"}) {
        test::ScopedSetting aborting(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", behaviour);
        const test::ChildRun run = test::runChild("assert");
        EXPECT_EQ(3u, run.status) << run.output;
        const bool logs = behaviour[0] == '5';
        EXPECT_EQ(logs ? 1u : 0u, run.count("\tAssertLogger\t")) << run.output;
        EXPECT_EQ(logs ? 1u : 0u, run.count("Assertion failed: zero == 1 with expansion: 0 == 1"))
            << run.output;
        EXPECT_EQ(0u, run.count("carried on"));
        // The abort itself is the process's first fatal event: logged and dumped.
        EXPECT_EQ(1u, run.count("\tFATAL\t")) << run.output;
        EXPECT_TRUE(run.dump);
    }
}

} // namespace
} // namespace qv::sys
