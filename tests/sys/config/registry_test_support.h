#pragma once

// Keys below Software\Quorvane in the test prefix's real hives, unique to
// the running test and deleted with everything below them when it ends.

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "sys/config/persist_tree.h"
#include "sys/win32/impersonation.h"

namespace qv::sys::test {

class RegistryTestKeys : public ::testing::Test {
protected:
    RegistryTestKeys() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string("QvTest_") + info->name() + "_" + std::to_string(GetCurrentProcessId());
    }
    ~RegistryTestKeys() override {
        const std::string base = "Software\\Quorvane\\";
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (base + name_).c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (base + "Network Persist Settings\\" + name_).c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, (base + name_).c_str());
    }

    // The tree's own name below Software\Quorvane.
    const std::string& name() const { return name_; }

    // Sets a value of Software\Quorvane\<name>[\sub] (creating keys) with exactly these data bytes.
    void setRaw(HKEY hive, const std::string& value, DWORD type, const std::string& bytes,
                const std::string& sub = std::string()) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(hive, path(sub).c_str(), value.c_str(), type, bytes.data(),
                                                 static_cast<DWORD>(bytes.size())));
    }
    void setString(HKEY hive, const std::string& value, const std::string& text,
                   const std::string& sub = std::string()) {
        setRaw(hive, value, REG_SZ, std::string(text.c_str(), text.size() + 1), sub);
    }
    void setDword(HKEY hive, const std::string& value, DWORD number) {
        setRaw(hive, value, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number));
    }
    // RegSetValueEx would add a missing terminating zero to a string: this stores the bytes as they are.
    void setNative(HKEY hive, std::wstring value, DWORD type, const std::string& bytes) {
        struct CountedName {
            USHORT length;
            USHORT maximumLength;
            PWSTR buffer;
        } counted{static_cast<USHORT>(value.size() * 2), static_cast<USHORT>(value.size() * 2), value.data()};
        using SetValueKey = LONG(WINAPI*)(HANDLE, CountedName*, ULONG, ULONG, const void*, ULONG);
        const auto setValueKey = reinterpret_cast<SetValueKey>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(hive, path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        EXPECT_EQ(0, setValueKey(key, &counted, 0, type, bytes.data(), static_cast<ULONG>(bytes.size())));
        RegCloseKey(key);
    }

private:
    std::string path(const std::string& sub = std::string()) const {
        return "Software\\Quorvane\\" + name_ + (sub.empty() ? "" : "\\" + sub);
    }

    std::string name_;
};

// The real user hive, read as if it belonged to an account other than the process's.
struct AnotherAccountsHive : PersistUserHive {
    struct Other : win32::UserImpersonator {
        bool actsAsAnotherAccount() const override { return true; }
    };
    std::unique_ptr<win32::UserImpersonator> impersonate() override { return std::make_unique<Other>(); }
    long open(std::uint32_t access, void*& key) override { return real->open(access, key); }
    std::shared_ptr<PersistUserHive> real = loggedOnUserHive();
};

// A REG_SZ value below HK??\Software\Quorvane\<section>, deleted at the end.
struct ScopedSetting {
    ScopedSetting(HKEY hive, const std::string& section, const char* name, const std::string& value)
        : hive(hive), key("Software\\Quorvane\\" + section), name(name) {
        EXPECT_EQ(0,
                  RegSetKeyValueA(hive, key.c_str(), name, REG_SZ, value.c_str(), DWORD(value.size() + 1)));
    }
    ~ScopedSetting() { RegDeleteKeyValueA(hive, key.c_str(), name); }
    const HKEY hive;
    const std::string key;
    const char* const name;
};

} // namespace qv::sys::test
