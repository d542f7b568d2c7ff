#include <regex>

#include <aclapi.h>

#include "errors_test_support.h"
#include "sys/errors/dump_file.h"
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
        const auto ownedBy = [](const char* sid) { return [sid](void*) { return win32::sidFromText(sid); }; };
        EXPECT_EQ(quorvaneTemp, debugLocation(false, ownedBy("S-1-5-18")));
        EXPECT_EQ(quorvaneTemp, debugLocation(false, ownedBy("S-1-5-32-544")));
        // Any user may make that folder, and others: theirs, or no known owner's, are passed over.
        EXPECT_EQ("", debugLocation(false, ownedBy("S-1-5-32-545")));
        EXPECT_EQ("", debugLocation(false, ownedBy("")));
        RemoveDirectoryA(quorvaneTemp.c_str());
    }
    test::ScopedSetting missing(HKEY_CURRENT_USER, "Core", "DebugLocation", setting / "missing\\");
    EXPECT_EQ(test::moduleDirectory(), debugLocation(false));
}

TEST(CrashDump, DumpFileIsNewClosedToOtherUsersAndFollowsNoLink) {
    test::ScratchFolder dumps;
    const std::string precious = dumps / "precious.txt";
    std::ofstream(precious) << "keep me";
    const std::string path = dumps / "app.dmp";
    // A name put there beforehand, leading into another file.
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), precious.c_str(), nullptr));
    {
        const DumpFile dump = createDumpFile(path);
        ASSERT_TRUE(dump.file) << dump.error;
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(dump.file.get(), "dump", 4, &written, nullptr));

        PACL access = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(DWORD(ERROR_SUCCESS),
                  GetSecurityInfo(dump.file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &access, nullptr, &descriptor));
        ASSERT_NE(nullptr, access);
        EXPECT_GT(access->AceCount, 0);
        for (DWORD i = 0; i < access->AceCount; ++i) { // deny entries share the layout
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(access, i, reinterpret_cast<void**>(&ace)));
            auto* sid = reinterpret_cast<std::uint8_t*>(&ace->SidStart);
            const win32::Sid grantee(sid, sid + GetLengthSid(sid));
            EXPECT_TRUE(ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
                        win32::isTrustedOwner(grantee, win32::processAccount()))
                << win32::sidText(grantee);
        }
        LocalFree(descriptor);
    }
    EXPECT_EQ("keep me", test::readFile(precious));
    EXPECT_EQ("dump", test::readFile(path));
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
    const auto dump = test::readDump(dumps / files[0]);
    EXPECT_EQ(1u, test::codeOf(dump));
    EXPECT_EQ(GetCurrentThreadId(), dump ? dump->stream.ThreadId : 0);
    EXPECT_EQ(1u, test::count(test::takeLog(), "\tERROR\tcrash_dump.cpp:209\tCrash dump written"));

    writeMiniDump(&logged, dumps / "missing\\x.dmp", nullptr);
    const std::string log = test::takeLog();
    EXPECT_EQ(1u, test::count(log, "\tDumpTest\t"));
    EXPECT_EQ(1u, test::count(log, "\tERROR\tcrash_dump.cpp:214\t")) << log;
    EXPECT_EQ(1u, test::count(log, "missing\\\\x.dmp")) << log; // log lines escape the backslash
}

} // namespace
} // namespace qv::sys
