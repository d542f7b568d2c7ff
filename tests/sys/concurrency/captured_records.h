#pragma once

// Records of one logger module, kept in memory for a test to look at.

#include <memory>
#include <string>
#include <vector>

#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"

namespace qv::sys::test {

struct CapturedRecords : Logger::Output {
    void output(std::uint32_t, Logger::Level level, const char*, std::int32_t line, const std::string&,
                const std::string&, std::uint32_t, const std::string& threadName,
                const std::string& text) override {
        records.push_back(std::to_string(level) + "|" + std::to_string(line) + "|" + threadName + "|" + text);
    }
    std::vector<std::string> records; // "level|line|thread name|text"
};

// Routes every level of `module` to a new capture, which the logger owns.
inline CapturedRecords& captureModule(const std::string& module) {
    auto capture = std::make_unique<CapturedRecords>();
    CapturedRecords& kept = *capture;
    Logger::core().own(std::move(capture));
    Logger::core().setModuleOutputs(module, Logger::kVerbose, {{&kept, Logger::kVerbose}});
    return kept;
}

} // namespace qv::sys::test
