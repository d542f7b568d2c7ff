#pragma once

// The log reader's work: enciphered log lines in, plain lines out. Lines that
// do not decipher are reported with their number and skipped.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "sys/logger/log_cipher.h"

namespace qv::tools {

class LogReader {
public:
    // Longer lines are reported and skipped without being kept.
    static constexpr std::size_t kMaxLineLength = 16 * 1024 * 1024;

    LogReader(std::ostream& out, std::ostream& errors);

    // Takes input as it comes: whole lines are deciphered at once, the
    // unfinished end is kept for the next call.
    void feed(const char* data, std::size_t size);
    // The input ended: an unfinished last line is deciphered too.
    void finish();
    // The input starts anew (a log file was replaced): numbering starts at 1.
    void restart();

    std::size_t lines() const { return lineNumber_; }
    std::size_t skipped() const { return skipped_; }

private:
    void endLine();

    sys::Logger::LogLineDecoder decoder_;
    std::ostream& out_;
    std::ostream& errors_;
    std::string pending_;
    bool overlong_ = false;
    std::size_t lineNumber_ = 0;
    std::size_t skipped_ = 0;
};

// A log file opened for reading and shared with its writer for writing,
// moving and deleting, so that holding it open never keeps the writer from
// moving it aside.
class SharedLogFile {
public:
    explicit SharedLogFile(const std::string& path);
    ~SharedLogFile();
    SharedLogFile(const SharedLogFile&) = delete;
    SharedLogFile& operator=(const SharedLogFile&) = delete;

    bool isOpen() const;
    // Why the file could not be opened or read, with the system's text.
    const std::string& failure() const { return failure_; }
    // Reads on from where the last read ended; 0 at the end or on failure.
    std::size_t read(char* buffer, std::size_t size);
    // Reads on from `offset`.
    bool seek(std::uint64_t offset);
    std::uint64_t size() const;
    // Whether `path` names this very file now (not one put in its place).
    bool isAt(const std::string& path) const;

private:
#ifdef _WIN32
    void* handle_;
#else
    int descriptor_;
#endif
    std::string failure_;
};

// Follows a log file as it grows. The file stays open between polls; when its
// name comes to stand for another file (the writer moved it aside and began
// anew), the rest of the moved file is read first, a line it left unfinished
// is ended there, and the new file is read from its start.
class LogFollower {
public:
    LogFollower(std::string path, LogReader& reader, std::ostream& errors);
    ~LogFollower();

    // False when no file could be opened; failure() then says why.
    bool poll();
    const std::string& failure() const { return failure_; }

private:
    void readOn();

    std::string path_;
    LogReader& reader_;
    std::ostream& errors_;
    std::unique_ptr<SharedLogFile> file_;
    std::uint64_t offset_ = 0;
    bool followed_ = false; // a file was open before
    std::string failure_;
};

// The command: qv_log_reader [--follow] [FILE | -]. Exit status 0 when every
// line deciphered, 1 when some were skipped, 2 for a usage or open error.
// `followPolls` bounds --follow (0: forever).
int runLogReader(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& errors,
                 std::size_t followPolls = 0);

} // namespace qv::tools
