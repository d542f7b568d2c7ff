// Minidump files and where they go. Everything here runs on failure paths:
// a step that fails costs a level-2 record (or the dump), never a throw.

#include <atomic>
#include <cstdio>
#include <iterator>

#include <windows.h>

#include <dbghelp.h>

#include "sys/config/program_options.h"
#include "sys/errors/dump_file.h"
#include "sys/errors/quiet_log.h"
#include "sys/errors/structured_exception.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys {

namespace {

std::string modulePath() {
    char path[261] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0) {
        throw SystemError(1, SystemErrorCode(GetLastError()));
    }
    if (length >= sizeof path) {
        throw SystemError(1, SystemErrorCode(ERROR_FILENAME_EXCED_RANGE));
    }
    return std::string(path, length);
}

std::string temporaryDirectory() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof path, path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

std::string windowsTempDirectory() {
    wchar_t path[MAX_PATH + 1] = {};
    const UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return std::string();
    }
    return narrowText(std::wstring(path, length)) + "\\TEMP\\Quorvane\\";
}

std::string executableDirectory() {
    try {
        const std::string path = modulePath();
        return path.substr(0, path.find_last_of("\\/") + 1);
    } catch (const Exception&) {
        return std::string();
    }
}

// Dump file names are appended to the location as they are, so a setting
// written without its final backslash still names the directory.
std::string settingDirectory() {
    std::string directory = option::debugLocationSetting();
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') {
        directory += '\\';
    }
    return directory;
}

// Log readers know the dump records by these line numbers, which stay fixed
// as the source moves.
constexpr int kDumpWrittenLine = 209;
constexpr int kDumpFailedLine = 211;
constexpr int kNoDumpFileLine = 214;

// Set once this process has taken the fixed dump name.
std::atomic<bool> g_fixedNameTaken{false};

// The fixed name keeps the first dump of this process, the one closest to
// the fault: a later dump (the fatal path after a fault's own dump, a second
// faulting thread, a crash after an assertion's dump) goes to a unique name
// beside it rather than replacing it. What an earlier process left under the
// fixed name is replaced as before.
bool useUniqueDumpName() {
    return option::uniqueDumpFilesSetting() || g_fixedNameTaken.exchange(true);
}

} // namespace

std::string executableBaseName() {
    std::string name = modulePath();
    name.erase(0, name.find_last_of("\\/") + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.resize(dot);
    }
    return name;
}

std::string debugLocation(bool preferTemp) {
    return debugLocation(preferTemp, &win32::fileOwner);
}

std::string debugLocation(bool preferTemp, const FolderOwnerLookup& ownerOf) {
    // Each candidate is looked up only when the ones before it are unusable.
    using Candidate = std::string (*)();
    const Candidate candidates[] = {&temporaryDirectory, &windowsTempDirectory, &settingDirectory,
                                    &executableDirectory, &temporaryDirectory};
    for (std::size_t i = preferTemp ? 0 : 1; i < std::size(candidates); ++i) {
        std::string candidate = candidates[i]();
        if (usableDumpFolder(candidate, ownerOf)) {
            return candidate;
        }
    }
    return std::string();
}

std::string crashDumpPath(const std::string& base, bool uniqueNames, const DumpTime& now) {
    if (!uniqueNames) {
        return base + ".dmp";
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%u%02u%02u-%02u%02u%02u_%03u", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, now.milliseconds);
    std::string path = base + stamp + ".dmp";
    for (int n = 1; n <= 10; ++n) {
        // Creating the file claims the name: a dump of another thread in the
        // same millisecond finds it taken and moves on. A link put under the
        // name counts as taken too, rather than creating the file it leads to.
        const win32::UniqueHandle claimed(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                      CREATE_NEW,
                                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                                      nullptr));
        if (claimed || GetLastError() != ERROR_FILE_EXISTS) {
            return path;
        }
        path = base + stamp + "-" + std::to_string(n) + ".dmp";
    }
    return path;
}

void writeCrashDump(const Logger::Logged* logged, _EXCEPTION_POINTERS* exceptionPointers) {
    try {
        std::string base = debugLocation(false);
        try {
            base += executableBaseName();
        } catch (const Exception& e) {
            // A dump under a made-up name is still worth more than none.
            QV_LOG_QUIETLY(logged, Logger::kError,
                           "No executable name for the dump: " << narrowText(e.text()));
            base += "crash";
        }
        SYSTEMTIME now;
        GetLocalTime(&now);
        const DumpTime time{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                            now.wMinute, now.wSecond, now.wMilliseconds};
        writeMiniDump(logged, crashDumpPath(base, useUniqueDumpName(), time), exceptionPointers);
    } catch (...) {
        QV_LOG_QUIETLY(logged, Logger::kError, "Crash dump failed");
    }
}

void writeMiniDump(const Logger::Logged* logged, const std::string& path,
                   _EXCEPTION_POINTERS* exceptionPointers) {
    const DumpFile dump = createDumpFile(path);
    const win32::UniqueHandle& file = dump.file;
    if (!file) {
        QV_LOG_QUIETLY_AT(logged, Logger::kError, kNoDumpFileLine,
                          "Cannot create the dump file \"" << path << "\": " << SystemErrorCode(dump.error));
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION information{GetCurrentThreadId(), exceptionPointers, TRUE};
    if (MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                          exceptionPointers != nullptr ? &information : nullptr, nullptr, nullptr)) {
        QV_LOG_QUIETLY_AT(logged, Logger::kError, kDumpWrittenLine,
                          "Crash dump written to \"" << path << "\"");
    } else {
        const DWORD error = GetLastError();
        QV_LOG_QUIETLY_AT(logged, Logger::kError, kDumpFailedLine,
                          "Writing the crash dump failed: " << SystemErrorCode(error));
    }
}

} // namespace qv::sys
