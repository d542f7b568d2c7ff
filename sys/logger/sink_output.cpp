#include "sys/logger/sink_output.h"

#include "sys/logger/line_format.h"

namespace qv::sys::Logger {

void SinkOutput::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) {
    sink_.write(composeLine(lineType_, timeMs, level, source, line, moduleName, instanceId, threadId,
                            threadName, text));
}

} // namespace qv::sys::Logger
