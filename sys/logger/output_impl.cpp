#include "sys/logger/output_impl.h"

#include <utility>

#include "sys/logger/line_format.h"

namespace qv::sys::Logger {

void StreamOutputWriter::write(const std::string& line, Level /*level*/) {
    // One failed write (a sink that threw, a full disk) must not silence the stream for good.
    stream_.clear();
    stream_ << line << '\n';
    stream_.flush();
}

void AndroidLogOutputWriter::write(const std::string& /*line*/, Level /*level*/) {}

OutputImpl::OutputImpl(std::unique_ptr<OutputWriter> writer, int lineType)
    : writer_(std::move(writer)), lineType_(lineType) {}

void OutputImpl::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) {
    std::string composed = composeLine(lineType_, timeMs, level, source, line, moduleName, instanceId,
                                       threadId, threadName, text);
    // Moved through: a record without tokens or breaks is not copied on its way.
    writer_->write(cipher_.encipher(toSingleLine(cipher_.decipherTokens(std::move(composed)))), level);
}

} // namespace qv::sys::Logger
