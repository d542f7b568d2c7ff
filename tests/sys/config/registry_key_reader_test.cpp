#include "sys/config/registry_key_reader.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

template <typename E>
std::uint32_t codeThrownAs(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.code();
    } catch (const qv::sys::Exception& e) {
        ADD_FAILURE() << "another exception: " << qv::sys::narrowText(e.text());
        return 0;
    }
    ADD_FAILURE() << "nothing thrown";
    return 0;
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

    // Failures leave the caller's value alone.
    dword = 7;
    EXPECT_FALSE(reader.readDword(L"TwoBytes", dword));
    EXPECT_FALSE(reader.readBool(L"TwoBytes", flag));
    EXPECT_FALSE(reader.readDword(L"Long", dword));
    EXPECT_FALSE(reader.readDword(L"Missing", dword));
    EXPECT_FALSE(reader.readString(L"Huge", string));
    EXPECT_EQ(dword, 7u);
    EXPECT_EQ(string, L"abc");
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.dwordValue(L"TwoBytes"); }), 1359u);
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.stringValue(L"Huge"); }), 234u);
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.dwordValue(L"Missing"); }), 2u);

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
    EXPECT_EQ(codeThrownAs<InvalidKeyNameException>([&] { reader.dwordValue(L"Number"); }), 3u);
    reader.setKeyPath(testPath + L"\\NoSuchKey");
    EXPECT_EQ(codeThrownAs<KeyDoesNotExistException>([&] { reader.dwordValue(L"Number"); }), 2u);
    // A copy of a registry exception keeps its class.
    try {
        reader.dwordValue(L"Number");
    } catch (const RegistryException& e) {
        EXPECT_EQ(codeThrownAs<KeyDoesNotExistException>([&] { e.clone()->rethrow(); }), 2u);
    }
}

namespace {

struct FakeVersion : IWindowsVersionProbe {
    FakeVersion(std::uint32_t major, std::uint32_t minor, std::optional<std::uint32_t> build = std::nullopt,
                bool server = false, std::uint32_t type = 0)
        : major(major), minor(minor), build(build), server(server), type(type) {}
    bool atLeast(std::uint32_t wantMajor, std::uint32_t wantMinor) const override {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    }
    bool isServer() const override { return server; }
    std::uint32_t productType() const override { return type; }
    std::optional<std::uint32_t> buildNumber() const override { return build; }
    std::uint32_t major, minor;
    std::optional<std::uint32_t> build;
    bool server;
    std::uint32_t type;
};

} // namespace

TEST(WindowsVersionCode, ClassifiesVersionsServersAndWindows10Builds) {
    const std::pair<FakeVersion, std::uint32_t> cases[] = {
        {{10, 1}, 16},
        {{10, 0, 17134}, 15},
        {{10, 0, 16299}, 14},
        {{10, 0, 15063}, 13},
        {{10, 0, 14393}, 12},
        {{10, 0, 10586}, 11},
        {{10, 0}, 11},
        {{6, 3}, 10},
        {{6, 2, std::nullopt, true}, 9},
        {{6, 1}, 6},
        {{6, 1, std::nullopt, true, 56}, 8},
        {{6, 1, std::nullopt, true, 7}, 7},
        {{6, 0, std::nullopt, true}, 5},
        {{5, 2}, 2},
        {{5, 0}, 1},
    };
    for (const auto& [version, code] : cases) {
        EXPECT_EQ(windowsVersionCode(version), code)
            << version.major << "." << version.minor << " build " << version.build.value_or(0);
    }
    EXPECT_EQ(parseBuildNumber(L"4294967295"), 4294967295u);
    for (const wchar_t* bad : {L"", L"4294967296", L"-1", L" 17134", L"17134a"}) {
        EXPECT_FALSE(parseBuildNumber(bad)) << qv::sys::narrowText(bad);
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
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0); // a hung probe fails, not hangs
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

} // namespace

TEST(WindowsVersionCode, Windows10IsSeenOnlyWithTheManifestAndItsBuildSelectsTheCode) {
    // Wine reports Windows 10 to the probes alone; the build number lives apart in the machine hive.
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
    for (const wchar_t* exe : {L"qv_windows_version_probe.exe", L"qv_windows_version_probe_plain.exe"}) {
        putText(HKEY_CURRENT_USER, appDefaults + exe, L"Version", L"win10");
    }

    putText(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", L"17134");
    EXPECT_EQ(runProbe(L"qv_windows_version_probe.exe"), 15u);
    EXPECT_EQ(runProbe(L"qv_windows_version_probe_plain.exe"), 9u); // capped at 6.2 without the manifest
    putText(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", L"not a number");
    EXPECT_EQ(runProbe(L"qv_windows_version_probe.exe"), 11u);
}
