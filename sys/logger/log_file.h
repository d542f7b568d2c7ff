#pragma once

// The file under a log file output: opened for appending, shared with readers
// and with whoever moves it aside, written one whole line per call. A log file
// is never reached through a link: a privileged writer would otherwise create
// or extend whatever file the link's owner points it at.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <boost/noncopyable.hpp>

namespace qv::sys::Logger {

// The text of a system error code (a Win32 error on Windows, errno elsewhere).
std::string systemErrorDescription(std::uint32_t code);

class LogFile : private boost::noncopyable {
public:
    // Opens `path` for appending, creating it when missing; afterwards
    // isOpen() and error() tell how that went. A path whose last component is
    // a link or reparse point, or a file with other hard links, is refused.
    explicit LogFile(const std::string& path);
    virtual ~LogFile();

    bool isOpen() const;
    // The error of the failed open or of the last failed write; 0 when none.
    std::uint32_t error() const { return error_; }

    // Appends `data` in one system call, so that nothing written by another
    // thread or process can land inside it. False (and error()) on failure.
    virtual bool write(const std::string& data);
    // The file's size now; nothing when it cannot be told.
    std::optional<std::uint64_t> size() const;
    // Whether `path` still names this file: another writer of the same log
    // (a second agent) may have moved it aside meanwhile. Yes when it cannot
    // be told.
    bool isAt(const std::string& path) const;

protected:
    void setError(std::uint32_t code) { error_ = code; }

private:
#ifdef _WIN32
    void* handle_;
#else
    int descriptor_;
#endif
    std::uint32_t error_ = 0;
};

// How a FileOutput opens its files; tests give one that fails on demand.
using LogFileOpener = std::function<std::unique_ptr<LogFile>(const std::string& path)>;
std::unique_ptr<LogFile> openLogFile(const std::string& path);

// Whether the file at `path` is not empty and its last byte is not a line
// break: a write that failed part way left half a line there.
bool endsInsideALine(const std::string& path);

// Moves `from` to `to` in one step, replacing `to`, without following links.
// 0 when it moved or `from` does not exist; otherwise the system error.
std::uint32_t moveReplacing(const std::string& from, const std::string& to);

// Deletes a file (a link itself, not its target); failures are ignored.
void removeFile(const std::string& path);

} // namespace qv::sys::Logger
