#pragma once

// Shared by the errors tests: the logger started as the program starts it,
// the helper child that takes the paths ending a process, registry settings
// removed again, scratch directories for dumps, and a minidump reader.

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/logger.h"

namespace qv::sys::test {

inline std::mutex linesLock;
inline std::string lines; // captured log lines without their time

struct CapturingSink : Logger::LineSink {
    void write(const std::string& line) override {
        const std::lock_guard<std::mutex> guard(linesLock);
        lines += line.substr(line.find('\t') + 1) + "\n";
    }
};

// The handlers are not installed here: dumps are slow under Wine, and the
// paths that write them run in the child.
inline const bool started = [] {
    Logger::initialise("ErrorsTest", Logger::kInfo, 0, false, std::make_unique<CapturingSink>());
    return true;
}();

// The captured lines holding `text`, taken out of the capture.
inline std::vector<std::string> takeLines(const std::string& text) {
    const std::lock_guard<std::mutex> guard(linesLock);
    std::vector<std::string> taken;
    std::string kept;
    std::istringstream stream(lines);
    for (std::string line; std::getline(stream, line);) {
        line.find(text) != std::string::npos ? taken.push_back(line) : void(kept += line + "\n");
    }
    lines = kept;
    return taken;
}

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string moduleDirectory() {
    char path[MAX_PATH] = {};
    const std::string module(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return module.substr(0, module.rfind('\\') + 1);
}

// A fresh directory (path ends in a backslash), deleted with its files.
struct ScratchDirectory {
    ScratchDirectory() {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(sizeof temp, temp);
        // Process ids come round again under Wine: skip names taken by an earlier run.
        for (int n = 0;; ++n) {
            path = temp +
                   ("qv_errors_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(n) + "\\");
            if (CreateDirectoryA(path.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) {
                break;
            }
        }
    }
    ~ScratchDirectory() {
        for (const std::string& file : files()) {
            DeleteFileA((path + file).c_str());
        }
        RemoveDirectoryA(path.c_str());
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((path + "*.*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(found.cFileName);
            }
        }
        FindClose(search);
        return names;
    }
    std::string path;
};

// A REG_SZ value below HK??\Software\Quorvane\<section>, deleted at the end.
struct ScopedSetting {
    ScopedSetting(HKEY hive, const std::string& section, const char* name, const std::string& value)
        : hive(hive), path("Software\\Quorvane\\" + section), name(name) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueA(hive, path.c_str(), name, REG_SZ, value.c_str(),
                                                 static_cast<DWORD>(value.size() + 1)));
    }
    ~ScopedSetting() { RegDeleteKeyValueA(hive, path.c_str(), name.c_str()); }
    HKEY hive;
    std::string path, name;
};

// A minidump's exception stream (type 6): its thread id and exception code;
// nothing unless the file is a minidump with one.
inline std::optional<std::pair<std::uint32_t, std::uint32_t>> readDump(const std::string& path) {
    const std::string bytes = readFile(path);
    auto u32 = [&bytes](std::size_t at) {
        std::uint32_t value = 0;
        return at + 4 <= bytes.size() ? (std::memcpy(&value, &bytes[at], 4), value) : 0;
    };
    for (std::uint32_t i = 0, directory = u32(12); bytes.compare(0, 4, "MDMP") == 0 && i < u32(8); ++i) {
        const std::uint32_t stream = u32(directory + 12 * i + 8);
        if (u32(directory + 12 * i) == 6 && stream + 12 <= bytes.size()) {
            return std::make_pair(u32(stream), u32(stream + 8));
        }
    }
    return std::nullopt;
}

struct ChildRun {
    DWORD status;
    std::string output; // its log lines included
    std::optional<std::pair<std::uint32_t, std::uint32_t>> dump;
    std::size_t count(const std::string& text) const {
        std::size_t n = 0;
        for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
};

// Runs qv_errors_child.exe `scenario` with its dumps going to a scratch directory.
inline ChildRun runChild(const std::string& scenario) {
    ScratchDirectory scratch;
    const ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", scratch.path);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = CreateFileA((scratch.path + "out").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    std::string commandLine = "\"" + moduleDirectory() + "qv_errors_child.exe\" " + scenario;
    PROCESS_INFORMATION child{};
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &child));
    CloseHandle(output);
    // A guard against a hung child, not a timing check.
    if (WaitForSingleObject(child.hProcess, 90000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << scenario << " hung";
        TerminateProcess(child.hProcess, 99);
    }
    DWORD status = 99;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return {status, readFile(scratch.path + "out"), readDump(scratch.path + "qv_errors_child.dmp")};
}

} // namespace qv::sys::test
