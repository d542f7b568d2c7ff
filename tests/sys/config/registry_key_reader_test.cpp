#include "sys/config/registry_key_reader.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sys/logger/log_capture.h"

using namespace qv::sys::win32;
using namespace qv::sys::win32::registry;

namespace {

void put(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data,
         std::size_t size) {
    EXPECT_EQ(RegSetKeyValueW(root, subKey.c_str(), name.c_str(), type, data, DWORD(size)), ERROR_SUCCESS);
}

void putText(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& text) {
    put(root, subKey, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

struct Finally {
    std::function<void()> undo;
    ~Finally() { undo(); }
};

// A key of this test process below HKCU, removed with everything in it.
const std::wstring testKey = L"Software\\QuorvaneTest\\Reader" + std::to_wstring(GetCurrentProcessId());
const std::wstring testPath = L"HKCU\\" + testKey;

// Matches a call that throws E with the Win32 code `code`.
template <typename E>
auto throwsCode(std::uint32_t code) {
    return testing::Throws<E>(testing::Property(&E::code, code));
}

} // namespace

TEST(RegistryKeyReader, ReadsValuesAndAnswersFalseForMissingOrMalformedOnes) {
    const Finally removeKey{[] { RegDeleteTreeW(HKEY_CURRENT_USER, testKey.c_str()); }};
    const DWORD number = 0x12345678;
    const wchar_t unterminated[3] = {L'a', L'b', L'c'};
    const std::wstring longText(300, L'q'); // far beyond the first 16-byte attempt
    put(HKEY_CURRENT_USER, testKey, L"Number", REG_DWORD, &number, 4);
    put(HKEY_CURRENT_USER, testKey, L"TwoBytes", REG_BINARY, &number, 2);
    put(HKEY_CURRENT_USER, testKey, L"Unterminated", REG_SZ, unterminated, sizeof(unterminated));
    putText(HKEY_CURRENT_USER, testKey, L"Long", longText);
    const std::vector<BYTE> huge(0x180000, 0x41); // beyond the 1 MiB limit
    put(HKEY_CURRENT_USER, testKey, L"Huge", REG_BINARY, huge.data(), huge.size());

    RegistryKeyReader reader(testPath);
    std::uint32_t dword = 7;
    bool flag = false;
    std::wstring string;
    EXPECT_TRUE(reader.readDword(L"Number", dword));
    EXPECT_EQ(dword, 0x12345678u);
    EXPECT_TRUE(reader.readBool(L"Number", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(reader.readString(L"Long", string));
    EXPECT_EQ(string, longText);
    EXPECT_TRUE(reader.readString(L"Unterminated", string));
    EXPECT_EQ(string, L"abc");

    // Failures leave the caller's value alone; malformed data are worth a
    // warning, a missing value is not.
    qv::sys::test::LogCapture& records = qv::sys::test::LogCapture::of("RegistryKeyReader");
    dword = 7;
    EXPECT_FALSE(reader.readDword(L"TwoBytes", dword));
    EXPECT_FALSE(reader.readDword(L"Missing", dword));
    EXPECT_FALSE(reader.readString(L"Huge", string));
    EXPECT_EQ(dword, 7u);
    EXPECT_EQ(string, L"abc");
    std::vector<std::string> warnings;
    for (const auto& record : records.take()) {
        if (record.level <= qv::sys::Logger::kWarn) {
            warnings.push_back(record.text);
        }
    }
    ASSERT_EQ(2u, warnings.size());
    EXPECT_EQ(0u, warnings[0].find("DWORD TwoBytes of HKCU\\Software\\QuorvaneTest")) << warnings[0];
    EXPECT_EQ(0u, warnings[1].find("string Huge of HKCU")) << warnings[1];
    EXPECT_THAT([&] { reader.dwordValue(L"TwoBytes"); }, throwsCode<CannotReadValueException>(1359));
    EXPECT_THAT([&] { reader.stringValue(L"Huge"); }, throwsCode<CannotReadValueException>(234));

    // Root names are case-sensitive; a root alone opens the root.
    for (const wchar_t* path : {L"HKLM", L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"HKCR", L"HKEY_CLASSES_ROOT",
                                L"HKCU", L"HKEY_CURRENT_USER\\Software", L"HKU", L"HKEY_USERS"}) {
        EXPECT_TRUE(reader.keyExists(path)) << qv::sys::narrowText(path);
    }
    for (const wchar_t* path :
         {L"hklm", L"Hkcu\\Software", L"", L"\\HKLM", L"HKLM \\SOFTWARE", L"HKCU\\NoSuchKey"}) {
        EXPECT_FALSE(reader.keyExists(path)) << qv::sys::narrowText(path);
    }
    reader.setKeyPath(L"hkcu\\" + testKey);
    EXPECT_FALSE(reader.readDword(L"Number", dword));
    EXPECT_THAT([&] { reader.dwordValue(L"Number"); }, throwsCode<InvalidKeyNameException>(3));
    reader.setKeyPath(testPath + L"\\NoSuchKey");
    EXPECT_THAT([&] { reader.dwordValue(L"Number"); }, throwsCode<KeyDoesNotExistException>(2));
    // A copy of a registry exception keeps its class.
    try {
        reader.dwordValue(L"Number");
    } catch (const RegistryException& e) {
        EXPECT_THAT([&] { e.clone()->rethrow(); }, throwsCode<KeyDoesNotExistException>(2));
    }
}

namespace {

// The exit status of a probe program next to this test: its windowsVersionCode().
DWORD runProbe(const std::wstring& exeName) {
    wchar_t self[MAX_PATH];
    std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + exeName;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start the probe: " << GetLastError();
        return 0;
    }
    DWORD status = 0;
    // A hung probe fails the test soon enough (seven of them within the test's
    // time-out) for the test to put the machine's build number back itself.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

} // namespace

TEST(WindowsVersionCode, FollowsTheReportedVersionAndTheWindows10Build) {
    // Wine reports the version asked for per executable; the build number
    // lives apart in the machine hive. Both are put back afterwards. (Wine 8
    // swaps the product types of its win7 and win2008r2 settings.)
    const std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\";
    const std::wstring currentVersion = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    wchar_t build[64] = {};
    DWORD size = sizeof(build) - sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, currentVersion.c_str(), L"CurrentBuildNumber", RRF_RT_REG_SZ,
                           nullptr, build, &size),
              ERROR_SUCCESS);
    const Finally restore{[&] {
        putText(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", build);
        for (const wchar_t* exe : {L"qv_windows_version_probe.exe", L"qv_windows_version_probe_plain.exe"}) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (appDefaults + exe).c_str());
        }
    }};
    const struct {
        const wchar_t* exe;
        const wchar_t* version;
        const wchar_t* build;
        DWORD code;
    } cases[] = {
        {L"qv_windows_version_probe.exe", L"win10", L"17134", 15},
        {L"qv_windows_version_probe.exe", L"win10", L"15063", 13},
        {L"qv_windows_version_probe.exe", L"win10", L"not a number", 11},
        {L"qv_windows_version_probe_plain.exe", L"win10", L"17134", 9}, // capped at 6.2 without the manifest
        {L"qv_windows_version_probe.exe", L"win81", L"9600", 10},
        {L"qv_windows_version_probe.exe", L"win2008", L"6002", 5},
        {L"qv_windows_version_probe.exe", L"win2003", L"3790", 3},
    };
    for (const auto& c : cases) {
        putText(HKEY_CURRENT_USER, appDefaults + c.exe, L"Version", c.version);
        putText(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", c.build);
        EXPECT_EQ(runProbe(c.exe), c.code)
            << qv::sys::narrowText(c.version) << " " << qv::sys::narrowText(c.build);
    }
}

namespace {

// Opens keys as the system does, but stands the test key in for a user's
// classes root and answers the failures it is given.
struct ScriptedOpener : IKeyOpener {
    long openUserClassesRoot(void* userToken, std::uint32_t access, void*& key) override {
        tokens.push_back(userToken);
        return classesRootStatus != ERROR_SUCCESS ? classesRootStatus
                                                  : open(HKEY_CURRENT_USER, testKey, access, key);
    }
    long openKey(void* root, const std::wstring& subPath, std::uint32_t access, void*& key) override {
        return openStatus != ERROR_SUCCESS ? openStatus : open(static_cast<HKEY>(root), subPath, access, key);
    }
    static long open(HKEY root, const std::wstring& subPath, std::uint32_t access, void*& key) {
        HKEY opened = nullptr;
        const LONG status = RegOpenKeyExW(root, subPath.c_str(), 0, access, &opened);
        key = opened;
        return status;
    }
    std::vector<void*> tokens;
    long classesRootStatus = ERROR_SUCCESS;
    long openStatus = ERROR_SUCCESS;
};

} // namespace

TEST(RegistryKeyReader, AUserTokenMakesHkcrThatUsersClassesRootAndOpeningFailuresKeepTheirClass) {
    const Finally removeKey{[] { RegDeleteTreeW(HKEY_CURRENT_USER, testKey.c_str()); }};
    const DWORD number = 7;
    put(HKEY_CURRENT_USER, testKey + L"\\Sub", L"Number", REG_DWORD, &number, 4);
    ScriptedOpener opener;
    void* const token = &opener; // any value: only the opener sees it
    RegistryKeyReader reader(L"HKCR\\Sub", kKeyQueryValue, token, &opener);
    EXPECT_EQ(reader.dwordValue(L"Number"), 7u);
    EXPECT_EQ(opener.tokens, std::vector<void*>{token});
    // Other roots, and HKCR without a token, are the process's own.
    EXPECT_TRUE(reader.keyExists(testPath + L"\\Sub"));
    EXPECT_FALSE(RegistryKeyReader(L"HKCR\\Sub", kKeyQueryValue, nullptr, &opener).keyExists(L"HKCR\\Sub"));
    EXPECT_EQ(opener.tokens.size(), 1u);

    opener.classesRootStatus = ERROR_NO_SUCH_LOGON_SESSION;
    EXPECT_THAT([&] { reader.dwordValue(L"Number"); }, throwsCode<CannotOpenKeyException>(1312));
    opener.classesRootStatus = ERROR_SUCCESS;
    opener.openStatus = ERROR_ACCESS_DENIED;
    EXPECT_THAT([&] { reader.dwordValue(L"Number"); }, throwsCode<AccessDeniedException>(5));
    opener.openStatus = ERROR_BAD_PATHNAME;
    EXPECT_THAT([&] { reader.dwordValue(L"Number"); }, throwsCode<CannotOpenKeyException>(161));
}

namespace {

// A system as a test describes it; reading its product type fails unless one is given.
struct DescribedSystem : WindowsVersionFacts {
    DescribedSystem(std::uint32_t major, std::uint32_t minor, bool server = false,
                    std::optional<std::uint32_t> build = std::nullopt, std::uint32_t product = 0)
        : version(major, minor), server(server), build(build), product(product) {}
    bool atLeast(std::uint32_t major, std::uint32_t minor) const override { return version >= std::pair(major, minor); }
    bool isServer() const override { return server; }
    std::uint32_t productType() const override {
        return product != 0 ? product : throw qv::sys::SystemErrorCodeException(ERROR_INVALID_PARAMETER);
    }
    std::optional<std::uint32_t> buildNumber() const override { return build; }
    std::pair<std::uint32_t, std::uint32_t> version;
    bool server;
    std::optional<std::uint32_t> build;
    std::uint32_t product;
};

} // namespace

TEST(WindowsVersionCode, EveryVersionWithTheWindows10BuildThresholdsInclusive) {
    const struct {
        DescribedSystem system;
        std::uint32_t code;
    } cases[] = {
        {{10, 1}, 16}, {{10, 0, false, 16300}, 15}, {{10, 0, false, 16299}, 14}, {{10, 0, false, 15064}, 14},
        {{10, 0, false, 15063}, 13}, {{10, 0, false, 14394}, 13}, {{10, 0, false, 14393}, 12},
        {{10, 0, false, 10587}, 12}, {{10, 0, false, 10586}, 11}, {{10, 0}, 11}, {{6, 3}, 10}, {{6, 2, true}, 9},
        {{6, 1}, 6}, {{6, 1, true, std::nullopt, PRODUCT_SOLUTION_EMBEDDEDSERVER}, 8},
        {{6, 1, true, std::nullopt, PRODUCT_DATACENTER_SERVER}, 7}, {{6, 0}, 4}, {{6, 0, true}, 5}, {{5, 1}, 2},
        {{5, 2, true}, 3}, {{5, 0}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(windowsVersionCode(c.system), c.code) << c.system.version.first << "." << c.system.version.second;
    }
    // A 6.1 server whose version record cannot be read: the failure reaches the caller.
    EXPECT_THROW(windowsVersionCode(DescribedSystem(6, 1, true)), qv::sys::SystemErrorCodeException);
}
