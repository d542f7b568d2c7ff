#include "sys/logger/file_output.h"

#include <ctime>
#include <limits>

#include "sys/logger/banner.h"
#include "sys/logger/log_files.h"

namespace qv::sys::Logger {

std::optional<FileMode> fileModeFromName(const std::string& name) {
    static const struct {
        const char* name;
        FileMode mode;
    } kModes[] = {{"new", FileMode::New}, {"decorate", FileMode::Decorate}, {"append", FileMode::Append}};
    for (const auto& candidate : kModes) {
        if (isNamed(name, candidate.name)) {
            return candidate.mode;
        }
    }
    return std::nullopt;
}

std::unique_ptr<FileRemovedOrRenamedChecker>
FileRemovedOrRenamedChecker::create(const std::string& /*path*/) {
    return std::make_unique<NullFileRemovedOrRenamedChecker>();
}

FileOutput::FileOutput(int lineType, std::string path, FileMode mode, std::uint64_t maxSize,
                       std::uint8_t maxFileCount)
    : path_(std::move(path)), mode_(mode), maxSize_(maxSize), lineType_(lineType),
      maxFileCount_(maxFileCount) {
    open(mode_);
}

FileOutput::~FileOutput() = default;

void FileOutput::open(FileMode mode) {
    currentFile_ = path_;
    if (mode == FileMode::New) {
        rotateLog(path_);
    } else if (mode == FileMode::Decorate) {
        pruneDecoratedLogs(path_, maxFileCount_);
        currentFile_ = decoratedLogName(path_, std::time(nullptr));
    }
    // Append mode: every write goes to the end, also after others wrote.
    stream_ = std::make_unique<std::ofstream>(currentFile_, std::ios::out | std::ios::app);
    if (stream_->is_open()) {
        stream_->seekp(0, std::ios::end);
    }
    checker_ = FileRemovedOrRenamedChecker::create(path_);
    inner_ = std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(*stream_), lineType_);
}

std::uint64_t FileOutput::position() const {
    if (!stream_->is_open()) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const std::streamoff offset = stream_->tellp();
    return offset < 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(offset);
}

void FileOutput::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) {
    bool restart = false;
    if (maxSize_ != 0) {
        const std::uint64_t limit = restartBase_ > std::numeric_limits<std::uint64_t>::max() - maxSize_
                                        ? std::numeric_limits<std::uint64_t>::max()
                                        : restartBase_ + maxSize_;
        restart = position() > limit || !stream_->is_open();
    }
    if (!restart && !checker_->check()) {
        inner_->output(timeMs, level, source, line, moduleName, instanceId, threadId, threadName, text);
        return;
    }
    inner_.reset();
    stream_.reset();
    open(mode_ == FileMode::Append ? FileMode::New : mode_);
    inner_->output(timeMs, kAlways, source, line, moduleName, instanceId, threadId, threadName,
                   buildBanner() + "Log file restarted at " + ctimeText(std::time(nullptr)));
    const std::uint64_t restarted = position();
    restartBase_ = restarted == std::numeric_limits<std::uint64_t>::max() ? 0 : restarted;
    inner_->output(timeMs, level, source, line, moduleName, instanceId, threadId, threadName, text);
}

} // namespace qv::sys::Logger
