#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <boost/noncopyable.hpp>

#include "sys/logger/level.h"

namespace qv::sys::Logger {

// Receives finished records and turns them into lines. Not thread-safe by
// itself: the logger calls every output under its lock, one record at a time.
// An exception thrown by `output` reaches the call site that ended the record.
class Output : private boost::noncopyable {
public:
    virtual ~Output() = default;
    virtual void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) = 0;
};

// Outputs of one module with the highest level each accepts, in configuration order.
using OutputList = std::vector<std::pair<Output*, Level>>;

// Forwards every record to each of its outputs in order; does not own them.
class MultiOutput : public Output {
public:
    explicit MultiOutput(std::vector<Output*> outputs) : outputs_(std::move(outputs)) {}

    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override;

    bool empty() const { return outputs_.empty(); }

private:
    std::vector<Output*> outputs_;
};

// Takes the logger's finished lines, each enciphered like every log line and
// ending in a newline; called under the logger lock. Given at start-up and
// owned by the logger from then on.
class LineSink : private boost::noncopyable {
public:
    virtual void write(const std::string& line) = 0;
    virtual ~LineSink() = default;
};

} // namespace qv::sys::Logger
