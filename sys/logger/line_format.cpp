#include "sys/logger/line_format.h"

#include <cstdio>
#include <cstring>

namespace qv::sys::Logger {

const char* shortenSource(const char* source) {
    if (source == nullptr) {
        return "";
    }
    const std::size_t length = std::strlen(source);
    if (length >= 2 && source[length - 2] == '@' && source[length - 1] == '@') {
        return source;
    }
    if (const char* backslash = std::strrchr(source, '\\')) {
        return backslash + 1;
    }
    if (const char* slash = std::strrchr(source, '/')) {
        return slash + 1;
    }
    return source;
}

std::string formatElapsed(std::uint32_t timeMs) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02lu:%02lu:%02lu.%03lu",
                  static_cast<unsigned long>(timeMs / 3600000),
                  static_cast<unsigned long>(timeMs / 60000 % 60),
                  static_cast<unsigned long>(timeMs / 1000 % 60), static_cast<unsigned long>(timeMs % 1000));
    return buffer;
}

std::string composeLine(int lineType, std::uint32_t timeMs, Level level, const char* source,
                        std::int32_t line, const std::string& moduleName, const std::string& instanceId,
                        std::uint32_t threadId, const std::string& threadName, const std::string& text) {
    std::string result;
    if (lineType == kShortLine) {
        result.reserve(moduleName.size() + instanceId.size() + text.size() + 4);
        result += '[';
        result += moduleName;
        if (!instanceId.empty()) {
            result += ' ';
            result += instanceId;
        }
        result += "] ";
        result += text;
        return result;
    }
    // Levels outside 0..6 never reach an output; should one, its number
    // stands where the name would.
    const std::string levelText = isValidLevel(level) ? levelName(level) : std::to_string(level);
    result = formatElapsed(timeMs);
    result += '\t';
    result += std::to_string(threadId);
    result += ':';
    result += threadName;
    result += '\t';
    result += moduleName;
    result += '\t';
    result += instanceId;
    result += '\t';
    result += levelText;
    result += '\t';
    result += source == nullptr ? "" : source;
    result += ':';
    result += std::to_string(line);
    result += '\t';
    result += text;
    return result;
}

} // namespace qv::sys::Logger
