#include "sys/logger/level.h"

#include <cstddef>

namespace qv::sys::Logger {

namespace {
const char* const kNames[kLevelCount] = {"ALWAYS", "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "VERBOSE"};

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
} // namespace

const char* levelName(Level level) {
    return isValidLevel(level) ? kNames[level] : "";
}

std::optional<Level> levelFromName(const std::string& name) {
    for (Level level = 0; level < kLevelCount; ++level) {
        const std::string candidate = kNames[level];
        if (candidate.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; same && i < name.size(); ++i) {
            same = upper(name[i]) == candidate[i];
        }
        if (same) {
            return level;
        }
    }
    return std::nullopt;
}

} // namespace qv::sys::Logger
