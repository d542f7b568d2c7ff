#pragma once

// Logging on the failure paths: a record that cannot be written costs the
// record, never the handler that writes it.

#include "sys/logger/logger.h"

namespace qv::sys {

template <typename Write>
void logQuietly(const Logger::Logged* logged, Logger::Level level, const char* source, int line,
                Write write) noexcept {
    if (logged == nullptr) {
        return;
    }
    try {
        if (logged->isLogging(level)) {
            Logger::LogRecord record(*logged, level, source, line);
            write(record);
            record.end();
        }
    } catch (...) {
    }
}

} // namespace qv::sys

// QV_LOG_QUIETLY(loggedPointer, level, "text " << value); nothing when the pointer is null.
#define QV_LOG_QUIETLY(logged, level, streamed) QV_LOG_QUIETLY_AT(logged, level, __LINE__, streamed)
// The same with a fixed line number, for records that log readers know by it.
#define QV_LOG_QUIETLY_AT(logged, level, line, streamed)                                                     \
    ::qv::sys::logQuietly((logged), (level), __FILE__, (line),                                               \
                          [&](::qv::sys::Logger::LogRecord& qvRecord) { qvRecord << streamed; })
