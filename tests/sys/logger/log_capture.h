#pragma once

// The records of one logger module, for a test to look at. A module keeps its
// outputs as long as the logger lives, so each capture is attached once for
// the process; every call of `of` starts it empty.

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"

namespace qv::sys::test {

struct CapturedRecord {
    Logger::Level level;
    std::int32_t line;
    std::string thread;
    std::string text;

    bool operator==(const CapturedRecord& other) const {
        return std::tie(level, line, thread, text) ==
               std::tie(other.level, other.line, other.thread, other.text);
    }
    friend std::ostream& operator<<(std::ostream& stream, const CapturedRecord& record) {
        return stream << record.level << '|' << record.line << '|' << record.thread << '|' << record.text;
    }
};

class LogCapture : public Logger::Output {
public:
    static LogCapture& of(const std::string& module) {
        static std::map<std::string, LogCapture*> captures;
        LogCapture*& capture = captures[module];
        if (capture == nullptr) {
            capture = new LogCapture;
            Logger::core().addOutput(module, *capture, Logger::kVerbose);
        }
        capture->records.clear();
        return *capture;
    }
    void output(std::uint32_t, Logger::Level level, const char*, std::int32_t line, const std::string&,
                const std::string&, std::uint32_t, const std::string& thread,
                const std::string& text) override {
        records.push_back({level, line, thread, text});
    }
    std::vector<CapturedRecord> take() { return std::exchange(records, {}); }

    std::vector<CapturedRecord> records;
};

} // namespace qv::sys::test
