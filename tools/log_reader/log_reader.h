#pragma once

// The log reader's work: enciphered log lines in, plain lines out. Lines that
// do not decipher are reported with their number and skipped.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
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

// Follows a log file as it grows. Each poll opens the file, reads what was
// added since the last one and closes it again, so that the writer can move
// a full file aside in between; a file shorter than what was read is a new one.
class LogFollower {
public:
    LogFollower(std::string path, LogReader& reader, std::ostream& errors);

    // False when the file cannot be opened now.
    bool poll();

private:
    std::string path_;
    LogReader& reader_;
    std::ostream& errors_;
    std::uint64_t offset_ = 0;
};

// The command: qv_log_reader [--follow] [FILE | -]. Exit status 0 when every
// line deciphered, 1 when some were skipped, 2 for a usage or open error.
// `followPolls` bounds --follow (0: forever).
int runLogReader(int argc, const char* const* argv, std::istream& in, std::ostream& out, std::ostream& errors,
                 std::size_t followPolls = 0);

} // namespace qv::tools
