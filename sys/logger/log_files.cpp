#include "sys/logger/log_files.h"

#include <algorithm>
#include <cstdio>

#include "sys/logger/log_file.h"

#ifdef _WIN32
#include "sys/win32/unique_handle.h"
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace qv::sys::Logger {

namespace {
std::size_t fileNameStart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? 0 : separator + 1;
}

bool sameCharacter(char a, char b) {
#ifdef _WIN32
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
#else
    return a == b;
#endif
}

// "YYYYmmdd-HHMMSS" with a digit for each d.
constexpr char kStamp[] = "dddddddd-dddddd";
constexpr std::size_t kStampLength = sizeof kStamp - 1;

bool sameText(const char* a, const char* b, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (!sameCharacter(a[i], b[i])) {
            return false;
        }
    }
    return true;
}
} // namespace

SplitPath splitExtension(const std::string& path) {
    // A dot in a directory name ("C:\logs.d\app") is no extension.
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < fileNameStart(path)) {
        return {path, std::string()};
    }
    return {path.substr(0, dot), path.substr(dot)};
}

std::string oldLogName(const std::string& path) {
    const SplitPath split = splitExtension(path);
    return split.stem + ".old" + split.extension;
}

std::string decoratedLogName(const std::string& path, std::time_t when) {
    char stamp[101] = "";
#ifdef _WIN32
    const std::tm* local = std::localtime(&when); // per thread in the Windows runtime
#else
    std::tm buffer{};
    const std::tm* local = localtime_r(&when, &buffer);
#endif
    if (local != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
    }
    const SplitPath split = splitExtension(path);
    return split.stem + stamp + split.extension;
}

bool isDecoratedName(const std::string& name, const std::string& stem, const std::string& extension) {
    // Only the time stamp may stand between stem and extension: the logs of
    // "app-server" or "apple" are not those of "app".
    if (name.size() != stem.size() + kStampLength + extension.size() ||
        !sameText(name.data(), stem.data(), stem.size()) ||
        !sameText(name.data() + stem.size() + kStampLength, extension.data(), extension.size())) {
        return false;
    }
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const char c = name[stem.size() + i];
        if (kStamp[i] == 'd' ? (c < '0' || c > '9') : c != kStamp[i]) {
            return false;
        }
    }
    return true;
}

void pruneDecoratedLogs(const std::string& path, const std::string& current, std::size_t keep) {
    if (path.empty() || keep == 0) {
        return;
    }
    const std::size_t nameStart = fileNameStart(path);
    const std::string directory = path.substr(0, nameStart);
    const SplitPath split = splitExtension(path.substr(nameStart));
    const std::string currentName = current.substr(fileNameStart(current));
    std::vector<FileEntry> files;
    for (FileEntry& file : listFiles(directory)) {
        if (isDecoratedName(file.name, split.stem, split.extension) && !sameLogPath(file.name, currentName)) {
            files.push_back(std::move(file));
        }
    }
    if (files.size() <= keep) {
        return;
    }
    // Newest first; files of one moment by their time stamps, which only
    // differ in digits, so letter case cannot order them.
    const std::size_t stampAt = split.stem.size();
    std::sort(files.begin(), files.end(), [stampAt](const FileEntry& a, const FileEntry& b) {
        if (a.modified != b.modified) {
            return a.modified > b.modified;
        }
        return a.name.compare(stampAt, kStampLength, b.name, stampAt, kStampLength) > 0;
    });
    for (std::size_t i = keep; i < files.size(); ++i) {
        removeFile(directory + files[i].name);
    }
}

bool sameLogPath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
#ifdef _WIN32
        const bool separators = (a[i] == '\\' || a[i] == '/') && (b[i] == '\\' || b[i] == '/');
#else
        const bool separators = false;
#endif
        if (!separators && !sameCharacter(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

#ifdef _WIN32
namespace {
struct FindCloser {
    void operator()(HANDLE handle) const noexcept { FindClose(handle); }
};
using UniqueFindHandle = win32::UniqueWin32<HANDLE, FindCloser>;
} // namespace

std::vector<FileEntry> listFiles(const std::string& directory) {
    std::string search = directory.empty() ? std::string(".") : directory;
    if (search.back() != '\\' && search.back() != '/') {
        search += '\\';
    }
    search += '*';
    std::vector<FileEntry> names;
    WIN32_FIND_DATAA entry;
    const UniqueFindHandle find(FindFirstFileA(search.c_str(), &entry));
    if (!find) {
        return names;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            ULARGE_INTEGER modified;
            modified.LowPart = entry.ftLastWriteTime.dwLowDateTime;
            modified.HighPart = entry.ftLastWriteTime.dwHighDateTime;
            names.push_back({entry.cFileName, static_cast<std::int64_t>(modified.QuadPart)});
        }
    } while (FindNextFileA(find.get(), &entry));
    return names;
}
#else
std::vector<FileEntry> listFiles(const std::string& directory) {
    const std::string path = directory.empty() ? std::string(".") : directory;
    std::vector<FileEntry> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        struct stat info;
        const std::string full = path + "/" + entry->d_name;
        if (stat(full.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
            names.push_back({entry->d_name, static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                                                info.st_mtim.tv_nsec});
        }
    }
    closedir(dir);
    return names;
}
#endif

} // namespace qv::sys::Logger
