#pragma once

// Keys below Software\Quorvane in the test prefix's real hives, unique to
// the running test and deleted with everything below them when it ends.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"

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

    // Creates Software\Quorvane\<name>[\sub] in `hive` and opens it for writing.
    HKEY createKey(HKEY hive, const std::string& sub = std::string()) {
        std::string path = "Software\\Quorvane\\" + name_;
        if (!sub.empty()) {
            path += "\\" + sub;
        }
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        keys_.push_back(key);
        return key;
    }

    // Sets a value with exactly these data bytes.
    static void setRaw(HKEY key, const std::string& name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())));
    }
    // Stores data bytes exactly: RegSetValueEx adds a missing terminating zero to strings.
    static void setNative(HKEY key, const std::wstring& name, DWORD type, const std::string& bytes) {
        struct CountedName {
            USHORT length;
            USHORT maximumLength;
            PWSTR buffer;
        };
        using SetValueKey = LONG(WINAPI*)(HANDLE, CountedName*, ULONG, ULONG, const void*, ULONG);
        static const auto setValueKey = reinterpret_cast<SetValueKey>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
        ASSERT_NE(nullptr, setValueKey);
        std::wstring copy = name;
        CountedName counted{static_cast<USHORT>(copy.size() * 2), static_cast<USHORT>(copy.size() * 2),
                            copy.data()};
        ASSERT_EQ(0, setValueKey(key, &counted, 0, type, bytes.data(), static_cast<ULONG>(bytes.size())));
    }
    static void setString(HKEY key, const std::string& name, const std::string& text) {
        setRaw(key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }
    static void setDword(HKEY key, const std::string& name, DWORD value) {
        setRaw(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }

    void TearDown() override {
        for (HKEY key : keys_) {
            RegCloseKey(key);
        }
        keys_.clear();
    }

private:
    std::string name_;
    std::vector<HKEY> keys_;
};

// The records of one logging module, attached once for the process (a module
// keeps its outputs as long as the logger lives).
class LogCapture : public Logger::Output {
public:
    explicit LogCapture(const std::string& module) {
        Logger::core().addOutput(module, *this, Logger::kVerbose);
    }

    void output(std::uint32_t, Logger::Level level, const char*, std::int32_t, const std::string&,
                const std::string&, std::uint32_t, const std::string&, const std::string& text) override {
        records.emplace_back(level, text);
    }
    std::vector<std::pair<Logger::Level, std::string>> take() { return std::exchange(records, {}); }

    std::vector<std::pair<Logger::Level, std::string>> records;
};

} // namespace qv::sys::test
