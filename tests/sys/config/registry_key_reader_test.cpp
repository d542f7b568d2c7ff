#include "sys/config/registry_key_reader.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace qv::sys::win32;
using namespace qv::sys::win32::registry;

namespace {

// Sets one registry value for the life of a test and puts back what was there.
class ScopedValue {
public:
    ScopedValue(HKEY root, std::wstring subKey, std::wstring name, DWORD type, const void* data, DWORD size)
        : root_(root), subKey_(std::move(subKey)), name_(std::move(name)) {
        HKEY key = nullptr;
        EXPECT_EQ(
            RegCreateKeyExW(root_, subKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        DWORD oldSize = 0;
        if (RegQueryValueExW(key, name_.c_str(), nullptr, &oldType_, nullptr, &oldSize) == ERROR_SUCCESS) {
            old_.emplace(oldSize, 0);
            RegQueryValueExW(key, name_.c_str(), nullptr, nullptr, old_->data(), &oldSize);
        }
        EXPECT_EQ(RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    ~ScopedValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            return;
        }
        if (old_) {
            RegSetValueExW(key, name_.c_str(), 0, oldType_, old_->data(), DWORD(old_->size()));
        } else {
            RegDeleteValueW(key, name_.c_str());
        }
        RegCloseKey(key);
    }

private:
    HKEY root_;
    std::wstring subKey_;
    std::wstring name_;
    DWORD oldType_ = 0;
    std::optional<std::vector<BYTE>> old_;
};

ScopedValue text(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
    return ScopedValue(root, subKey, name, REG_SZ, value.c_str(),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
}

// A key of this test process below HKCU, removed with everything in it.
struct TestKey {
    TestKey() : subKey(L"Software\\QuorvaneTest\\Reader" + std::to_wstring(GetCurrentProcessId())) {}
    ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, subKey.c_str()); }
    ScopedValue set(const std::wstring& name, DWORD type, const void* data, DWORD size) const {
        return ScopedValue(HKEY_CURRENT_USER, subKey, name, type, data, size);
    }
    std::wstring path() const { return L"HKCU\\" + subKey; }
    std::wstring subKey;
};

template <typename E>
std::uint32_t codeThrownAs(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& e) {
        return e.code();
    } catch (const qv::sys::Exception& e) {
        ADD_FAILURE() << "another registry exception: " << qv::sys::narrowText(e.text());
        return 0;
    }
    ADD_FAILURE() << "nothing thrown";
    return 0;
}

} // namespace

TEST(RegistryKeyReader, ReadsValuesAndAnswersFalseForMissingOrMalformedOnes) {
    const TestKey key;
    const DWORD number = 0x12345678;
    const DWORD zero = 0;
    const BYTE twoBytes[2] = {1, 2};
    const std::wstring longText(300, L'q'); // far beyond the first 16-byte attempt
    const wchar_t unterminated[3] = {L'a', L'b', L'c'};
    const wchar_t embeddedZero[5] = {L'a', L'b', 0, L'c', 0};
    const std::vector<BYTE> huge(0x180000, 0x41); // beyond the 1 MiB limit
    const auto values = {key.set(L"Number", REG_DWORD, &number, 4),
                         key.set(L"Zero", REG_DWORD, &zero, 4),
                         key.set(L"TwoBytes", REG_BINARY, twoBytes, 2),
                         text(HKEY_CURRENT_USER, key.subKey, L"Long", longText),
                         key.set(L"Unterminated", REG_SZ, unterminated, sizeof(unterminated)),
                         key.set(L"OddBytes", REG_SZ, unterminated, sizeof(unterminated) - 1),
                         key.set(L"EmbeddedZero", REG_SZ, embeddedZero, sizeof(embeddedZero)),
                         key.set(L"Huge", REG_BINARY, huge.data(), DWORD(huge.size()))};
    (void)values;

    RegistryKeyReader reader(key.path());
    std::uint32_t dword = 7;
    EXPECT_TRUE(reader.readDword(L"Number", dword));
    EXPECT_EQ(dword, 0x12345678u);
    bool flag = false;
    EXPECT_TRUE(reader.readBool(L"Number", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(reader.readBool(L"Zero", flag));
    EXPECT_FALSE(flag);

    std::wstring string;
    EXPECT_TRUE(reader.readString(L"Long", string));
    EXPECT_EQ(string, longText);
    EXPECT_TRUE(reader.readString(L"Unterminated", string));
    EXPECT_EQ(string, L"abc");
    EXPECT_TRUE(reader.readString(L"OddBytes", string));
    EXPECT_EQ(string, L"ab");
    EXPECT_TRUE(reader.readString(L"EmbeddedZero", string));
    EXPECT_EQ(string, L"ab");

    // Failures leave the caller's value alone.
    dword = 7;
    string = L"kept";
    EXPECT_FALSE(reader.readDword(L"TwoBytes", dword));
    EXPECT_FALSE(reader.readBool(L"TwoBytes", flag));
    EXPECT_FALSE(reader.readDword(L"Long", dword));
    EXPECT_FALSE(reader.readDword(L"Missing", dword));
    EXPECT_FALSE(reader.readString(L"Huge", string));
    EXPECT_EQ(dword, 7u);
    EXPECT_EQ(string, L"kept");
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.dwordValue(L"TwoBytes"); }), 1359u);
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.stringValue(L"Huge"); }), 234u);
    EXPECT_EQ(codeThrownAs<CannotReadValueException>([&] { reader.dwordValue(L"Missing"); }), 2u);

    // The key path can change between reads.
    reader.setKeyPath(key.path() + L"\\Missing");
    EXPECT_FALSE(reader.readDword(L"Number", dword));
    reader.setKeyPath(key.path());
    EXPECT_TRUE(reader.readDword(L"Number", dword));
}

