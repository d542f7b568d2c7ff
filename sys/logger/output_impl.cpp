#include "sys/logger/output_impl.h"

#include <utility>

#include "sys/logger/line_format.h"

namespace qv::sys::Logger {

void StreamOutputWriter::write(const std::string& line, Level /*level*/) {
    // One failed write (a sink that threw, a full disk) must not silence the stream for good.
    // One write for the line and its break: standard output's writes are
    // whole under the runtime's stream lock, so a telemetry record written
    // by another thread lands before or after a log line, never inside it.
    stream_.clear();
    std::string whole;
    whole.reserve(line.size() + 1);
    whole += line;
    whole += '\n';
    stream_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    stream_.flush();
}

void AndroidLogOutputWriter::write(const std::string& /*line*/, Level /*level*/) {}

OutputImpl::OutputImpl(std::unique_ptr<OutputWriter> writer, int lineType)
    : writer_(std::move(writer)), lineType_(lineType) {}

void OutputImpl::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) {
    // Each field is escaped on its own, so that a tab in a record cannot pass
    // for a field separator; tokens are deciphered in the order they stand
    // in the line, the source's before the text's.
    const std::string shownSource =
        lineType_ == kShortLine ? std::string()
                                : escapeField(cipher_.decipherTokens(source == nullptr ? "" : source));
    const std::string shownText = escapeField(cipher_.decipherTokens(text));
    writer_->write(cipher_.encipher(composeLine(lineType_, timeMs, level, shownSource.c_str(), line,
                                                escapeField(moduleName), instanceId, threadId,
                                                escapeField(threadName), shownText)),
                   level);
}

} // namespace qv::sys::Logger
