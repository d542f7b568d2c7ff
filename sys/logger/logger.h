#pragma once

// Front end of the logger: the logging identity, log records and the
// process-wide start-up calls. Any thread may log.
//
//   class MessageReader : public virtual qv::sys::Logger::Logged {
//   public:
//       MessageReader() : Logged("MessageReader", "") {}
//       void f() { QV_LOG(qv::sys::Logger::kInfo) << "read " << n << " bytes"; }
//   };

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include <boost/noncopyable.hpp>

#include "sys/logger/identity.h"
#include "sys/logger/level.h"
#include "sys/logger/output.h"

namespace qv::sys::Logger {

class LoggerCore;
class ModuleEntry;

// Creates the process logger unless one exists; if one does, nothing changes
// and `sink` is destroyed. Flag bits: 0x1 write the version banner (and use
// the debug location for the log directory), 0x2 every module also writes to
// standard error, 0x4 every module also writes to the Android-log output.
void initialise(const std::string& name, Level verbosity, std::uint32_t flags, bool preferTemp,
                std::unique_ptr<LineSink> sink);

// The process logger; creates the default one (named after the executable,
// verbosity 4, flags 1, no sink) when none exists yet.
LoggerCore& core();

// The calling thread's name for log lines; empty when it has none.
std::string currentThreadName();
// Names the calling thread (a copy is kept); null clears the name.
void setCurrentThreadName(const char* name);

// The logging identity every logging class mixes in (virtually). Its module
// is looked up once, at construction, and never changes.
class Logged : public virtual Identity {
public:
    // For classes whose most-derived constructor has named the Identity
    // already: the module is the Identity's name.
    Logged();
    // Module `moduleName`, which also becomes the Identity's name; a non-empty
    // `instanceId` replaces the address; a non-empty `fileName` asks for a
    // private log file of the module.
    Logged(const std::string& moduleName, const std::string& instanceId,
           const std::string& fileName = std::string(), std::uint64_t maxSize = 0x100000,
           std::uint8_t maxFileCount = 0);
    Logged(const Logged&) = delete;
    Logged& operator=(const Logged&) = delete;
    ~Logged() override;

    // Whether a record at `level` would be dispatched: level is in 0..6 and at
    // most the module's verbosity. Call sites test it before building a record.
    bool isLogging(Level level) const;

    ModuleEntry& module() const { return *module_; }

private:
    ModuleEntry* module_;
};

// One record, built on the call site's stack. Text is written with the usual
// stream operators; end() (or, failing that, the destructor) hands it to the
// logger once. end() lets an exception from an output reach the caller; the
// destructor cannot, so it swallows it. QV_LOG always ends explicitly.
class LogRecord : private boost::noncopyable {
public:
    LogRecord(const Logged& logged, Level level, const char* source, std::int32_t line);
    ~LogRecord();

    template <typename T>
    LogRecord& operator<<(const T& value) {
        text_ << value;
        return *this;
    }
    LogRecord& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
        text_ << manipulator;
        return *this;
    }
    LogRecord& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
        text_ << manipulator;
        return *this;
    }

    std::ostream& stream() { return text_; }

    // Dispatches the text, whole and untrimmed; later calls do nothing.
    void end();

private:
    std::ostringstream text_;
    const Logged& logged_;
    Level level_;
    const char* source_;
    std::int32_t line_;
    bool ended_ = false;
};

// Ends a record at the end of the QV_LOG expression, outside any destructor.
struct RecordEnd {
    void operator&(LogRecord& record) const { record.end(); }
    void operator&(LogRecord&& record) const { record.end(); }
};

} // namespace qv::sys::Logger

// QV_LOG_AS(identity, level) << ...; writes a record for `identity` (a Logged)
// when the level is enabled; the stream operands are not evaluated otherwise.
// `level` is evaluated twice.
#define QV_LOG_AS(logged, level)                                                                             \
    !(logged).isLogging(level) ? static_cast<void>(0)                                                        \
                               : ::qv::sys::Logger::RecordEnd() &                                            \
                                     ::qv::sys::Logger::LogRecord((logged), (level), __FILE__, __LINE__)

// As QV_LOG_AS, for records whose line number is fixed by the log format's
// readers rather than by where the call happens to stand.
#define QV_LOG_AT(logged, level, line)                                                                       \
    !(logged).isLogging(level) ? static_cast<void>(0)                                                        \
                               : ::qv::sys::Logger::RecordEnd() &                                            \
                                     ::qv::sys::Logger::LogRecord((logged), (level), __FILE__, (line))

// Inside a member of a class deriving from Logged: QV_LOG(level) << "text";
#define QV_LOG(level) QV_LOG_AS(*this, level)