TEST(RegistryKeyReader, OpensKeysByCaseSensitiveRootNames) {
    const TestKey key;
    const DWORD number = 1;
    const ScopedValue value = key.set(L"Number", REG_DWORD, &number, 4);
    RegistryKeyReader reader(L"HKLM");
    for (const wchar_t* path : {L"HKLM", L"HKEY_LOCAL_MACHINE\\SOFTWARE", L"HKCR", L"HKEY_CLASSES_ROOT",
                                L"HKCU", L"HKEY_CURRENT_USER\\Software", L"HKU", L"HKEY_USERS"}) {
        EXPECT_TRUE(reader.keyExists(path)) << qv::sys::narrowText(path);
    }
    EXPECT_TRUE(reader.keyExists(key.path()));
    EXPECT_TRUE(reader.keyExists(L"HKEY_CURRENT_USER\\" + key.subKey));
    for (const wchar_t* path :
         {L"hklm", L"Hkcu\\Software", L"", L"\\HKLM", L"HKLM \\SOFTWARE", L"HKCU\\NoSuchKey"}) {
        EXPECT_FALSE(reader.keyExists(path)) << qv::sys::narrowText(path);
    }

    std::uint32_t dword = 0;
    reader.setKeyPath(L"hkcu\\" + key.subKey);
    EXPECT_FALSE(reader.readDword(L"Number", dword));
    EXPECT_EQ(codeThrownAs<InvalidKeyNameException>([&] { reader.dwordValue(L"Number"); }), 3u);
    reader.setKeyPath(key.path() + L"\\NoSuchKey");
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
    const struct {
        FakeVersion version;
        std::uint32_t code;
    } cases[] = {
        {{11, 0}, 16},
        {{10, 1}, 16},
        {{10, 0, 17134}, 15},
        {{10, 0, 16300}, 15},
        {{10, 0, 16299}, 14},
        {{10, 0, 15064}, 14},
        {{10, 0, 15063}, 13},
        {{10, 0, 14394}, 13},
        {{10, 0, 14393}, 12},
        {{10, 0, 10587}, 12},
        {{10, 0, 10586}, 11},
        {{10, 0, 10240}, 11},
        {{10, 0}, 11}, // build unknown
        {{6, 3}, 10},
        {{6, 2, std::nullopt, true}, 9},
        {{6, 1}, 6},
        {{6, 1, std::nullopt, true, 56}, 8},
        {{6, 1, std::nullopt, true, 7}, 7},
        {{6, 0}, 4},
        {{6, 0, std::nullopt, true}, 5},
        {{5, 2}, 2},
        {{5, 1, std::nullopt, true}, 3},
        {{5, 0}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(windowsVersionCode(c.version), c.code)
            << c.version.major << "." << c.version.minor << " build " << c.version.build.value_or(0);
    }

    EXPECT_EQ(parseBuildNumber(L"17134"), 17134u);
    EXPECT_EQ(parseBuildNumber(L"4294967295"), 4294967295u);
    for (const wchar_t* bad :
         {L"", L"4294967296", L"99999999999999999999", L"-1", L" 17134", L"17134a", L"1.0"}) {
        EXPECT_FALSE(parseBuildNumber(bad)) << qv::sys::narrowText(bad);
    }
}

namespace {

// The exit status of a probe program next to this test: its windowsVersionCode().
DWORD runProbe(const std::wstring& exeName) {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path = path.substr(0, path.find_last_of(L'\\') + 1) + exeName;
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
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
    // Wine reports Windows 10 to one program when asked per executable; the
    // build number lives apart from that in the machine hive.
    const std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\";
    const auto win10 = {
        text(HKEY_CURRENT_USER, appDefaults + L"qv_windows_version_probe.exe", L"Version", L"win10"),
        text(HKEY_CURRENT_USER, appDefaults + L"qv_windows_version_probe_plain.exe", L"Version", L"win10")};
    (void)win10;
    const std::wstring currentVersion = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    {
        const ScopedValue build = text(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", L"17134");
        EXPECT_EQ(runProbe(L"qv_windows_version_probe.exe"), 15u);
        EXPECT_EQ(runProbe(L"qv_windows_version_probe_plain.exe"), 9u); // capped at 6.2 without the manifest
    }
    {
        const ScopedValue build = text(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", L"10586");
        EXPECT_EQ(runProbe(L"qv_windows_version_probe.exe"), 11u);
    }
    {
        const ScopedValue build = text(HKEY_LOCAL_MACHINE, currentVersion, L"CurrentBuildNumber", L"abc");
        EXPECT_EQ(runProbe(L"qv_windows_version_probe.exe"), 11u);
    }
}
