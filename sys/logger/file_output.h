#pragma once

// A log file with a size limit: the output checks the size before each line
// and, past the limit, starts the file anew (after moving the full one aside,
// or in a newly named file). Runs under the logger lock like every output.
//
// A file that cannot be written costs records, never files: after a failed
// write or open the output opens the same file again for appending at the
// next record (dropping records until that works, then telling how many went
// missing), and it never moves aside or prunes because of a failure. A full
// file that cannot be moved aside (another process holds it open) gets one
// record saying so and no more: records are dropped until it can be moved,
// so it stays bounded by the limit and two lines.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sys/logger/log_file.h"
#include "sys/logger/output.h"
#include "sys/logger/output_impl.h"

namespace qv::sys::Logger {

// How a log file is opened, at start and at each restart:
//   New:      the existing file is moved to its ".old" name first;
//   Decorate: a file named with the time it was opened, older ones pruned;
//   Append:   the existing file is continued (a restart then opens as New).
enum class FileMode : std::uint32_t { New = 0, Decorate = 1, Append = 2 };

// "New", "Decorate" or "Append" in any letter case; nothing otherwise.
std::optional<FileMode> fileModeFromName(const std::string& name);

// Tells whether the file being written was removed or renamed by someone else.
class FileRemovedOrRenamedChecker : private boost::noncopyable {
public:
    virtual ~FileRemovedOrRenamedChecker() = default;
    virtual bool check() = 0;

    // On this platform no check exists: the answer is always no.
    static std::unique_ptr<FileRemovedOrRenamedChecker> create(const std::string& path);
};

class NullFileRemovedOrRenamedChecker : public FileRemovedOrRenamedChecker {
public:
    bool check() override { return false; }
};

// Writes each line and its line break in one call to a LogFile.
class LogFileWriter : public OutputWriter {
public:
    explicit LogFileWriter(LogFile& file) : file_(file) {}
    void write(const std::string& line, Level level) override;
    // Whether the last line was lost.
    bool failed() const { return failed_; }

private:
    LogFile& file_;
    bool failed_ = false;
};

class FileOutput : public Output {
public:
    // Opens the file at once. maxSize 0 means no limit; maxFileCount is the
    // number of older decorated files kept (0 keeps them all).
    FileOutput(int lineType, std::string path, FileMode mode, std::uint64_t maxSize,
               std::uint8_t maxFileCount, LogFileOpener opener = openLogFile);
    ~FileOutput() override;

    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override;

    const std::string& path() const { return path_; }
    // The file now written: the path, or its decorated name.
    const std::string& currentFile() const { return currentFile_; }
    // Why the file could not be opened when the output was made; empty when it was.
    const std::string& openFailure() const { return openFailure_; }

private:
    struct Record;
    // Opens currentFile_, or for Decorate a newly named file and prunes the
    // older ones; false when it cannot be opened.
    bool open(FileMode mode);
    // Starts a new file past the limit; false when the record is to be dropped.
    bool restart(const Record& record);
    // Writes through the inner output; false when the line was lost.
    bool write(const Record& record, Level level, const std::string& text);
    // After a failure: the same file again, and a record of what was lost;
    // false while that cannot be written.
    bool recover(const Record& record);
    void fail(std::string reason);

    LogFileOpener opener_;
    std::unique_ptr<FileRemovedOrRenamedChecker> checker_;
    std::unique_ptr<LogFile> file_;
    LogFileWriter* writer_ = nullptr; // owned by inner_
    std::unique_ptr<OutputImpl> inner_;
    std::string path_;
    FileMode mode_;
    std::uint64_t maxSize_;
    int lineType_;
    std::uint8_t maxFileCount_;
    std::string currentFile_;
    std::string openFailure_;
    // The size of the file after the last restart record. The limit counts
    // from there: a decorated name that came round again within its second
    // then gets one restart per limit's worth of lines, not one per line, and
    // so does a limit smaller than the restart record.
    std::uint64_t restartBase_ = 0;
    // Records lost since the file last took one, and why.
    std::uint64_t lost_ = 0;
    std::string lostReason_;
    bool failing_ = false; // the file is not open, or its last write failed
    bool stuck_ = false;   // full, and it could not be moved aside
};

} // namespace qv::sys::Logger
