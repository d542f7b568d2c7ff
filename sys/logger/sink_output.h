#pragma once

#include "sys/logger/output.h"

namespace qv::sys::Logger {

// Composes each record into a line of the given type and hands it to a LineSink.
class SinkOutput : public Output {
public:
    SinkOutput(LineSink& sink, int lineType) : sink_(sink), lineType_(lineType) {}

    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override;

private:
    LineSink& sink_;
    int lineType_;
};

} // namespace qv::sys::Logger
