#pragma once

#include <cstdio>
#include <string>

#include "sys/logger/log_cipher.h"
#include "sys/logger/output.h"

namespace qv::sys::test {

// A line handed to a LineSink as a person reads it: deciphered, or as it
// came when it is not an enciphered log line.
inline std::string plainLine(const std::string& line) {
    std::string reason;
    return Logger::LogLineDecoder().decipher(line.substr(0, line.find('\n')), reason).value_or(line);
}

// Prints every line plainly to `stream` at once, where the parent of a child
// process (or of a death test's child) reads it.
struct PrintingSink : Logger::LineSink {
    explicit PrintingSink(std::FILE* stream) : stream(stream) {}
    void write(const std::string& line) override {
        std::fprintf(stream, "%s\n", plainLine(line).c_str());
        std::fflush(stream);
    }
    std::FILE* const stream;
};

} // namespace qv::sys::test
