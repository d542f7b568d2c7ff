#include "sys/logger/log_file.h"

#ifdef _WIN32
#include <windows.h>

#include "sys/errors/exception.h"
#include "sys/win32/unique_handle.h"
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>

namespace qv::sys::Logger {

#ifdef _WIN32
std::string systemErrorDescription(std::uint32_t code) {
    return narrowText(systemErrorText(code));
}

LogFile::LogFile(const std::string& path) {
    // Shared for deleting too: a reader that follows the log must not stop
    // the writer (or another agent) from moving it aside.
    handle_ =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle_, &information)) {
        error_ = GetLastError();
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               information.nNumberOfLinks > 1) {
        error_ = ERROR_CANT_ACCESS_FILE;
    }
    if (error_ != 0) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

LogFile::~LogFile() {
    if (isOpen()) {
        CloseHandle(handle_);
    }
}

bool LogFile::isOpen() const {
    return handle_ != INVALID_HANDLE_VALUE;
}

bool LogFile::write(const std::string& data) {
    DWORD written = 0;
    if (!isOpen()) {
        return false;
    }
    if (!WriteFile(handle_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        error_ = GetLastError();
        return false;
    }
    if (written != data.size()) {
        error_ = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

std::optional<std::uint64_t> LogFile::size() const {
    LARGE_INTEGER size;
    if (!isOpen() || !GetFileSizeEx(handle_, &size)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool LogFile::isAt(const std::string& path) const {
    const win32::UniqueHandle other(CreateFileA(path.c_str(), 0,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!other) {
        return GetLastError() != ERROR_FILE_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION mine;
    BY_HANDLE_FILE_INFORMATION theirs;
    const bool known = isOpen() && GetFileInformationByHandle(handle_, &mine) &&
                       GetFileInformationByHandle(other.get(), &theirs);
    return !known ||
           (mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
            mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow);
}

std::uint32_t moveReplacing(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

void removeFile(const std::string& path) {
    DeleteFileA(path.c_str());
}
#else
std::string systemErrorDescription(std::uint32_t code) {
    return "error " + std::to_string(code) + ": " + std::strerror(static_cast<int>(code));
}

LogFile::LogFile(const std::string& path) {
    descriptor_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (descriptor_ < 0) {
        error_ = static_cast<std::uint32_t>(errno);
        return;
    }
    struct stat information;
    if (fstat(descriptor_, &information) != 0) {
        error_ = static_cast<std::uint32_t>(errno);
    } else if (information.st_nlink > 1) {
        error_ = EMLINK;
    }
    if (error_ != 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

LogFile::~LogFile() {
    if (isOpen()) {
        ::close(descriptor_);
    }
}

bool LogFile::isOpen() const {
    return descriptor_ >= 0;
}

bool LogFile::write(const std::string& data) {
    if (!isOpen()) {
        return false;
    }
    const ssize_t written = ::write(descriptor_, data.data(), data.size());
    if (written < 0) {
        error_ = static_cast<std::uint32_t>(errno);
        return false;
    }
    if (static_cast<std::size_t>(written) != data.size()) {
        error_ = ENOSPC;
        return false;
    }
    return true;
}

std::optional<std::uint64_t> LogFile::size() const {
    struct stat information;
    if (!isOpen() || fstat(descriptor_, &information) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(information.st_size);
}

bool LogFile::isAt(const std::string& path) const {
    struct stat mine;
    struct stat theirs;
    if (lstat(path.c_str(), &theirs) != 0) {
        return errno != ENOENT;
    }
    return !isOpen() || fstat(descriptor_, &mine) != 0 ||
           (mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino);
}

std::uint32_t moveReplacing(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0 || errno == ENOENT) {
        return 0;
    }
    return static_cast<std::uint32_t>(errno);
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}
#endif

std::unique_ptr<LogFile> openLogFile(const std::string& path) {
    return std::make_unique<LogFile>(path);
}

bool endsInsideALine(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open() || file.tellg() <= 0) {
        return false;
    }
    file.seekg(-1, std::ios::end);
    return file.get() != '\n';
}

} // namespace qv::sys::Logger
