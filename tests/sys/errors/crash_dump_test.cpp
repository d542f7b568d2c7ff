#include <regex>

#include "errors_test_support.h"
#include "sys/errors/structured_exception.h"

namespace qv::sys {
namespace {

std::string windowsTempQuorvane() {
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\TEMP\\Quorvane\\";
}

TEST(CrashDump, DebugLocationIsTheFirstUsableCandidate) {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    EXPECT_EQ(temp, debugLocation(true));

    ASSERT_FALSE(test::exists(windowsTempQuorvane())) << "left over by another run";
    EXPECT_EQ(test::moduleDirectory(), debugLocation(false));
    test::ScratchDirectory machine, user;
    {
        // The user's value comes first; a value without its final backslash still names the directory.
        test::ScopedSetting machineValue(HKEY_LOCAL_MACHINE, "Core", "DebugLocation", machine.path);
        test::ScopedSetting userValue(HKEY_CURRENT_USER, "Core", "DebugLocation",
                                      user.path.substr(0, user.path.size() - 1));
        EXPECT_EQ(user.path, debugLocation(false));
        ASSERT_TRUE(CreateDirectoryA(windowsTempQuorvane().c_str(), nullptr));
        EXPECT_EQ(windowsTempQuorvane(), debugLocation(false));
        RemoveDirectoryA(windowsTempQuorvane().c_str());
    }
    test::ScopedSetting missing(HKEY_CURRENT_USER, "Core", "DebugLocation", user.path + "missing\\");
    EXPECT_EQ(test::moduleDirectory(), debugLocation(false));
}

TEST(CrashDump, UniqueNamesCountCollisionsUpToTen) {
    test::ScratchDirectory dumps;
    const DumpTime time{2024, 3, 5, 9, 15, 0, 42};
    EXPECT_EQ(dumps.path + "app.dmp", crashDumpPath(dumps.path + "app", false, time));
    std::vector<std::string> names{dumps.path + "app20240305-091500_042.dmp"};
    for (int n = 1; n <= 10; ++n) {
        names.push_back(dumps.path + "app20240305-091500_042-" + std::to_string(n) + ".dmp");
    }
    names.push_back(names.back()); // the tenth collision is overwritten
    for (const std::string& expected : names) {
        EXPECT_EQ(expected, crashDumpPath(dumps.path + "app", true, time));
    }
}

TEST(CrashDump, DumpsAreNamedAfterTheExecutableAndFailuresOnlyLogged) {
    EXPECT_EQ("qv_errors_tests", executableBaseName());
    test::ScratchDirectory dumps;
    test::ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", dumps.path);
    test::ScopedSetting unique(HKEY_CURRENT_USER, "Core", "EnableUniqueDmpFiles", "yes");
    Logger::Logged logged("DumpTest", "");
    dumpHere(&logged);
    const std::vector<std::string> files = dumps.files();
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(qv_errors_tests\d{8}-\d{6}_\d{3}\.dmp)")))
        << files[0];
    EXPECT_EQ(std::make_pair(std::uint32_t{GetCurrentThreadId()}, 1u), test::readDump(dumps.path + files[0]));
    EXPECT_EQ(1u, test::takeLines("\tDumpTest\t").size());

    writeMiniDump(&logged, dumps.path + "missing\\x.dmp", nullptr);
    const auto lines = test::takeLines("\tDumpTest\t");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tERROR\t")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("missing\\x.dmp")) << lines[0];
}

} // namespace
} // namespace qv::sys
