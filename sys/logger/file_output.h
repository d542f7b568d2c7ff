#pragma once

// A log file with a size limit: the output checks the size before each line
// and, past the limit, starts the file anew (after moving the full one aside,
// or in a newly named file). Runs under the logger lock like every output.

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

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

class FileOutput : public Output {
public:
    // Opens the file at once. maxSize 0 means no limit; maxFileCount is the
    // number of older decorated files kept (0 keeps them all).
    FileOutput(int lineType, std::string path, FileMode mode, std::uint64_t maxSize,
               std::uint8_t maxFileCount);
    ~FileOutput() override;

    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& moduleName, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override;

    const std::string& path() const { return path_; }
    // The file now written: the path, or its decorated name.
    const std::string& currentFile() const { return currentFile_; }

private:
    void open(FileMode mode);
    // The write position; the largest value when the file is not open.
    std::uint64_t position() const;

    std::unique_ptr<FileRemovedOrRenamedChecker> checker_;
    std::unique_ptr<std::ofstream> stream_;
    std::unique_ptr<OutputImpl> inner_;
    std::string path_;
    FileMode mode_;
    std::uint64_t maxSize_;
    int lineType_;
    std::uint8_t maxFileCount_;
    std::string currentFile_;
    // The size of the file after the last restart record. The limit counts
    // from there: a file that could not be moved aside (or a decorated name
    // that came round again within its second) then gets one restart per
    // limit's worth of lines, not one per line, and so does a limit smaller
    // than the restart record.
    std::uint64_t restartBase_ = 0;
};

} // namespace qv::sys::Logger
