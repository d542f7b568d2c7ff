#include <regex>

#include "errors_test_support.h"
#include "sys/errors/structured_exception.h"

namespace qv::sys {
namespace {

TEST(CrashDump, DebugLocationIsTheFirstUsableCandidate) {
    EXPECT_EQ(std::filesystem::temp_directory_path().string(), debugLocation(true));
    const std::string quorvaneTemp = test::windowsTempFolderAside.folder + "\\";
    ASSERT_FALSE(std::filesystem::exists(quorvaneTemp)) << "not set aside";

    test::ScratchFolder setting;
    const std::string directory = setting.directory();
    {
        // Written without its final backslash, the setting still names the directory.
        test::ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation",
                                     directory.substr(0, directory.size() - 1));
        EXPECT_EQ(directory, debugLocation(false));
        ASSERT_TRUE(CreateDirectoryA(quorvaneTemp.c_str(), nullptr));
        EXPECT_EQ(quorvaneTemp, debugLocation(false));
        RemoveDirectoryA(quorvaneTemp.c_str());
    }
    test::ScopedSetting missing(HKEY_CURRENT_USER, "Core", "DebugLocation", setting / "missing\\");
    EXPECT_EQ(test::moduleDirectory(), debugLocation(false));
}

TEST(CrashDump, UniqueNamesCountCollisionsUpToTen) {
    test::ScratchFolder dumps;
    const DumpTime time{2024, 3, 5, 9, 15, 0, 42};
    EXPECT_EQ(dumps / "app.dmp", crashDumpPath(dumps / "app", false, time));
    EXPECT_EQ(dumps / "app20240305-091500_042.dmp", crashDumpPath(dumps / "app", true, time));
    for (int n = 1; n <= 11; ++n) { // the name after the tenth collision is taken again
        EXPECT_EQ(dumps / ("app20240305-091500_042-" + std::to_string(std::min(n, 10)) + ".dmp"),
                  crashDumpPath(dumps / "app", true, time));
    }
}

TEST(CrashDump, DumpHereWritesTheCallingThreadAndFailuresAreOnlyLogged) {
    EXPECT_EQ("qv_errors_tests", executableBaseName());
    test::ScratchFolder dumps;
    test::ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", dumps.directory());
    test::ScopedSetting unique(HKEY_CURRENT_USER, "Core", "EnableUniqueDmpFiles", "yes");
    Logger::Logged logged("DumpTest", "");
    dumpHere(&logged);
    const std::vector<std::string> files = dumps.names();
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(qv_errors_tests\d{8}-\d{6}_\d{3}\.dmp)")))
        << files[0];
    EXPECT_EQ(std::make_pair(std::uint32_t(GetCurrentThreadId()), 1u), test::readDump(dumps / files[0]));
    EXPECT_EQ(1u, test::count(test::takeLog(), "\tERROR\tcrash_dump.cpp:209\tCrash dump written"));

    writeMiniDump(&logged, dumps / "missing\\x.dmp", nullptr);
    const std::string log = test::takeLog();
    EXPECT_EQ(1u, test::count(log, "\tDumpTest\t"));
    EXPECT_EQ(1u, test::count(log, "\tERROR\tcrash_dump.cpp:214\t")) << log;
    EXPECT_EQ(1u, test::count(log, "missing\\x.dmp")) << log;
}

} // namespace
} // namespace qv::sys
