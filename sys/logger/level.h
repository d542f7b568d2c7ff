#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv::sys::Logger {

// Smaller is more important. A level is enabled for a module when it is at
// most the module's verbosity. Only 0..6 exist; anything else is never written.
using Level = std::int32_t;

constexpr Level kAlways = 0;
constexpr Level kFatal = 1;
constexpr Level kError = 2;
constexpr Level kWarn = 3;
constexpr Level kInfo = 4;
constexpr Level kDebug = 5;
constexpr Level kVerbose = 6;
constexpr int kLevelCount = 7;

constexpr bool isValidLevel(Level level) {
    return level >= 0 && level < kLevelCount;
}

// "ALWAYS" .. "VERBOSE"; the empty string for a level outside 0..6.
const char* levelName(Level level);

// The level named `name`, compared without regard to case; nothing when the
// name is empty or unknown.
std::optional<Level> levelFromName(const std::string& name);

// Whether `name` is `known` with its ASCII letters in any case, as the
// settings may write the names of levels and file modes.
bool isNamed(const std::string& name, const std::string& known);

} // namespace qv::sys::Logger
