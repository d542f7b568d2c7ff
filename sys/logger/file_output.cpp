#include "sys/logger/file_output.h"

#include <ctime>
#include <limits>

#include "sys/logger/banner.h"
#include "sys/logger/log_files.h"
#include "sys/logger/output_impl.h"

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

void LogFileWriter::write(const std::string& line, Level /*level*/) {
    failed_ = !file_.write(line + '\n');
}

struct FileOutput::Record {
    std::uint32_t timeMs;
    const char* source;
    std::int32_t line;
    const std::string& moduleName;
    const std::string& instanceId;
    std::uint32_t threadId;
    const std::string& threadName;
};

FileOutput::FileOutput(int lineType, std::string path, FileMode mode, std::uint64_t maxSize,
                       std::uint8_t maxFileCount, LogFileOpener opener)
    : opener_(std::move(opener)), path_(std::move(path)), mode_(mode), maxSize_(maxSize), lineType_(lineType),
      maxFileCount_(maxFileCount) {
    if (mode_ == FileMode::New) {
        moveReplacing(path_, oldLogName(path_)); // held open elsewhere: this run continues it
    }
    currentFile_ = path_;
    if (!open(mode_)) {
        openFailure_ = lostReason_;
    }
}

FileOutput::~FileOutput() = default;

bool FileOutput::open(FileMode mode) {
    inner_.reset();
    file_.reset();
    if (mode == FileMode::Decorate) {
        currentFile_ = decoratedLogName(path_, std::time(nullptr));
    }
    file_ = opener_(currentFile_);
    checker_ = FileRemovedOrRenamedChecker::create(path_);
    auto writer = std::make_unique<LogFileWriter>(*file_);
    writer_ = writer.get();
    inner_ = std::make_unique<OutputImpl>(std::move(writer), lineType_);
    if (!file_->isOpen()) {
        fail("cannot open " + currentFile_ + ": " + systemErrorDescription(file_->error()));
        return false;
    }
    failing_ = false;
    if (mode == FileMode::Decorate) {
        pruneDecoratedLogs(path_, currentFile_, maxFileCount_);
    }
    return true;
}

void FileOutput::fail(std::string reason) {
    failing_ = true;
    lostReason_ = std::move(reason);
}

bool FileOutput::write(const Record& record, Level level, const std::string& text) {
    inner_->output(record.timeMs, level, record.source, record.line, record.moduleName, record.instanceId,
                   record.threadId, record.threadName, text);
    if (writer_->failed()) {
        fail("writing " + currentFile_ + " failed: " + systemErrorDescription(file_->error()));
        return false;
    }
    return true;
}

bool FileOutput::recover(const Record& record) {
    if (failing_) {
        // The same file again, for appending: a failure never starts another.
        if (!open(FileMode::Append)) {
            return false;
        }
        // Half a line left by a failed write stays a line of its own. Only a
        // failure leaves one: a file that took every write needs no look.
        if (endsInsideALine(currentFile_) && !file_->write("\n")) {
            fail("writing " + currentFile_ + " failed: " + systemErrorDescription(file_->error()));
            return false;
        }
    }
    if (lost_ > 0 && !write(record, kWarn,
                            std::to_string(lost_) + (lost_ == 1 ? " log record was" : " log records were") +
                                " lost: " + lostReason_)) {
        return false;
    }
    lost_ = 0;
    return true;
}

bool FileOutput::restart(const Record& record) {
    // A file that another writer of this log has moved aside already is not
    // moved again: that would put the other's new file in place of the old one.
    if (mode_ != FileMode::Decorate && file_->isAt(path_)) {
        const std::string old = oldLogName(path_);
        // Moved while still open (it is shared for that), so that a file
        // which cannot be moved stays where it is and is written no further.
        if (const std::uint32_t error = moveReplacing(path_, old)) {
            const std::string reason =
                "the full log file cannot be moved to " + old + " (" + systemErrorDescription(error) + ")";
            if (!stuck_) {
                stuck_ = true;
                write(record, kWarn, "T" + reason.substr(1) + "; records are dropped until it can be");
            }
            if (!failing_) {
                lostReason_ = reason;
            }
            return false;
        }
    }
    stuck_ = false;
    if (!open(mode_ == FileMode::Append ? FileMode::New : mode_) ||
        !write(record, kAlways, buildBanner() + "Log file restarted at " + ctimeText(std::time(nullptr)))) {
        return false;
    }
    restartBase_ = file_->size().value_or(0);
    return recover(record);
}

void FileOutput::output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                        const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                        const std::string& threadName, const std::string& text) {
    const Record record{timeMs, source, line, moduleName, instanceId, threadId, threadName};
    bool written = !failing_ || recover(record);
    if (written) {
        bool restarting = checker_->check();
        if (maxSize_ != 0) {
            const std::uint64_t limit = restartBase_ > std::numeric_limits<std::uint64_t>::max() - maxSize_
                                            ? std::numeric_limits<std::uint64_t>::max()
                                            : restartBase_ + maxSize_;
            // A size that cannot be told is no reason to start over.
            restarting = restarting || file_->size().value_or(0) > limit;
        }
        written = (!restarting || restart(record)) && write(record, level, text);
    }
    if (!written) {
        ++lost_;
    }
}

} // namespace qv::sys::Logger
