#pragma once

// The outputs' last stage: compose a record into a line, make it one line,
// encipher it and hand it to a writer.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include <boost/noncopyable.hpp>

#include "sys/logger/level.h"
#include "sys/logger/log_cipher.h"
#include "sys/logger/output.h"

namespace qv::sys::Logger {

// Delivers finished (enciphered) lines.
class OutputWriter : private boost::noncopyable {
public:
    virtual ~OutputWriter() = default;
    virtual void write(const std::string& line, Level level) = 0;
};

// Line and newline in one write, then flush: a line has reached the stream
// when write returns.
class StreamOutputWriter : public OutputWriter {
public:
    explicit StreamOutputWriter(std::ostream& stream) : stream_(stream) {}
    void write(const std::string& line, Level level) override;

private:
    std::ostream& stream_;
};

// The Android log does not exist on this platform: lines go nowhere.
class AndroidLogOutputWriter : public OutputWriter {
public:
    explicit AndroidLogOutputWriter(std::string tag) : tag_(std::move(tag)) {}
    void write(const std::string& line, Level level) override;

private:
    std::string tag_;
};

// Composes each record in its line type (kShortLine or decorated), replaces
// the program's tokens by their texts, escapes in each field what would break
// the line or pass for a field separator, and writes the enciphered line.
class OutputImpl : public Output {
public:
    OutputImpl(std::unique_ptr<OutputWriter> writer, int lineType);

    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override;

private:
    std::unique_ptr<OutputWriter> writer_;
    int lineType_;
    LogLineCipher cipher_;
};

} // namespace qv::sys::Logger
