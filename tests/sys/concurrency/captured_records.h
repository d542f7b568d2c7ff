#pragma once

// Records of one logger module, kept for a test as "level|line|thread name|text".

#include <memory>
#include <string>
#include <vector>

#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"

namespace qv::sys::test {

struct CapturedRecords : Logger::Output {
    void output(std::uint32_t, Logger::Level level, const char*, std::int32_t line, const std::string&,
                const std::string&, std::uint32_t, const std::string& thread,
                const std::string& text) override {
        records.push_back(std::to_string(level) + "|" + std::to_string(line) + "|" + thread + "|" + text);
    }
    std::vector<std::string> records;
};

// Routes every level of `module` to a new capture, which the logger owns.
inline CapturedRecords& captureModule(const std::string& module) {
    CapturedRecords& kept =
        static_cast<CapturedRecords&>(Logger::core().own(std::make_unique<CapturedRecords>()));
    Logger::core().setModuleOutputs(module, Logger::kVerbose, {{&kept, Logger::kVerbose}});
    return kept;
}

} // namespace qv::sys::test
