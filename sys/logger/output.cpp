#include "sys/logger/output.h"

namespace qv::sys::Logger {

void MultiOutput::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                         const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                         const std::string& threadName, const std::string& text) {
    for (Output* each : outputs_) {
        each->output(timeMs, level, source, line, moduleName, instanceId, threadId, threadName, text);
    }
}

} // namespace qv::sys::Logger
