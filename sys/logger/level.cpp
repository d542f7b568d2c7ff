#include "sys/logger/level.h"

#include <algorithm>

namespace qv::sys::Logger {

namespace {
const char* const kNames[kLevelCount] = {"ALWAYS", "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "VERBOSE"};

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

const char* levelName(Level level) {
    return isValidLevel(level) ? kNames[level] : "";
}

std::optional<Level> levelFromName(const std::string& name) {
    for (Level level = 0; level < kLevelCount; ++level) {
        if (isNamed(name, kNames[level])) {
            return level;
        }
    }
    return std::nullopt;
}

bool isNamed(const std::string& name, const std::string& known) {
    return name.size() == known.size() && std::equal(name.begin(), name.end(), known.begin(),
                                                     [](char a, char b) { return lower(a) == lower(b); });
}

} // namespace qv::sys::Logger
