// Where the logger's settings go: the logger-wide ones at creation, each
// module's when it is first used, each named output's when a module first
// names it. Everything here runs under the logger lock.

#include "sys/logger/logger_core.h"

#include <algorithm>
#include <iostream>

#include "sys/config/option.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/line_format.h"
#include "sys/logger/log_files.h"
#include "sys/logger/output_impl.h"

namespace qv::sys::Logger {

namespace {
// The log directory when the settings name none: the debug location, whose
// own setting is read without records (one would start a second logger).
std::string fallbackLogDirectory(bool preferTemp) {
    const option::QuietLoading quiet;
    try {
        return debugLocation(preferTemp);
    } catch (...) {
        return std::string(); // no default log file, but a logger all the same
    }
}

std::unique_ptr<Output> streamOutput(std::ostream& stream, int lineType) {
    return std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(stream), lineType);
}
} // namespace

void LoggerCore::readCoreSettings() {
    // A user agent would import ".qvua.xml" here; no such file exists on this platform.
    const CoreSettings settings = Logger::readCoreSettings(*settings_, defaultVerbosity_, coreNotes_);
    configuredVerbosity_ = settings.configuredVerbosity;
    maxFileSize_ = settings.maxFileSize;
    directory_ = settings.directory;
    if (directory_.empty() && (flags_ & 0x1) != 0) {
        directory_ = fallbackLogDirectory(preferTemp_);
    }
    if (!directory_.empty()) {
        if (directory_.back() != '\\') {
            directory_ += '\\';
        }
        defaultLogPath_ = directory_ + name_ + ".log";
    }
}

ModuleConfiguration LoggerCore::readModuleSettings(const std::string& moduleName, SettingsNotes& notes) {
    ModuleConfiguration result = configureModule(
        *settings_, name_, moduleName, defaultVerbosity_,
        [this, &notes](const std::string& name) { return getOutput(name, notes); }, notes);

    const Level moduleVerbosity = result.verbosity;
    if ((flags_ & 0x2) != 0) {
        result.outputs.emplace_back(&standardErrorOutput(), moduleVerbosity);
    }
    if ((flags_ & 0x4) != 0) {
        result.outputs.emplace_back(&androidLogOutput(), moduleVerbosity);
    }
    if (!defaultLogPath_.empty()) {
        result.outputs.emplace_back(&defaultLogFile(), configuredVerbosity_);
        result.verbosity = std::max(result.verbosity, configuredVerbosity_);
    }
    if (sinkOutput_) {
        result.outputs.emplace_back(sinkOutput_.get(), result.verbosity);
    }
    // Two names of one output (a file written under two spellings of its
    // path, a stream named twice): one entry at the higher level, so that no
    // line is written twice.
    OutputList merged;
    for (const auto& [output, level] : result.outputs) {
        const auto same = std::find_if(merged.begin(), merged.end(), [output = output](const auto& entry) {
            return entry.first == output;
        });
        if (same == merged.end()) {
            merged.emplace_back(output, level);
        } else {
            same->second = std::max(same->second, level);
        }
    }
    result.outputs = std::move(merged);
    return result;
}

Output* LoggerCore::getOutput(const std::string& name, SettingsNotes& notes) {
    CriticalSectionGuard guard(lock());
    if (const auto found = outputsByName_.find(name); found != outputsByName_.end()) {
        return found->second;
    }
    Output* output = nullptr;
    // A settings error propagates before the name is remembered: the next module asks again.
    if (const auto settings = readOutputSettings(*settings_, name_, name, directory_, notes)) {
        switch (settings->kind) {
        case OutputKind::StandardError:
            output = &standardErrorOutput();
            break;
        case OutputKind::StandardOutput:
            output = &standardOutputOutput();
            break;
        case OutputKind::Debugger:
            output = &debuggerOutput(settings->lineType);
            break;
        case OutputKind::File:
            // The named output takes the default log file's place for modules configured from now on.
            if (settings->mode != FileMode::Decorate && sameLogPath(settings->filename, defaultLogPath_)) {
                defaultLogPath_.clear();
            }
            const std::size_t filesBefore = fileOutputs_.size();
            FileOutput& file = fileOutput(settings->lineType, settings->filename, settings->mode,
                                          settings->maxSize, settings->maxFileCount);
            // Told once, when the output is made; the file is tried again at each record.
            if (fileOutputs_.size() != filesBefore && !file.openFailure().empty()) {
                notes.push_back("the output \"" + name + "\" " + file.openFailure() +
                                "; its records are lost until it can be opened");
            }
            output = &file;
            break;
        }
    }
    outputsByName_[name] = output;
    return output;
}

Output& LoggerCore::standardErrorOutput() {
    if (!standardError_) {
        standardError_ = streamOutput(std::cerr, kShortLine);
    }
    return *standardError_;
}

Output& LoggerCore::standardOutputOutput() {
    if (!standardOutput_) {
        standardOutput_ = streamOutput(std::cout, kShortLine);
    }
    return *standardOutput_;
}

Output& LoggerCore::debuggerOutput(int lineType) {
    if (!debugger_) {
        debugStream_ = std::make_unique<DebugOStream>();
        debugger_ = streamOutput(*debugStream_, lineType);
    }
    return *debugger_;
}

Output& LoggerCore::androidLogOutput() {
    if (!androidLog_) {
        androidLog_ =
            std::make_unique<OutputImpl>(std::make_unique<AndroidLogOutputWriter>(name_), kShortLine);
    }
    return *androidLog_;
}

Output& LoggerCore::defaultLogFile() {
    if (!defaultLogFile_) {
        defaultLogFile_ =
            std::make_unique<FileOutput>(kDecoratedLine, defaultLogPath_, FileMode::Append, maxFileSize_, 0);
    }
    return *defaultLogFile_;
}

FileOutput& LoggerCore::fileOutput(int lineType, const std::string& path, FileMode mode,
                                   std::uint64_t maxSize, std::uint8_t maxFileCount) {
    // Two outputs on one file would move it aside under each other's feet
    // and each count only its own lines against the limit.
    if (defaultLogFile_ && sameLogPath(defaultLogFile_->path(), path)) {
        return *defaultLogFile_;
    }
    for (const auto& file : fileOutputs_) {
        if (sameLogPath(file->path(), path)) {
            return *file;
        }
    }
    fileOutputs_.push_back(std::make_unique<FileOutput>(lineType, path, mode, maxSize, maxFileCount));
    return *fileOutputs_.back();
}

bool LoggerCore::hasNamedOutput(const std::string& name) const {
    const auto found = outputsByName_.find(name);
    return found != outputsByName_.end() && found->second != nullptr;
}

void LoggerCore::openPrivateFile(ModuleEntry& module, const std::string& path, std::uint64_t maxSize,
                                 std::uint8_t maxFileCount) {
    CriticalSectionGuard guard(lock());
    FileOutput& file = fileOutput(kDecoratedLine, path, FileMode::New, maxSize, maxFileCount);
    outputsByName_[module.name()] = &file;
    module.setOutputs(kInfo, {{&file, kInfo}});
}

} // namespace qv::sys::Logger
