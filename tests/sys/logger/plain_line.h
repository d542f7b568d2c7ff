#pragma once

#include <string>

#include "sys/logger/log_cipher.h"

namespace qv::sys::test {

// A line handed to a LineSink as a person reads it: deciphered, or as it
// came when it is not an enciphered log line.
inline std::string plainLine(const std::string& line) {
    std::string reason;
    return Logger::LogLineDecoder().decipher(line.substr(0, line.find('\n')), reason).value_or(line);
}

} // namespace qv::sys::test
