#pragma once

// Shared by the errors tests: captured log lines, a reader of a minidump's
// exception stream, and the helper child that takes the paths ending a
// process. Scratch folders and registry settings that are removed again come
// from the logger and config test helpers.

#include <windows.h>

#include <dbghelp.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/config/registry_test_support.h"
#include "sys/logger/log_test_files.h"
#include "sys/logger/logger.h"
#include "sys/logger/plain_line.h"

namespace qv::sys::test {

inline std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

inline std::mutex logLock;
inline std::string log;

struct CapturingSink : Logger::LineSink {
    void write(const std::string& enciphered) override {
        const std::string line = plainLine(enciphered);
        const std::lock_guard<std::mutex> guard(logLock);
        log += line + "\n";
    }
};

// The logger starts as in the program. The error handlers are not installed:
// a dump takes Wine seconds, and the paths that write one run in the child.
inline const bool started =
    (Logger::initialise("ErrorsTest", Logger::kInfo, 0, false, std::make_unique<CapturingSink>()), true);

// The lines logged since the last call.
inline std::string takeLog() {
    const std::lock_guard<std::mutex> guard(logLock);
    return std::exchange(log, std::string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline std::string moduleDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path().string() + "\\";
}

using Logger::testing::ScratchFolder;

// Dumps and default log files go first to %SystemRoot%\TEMP\Quorvane once it
// exists. A run killed inside the test that makes it leaves it behind, and
// others then log into it: each errors test process removes it when empty, or
// sets it aside for its run, so that dumps go where the tests look.
inline const struct WindowsTempFolderAside {
    const std::string folder = std::string(std::getenv("SystemRoot")) + "\\TEMP\\Quorvane";
    const std::string aside = folder + ".aside" + std::to_string(GetCurrentProcessId());
    const bool setAside = !RemoveDirectoryA(folder.c_str()) && MoveFileA(folder.c_str(), aside.c_str());
    ~WindowsTempFolderAside() {
        if (setAside) {
            MoveFileA(aside.c_str(), folder.c_str());
        }
    }
} windowsTempFolderAside;

// A minidump's exception stream (type 6) and the context it points to.
struct DumpException {
    MINIDUMP_EXCEPTION_STREAM stream;
    CONTEXT context; // zero when it runs past the file
};

// Nothing unless the file is a minidump with an exception stream.
inline std::optional<DumpException> readDump(const std::string& path) {
    const std::string bytes = readFile(path);
    auto read = [&bytes](auto& to, std::uint64_t rva) { // only what the file holds whole
        return rva + sizeof to <= bytes.size() && (std::memcpy(&to, &bytes[rva], sizeof to), true);
    };
    MINIDUMP_HEADER header;
    MINIDUMP_DIRECTORY entry;
    DumpException dump{};
    for (std::uint32_t i = 0;
         bytes.compare(0, 4, "MDMP") == 0 && read(header, 0) && i < header.NumberOfStreams &&
         read(entry, header.StreamDirectoryRva + std::uint64_t(i) * sizeof entry);
         ++i) {
        if (entry.StreamType == ExceptionStream && read(dump.stream, entry.Location.Rva)) {
            read(dump.context, dump.stream.ThreadContext.Rva);
            return dump;
        }
    }
    return std::nullopt;
}

inline std::uint32_t codeOf(const std::optional<DumpException>& dump) {
    return dump ? dump->stream.ExceptionRecord.ExceptionCode : 0;
}

struct ChildRun {
    DWORD status;
    std::string output;                                    // its log lines included
    std::optional<DumpException> dump;                     // of qv_errors_child.dmp
    std::vector<std::optional<DumpException>> uniqueDumps; // of the time-stamped names, in name order
};

// Runs qv_errors_child.exe `scenario`, its dumps going to a scratch directory.
inline ChildRun runChild(const std::string& scenario) {
    ScratchFolder scratch;
    const ScopedSetting location(HKEY_CURRENT_USER, "Core", "DebugLocation", scratch.directory());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = CreateFileA((scratch / "out").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_NEW, 0, nullptr);
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
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 120000)) << scenario << " hung";
    TerminateProcess(child.hProcess, 99);
    DWORD status = 99;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ChildRun run{status, readFile(scratch / "out"), readDump(scratch / "qv_errors_child.dmp"), {}};
    for (const std::string& name : scratch.names()) {
        if (name != "qv_errors_child.dmp" && name.find(".dmp") != std::string::npos) {
            run.uniqueDumps.push_back(readDump(scratch / name));
        }
    }
    return run;
}

} // namespace qv::sys::test
