#pragma once

// The process logger behind the front end. Everything here that changes
// modules or outputs runs under the logger lock; the public members take it
// themselves (it is recursive).

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/critical_section.h"
#include "sys/logger/file_output.h"
#include "sys/logger/level.h"
#include "sys/logger/line_streams.h"
#include "sys/logger/logger_settings.h"
#include "sys/logger/output.h"

namespace qv::sys {
class PersistUserHive;
}

namespace qv::sys::Logger {

class LoggerCore;

// The registry below Software\Quorvane (registry_settings.cpp); `userHive`
// null: the logged-on user's.
std::unique_ptr<SettingsSource>
makeRegistrySettingsSource(std::shared_ptr<PersistUserHive> userHive = nullptr);

// One per module name, created on first use and kept until the logger ends.
class ModuleEntry : private boost::noncopyable {
public:
    ModuleEntry(LoggerCore& core, std::string name, Level verbosity, OutputList outputs);

    LoggerCore& core() const { return core_; }
    const std::string& name() const { return name_; }
    // Read without the lock by isLogging.
    Level verbosity() const { return verbosity_.load(std::memory_order_relaxed); }
    const OutputList& outputs() const { return outputs_; }

    // Under the logger lock. Replace or extend the outputs; both drop the per-level lists.
    void setOutputs(Level verbosity, OutputList outputs);
    void addOutput(Output& output, Level level);
    // Under the logger lock: the outputs that accept `level` (0..6), built on
    // first use. The caller shares the list, so that an output which changes
    // its own module's outputs (the lock is recursive) cannot pull the list
    // from under the dispatch that called it; later records get a new one.
    std::shared_ptr<MultiOutput> outputsFor(Level level);

private:
    LoggerCore& core_;
    const std::string name_;
    std::atomic<Level> verbosity_;
    OutputList outputs_;
    std::array<std::shared_ptr<MultiOutput>, kLevelCount> levelOutputs_;
};

class LoggerCore : private boost::noncopyable {
public:
    // Reads the logger-wide settings from `settings` (the registry when null).
    LoggerCore(std::string name, Level verbosity, std::uint32_t flags, bool preferTemp,
               std::unique_ptr<LineSink> sink, std::unique_ptr<SettingsSource> settings = nullptr);
    ~LoggerCore();

    // The logger lock: serialises core creation, module and output lookup
    // and every dispatch. Created on first use, never destroyed.
    static CriticalSection& lock();

    const std::string& name() const { return name_; }
    Level defaultVerbosity() const { return defaultVerbosity_; }
    std::uint32_t flags() const { return flags_; }
    bool preferTemp() const { return preferTemp_; }
    LineSink* sink() const { return sink_.get(); }
    const std::string& directory() const { return directory_; }
    const std::string& defaultLogPath() const { return defaultLogPath_; }
    Level configuredVerbosity() const { return configuredVerbosity_; }
    std::uint64_t maxFileSize() const { return maxFileSize_; }

    // Finds the module by exact name, creating and configuring it on first use.
    ModuleEntry& getModule(const std::string& name);

    // Hands a finished record to the module's outputs that accept `level`.
    // Records at levels outside 0..6 are dropped. Exceptions from outputs
    // propagate after the lock is released.
    void dispatch(ModuleEntry& module, Level level, const char* source, std::int32_t line,
                  const std::string& instanceId, const std::string& text);

    // Milliseconds since the logger started, cut to 32 bits.
    std::uint32_t elapsedMs() const;

    // Keeps `output` alive as long as the logger.
    Output& own(std::unique_ptr<Output> output);
    // Appends `output` at `level` to the module's outputs, raising its
    // verbosity to `level` when lower.
    void addOutput(const std::string& moduleName, Output& output, Level level);
    // Replaces the module's outputs and verbosity.
    void setModuleOutputs(const std::string& moduleName, Level verbosity, OutputList outputs);

    // A private log file for the module (see Logged): writes `path` with the
    // given limits, and the module writes only to it from then on at INFO.
    // Under the logger lock, when no output is named like the module yet.
    bool hasNamedOutput(const std::string& name) const;
    void openPrivateFile(ModuleEntry& module, const std::string& path, std::uint64_t maxSize,
                         std::uint8_t maxFileCount);

    // The logger-wide settings' notes, written once the logger can write.
    void reportCoreSettings();

    // At process exit: releases outputs and sink; afterwards every module is
    // silent and records are dropped, so late loggers stay harmless.
    void shutDown();
    bool ended() const { return ended_.load(std::memory_order_acquire); }

private:
    // Settings of the core, read once at creation, and of each new module
    // (logger_configuration.cpp).
    void readCoreSettings();
    ModuleConfiguration readModuleSettings(const std::string& moduleName, SettingsNotes& notes);
    // The named output of the settings, built on first use; null when it has
    // no settings (remembered: it stays absent). Problems go to `notes`.
    Output* getOutput(const std::string& name, SettingsNotes& notes);
    // Writes what the settings reading noticed (values that were not taken)
    // as WARN records of the module.
    void reportSettings(ModuleEntry& module, const SettingsNotes& notes);

    // The outputs every process has at most one of, built on first use.
    Output& standardErrorOutput();
    Output& standardOutputOutput();
    Output& debuggerOutput(int lineType);
    Output& androidLogOutput();
    Output& defaultLogFile();
    // A file output of a private file or of the settings; files written by an
    // output already are shared with it.
    FileOutput& fileOutput(int lineType, const std::string& path, FileMode mode, std::uint64_t maxSize,
                           std::uint8_t maxFileCount);

    std::string name_;
    Level defaultVerbosity_;
    std::uint32_t flags_;
    bool preferTemp_;
    std::unique_ptr<SettingsSource> settings_;
    std::unique_ptr<LineSink> sink_;
    std::unique_ptr<HelperOStream> sinkStream_; // after sink_: it writes to it
    std::unique_ptr<Output> sinkOutput_;
    std::string defaultLogPath_;
    std::string directory_;
    Level configuredVerbosity_;
    std::uint64_t maxFileSize_ = 0x100000;
    SettingsNotes coreNotes_;

    bool running_ = false;
    std::int64_t startTicks_ = 0;
    std::int64_t accumulatedTicks_ = 0;

    std::map<std::string, std::unique_ptr<ModuleEntry>> modules_;
    // Outputs by name as the settings gave them; null for those left out.
    std::map<std::string, Output*> outputsByName_;
    std::vector<std::unique_ptr<FileOutput>> fileOutputs_;
    std::unique_ptr<Output> standardError_;
    std::unique_ptr<Output> standardOutput_;
    std::unique_ptr<DebugOStream> debugStream_;
    std::unique_ptr<Output> debugger_;
    std::unique_ptr<Output> androidLog_;
    std::unique_ptr<FileOutput> defaultLogFile_;
    std::vector<std::unique_ptr<Output>> ownedOutputs_;
    std::atomic<bool> ended_{false};
};

} // namespace qv::sys::Logger
