#pragma once

#include <cstdint>
#include <string>

#include "sys/logger/level.h"

namespace qv::sys::Logger {

// Line types of the outputs: 0 gives the short form, any other value the
// decorated one. Neither form carries a line ending; writers add it.
constexpr int kShortLine = 0;
constexpr int kDecoratedLine = 1;

// The part of a record's source name that goes into a line: an enciphered
// token (ending in "@@") whole, else what follows the last backslash, else
// what follows the last slash, else all of it. Points into `source`; a null
// source gives "".
const char* shortenSource(const char* source);

// hh:mm:ss.mmm with at least two hour digits and no wrap at 24 hours.
std::string formatElapsed(std::uint32_t timeMs);

// Decorated: time, tab, threadId ":" threadName, tab, module, tab, instance,
// tab, level name, tab, source ":" line, tab, text.
// Short: "[" module [" " instance] "] " text.
std::string composeLine(int lineType, std::uint32_t timeMs, Level level, const char* source,
                        std::int32_t line, const std::string& moduleName, const std::string& instanceId,
                        std::uint32_t threadId, const std::string& threadName, const std::string& text);

} // namespace qv::sys::Logger
