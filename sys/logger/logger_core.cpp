#include "sys/logger/logger_core.h"

#include <windows.h>

#include "sys/logger/line_format.h"
#include "sys/logger/logger.h"
#include "sys/logger/output_impl.h"

namespace qv::sys::Logger {

namespace {
// Ticks per second: the performance counter's, or the tick count's 1000 when
// that counter is missing or too coarse.
std::int64_t tickFrequency() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER value;
        if (!QueryPerformanceFrequency(&value) || value.QuadPart < 1000) {
            return std::int64_t{1000};
        }
        return static_cast<std::int64_t>(value.QuadPart);
    }();
    return frequency;
}

std::int64_t tickCount() {
    if (tickFrequency() == 1000) {
        return GetTickCount();
    }
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

// Logging must not change what GetLastError() tells the caller.
class LastErrorKeeper : private boost::noncopyable {
public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }

private:
    DWORD error_;
};
} // namespace

ModuleEntry::ModuleEntry(LoggerCore& core, std::string name, Level verbosity, OutputList outputs)
    : core_(core), name_(std::move(name)), verbosity_(verbosity), outputs_(std::move(outputs)) {}

void ModuleEntry::setOutputs(Level verbosity, OutputList outputs) {
    outputs_ = std::move(outputs);
    verbosity_.store(verbosity, std::memory_order_relaxed);
    for (auto& slot : levelOutputs_) {
        slot.reset();
    }
}

void ModuleEntry::addOutput(Output& output, Level level) {
    outputs_.emplace_back(&output, level);
    if (level > verbosity()) {
        verbosity_.store(level, std::memory_order_relaxed);
    }
    for (auto& slot : levelOutputs_) {
        slot.reset();
    }
}

std::shared_ptr<MultiOutput> ModuleEntry::outputsFor(Level level) {
    auto& slot = levelOutputs_[static_cast<std::size_t>(level)];
    if (!slot) {
        std::vector<Output*> accepting;
        for (const auto& [output, outputLevel] : outputs_) {
            if (outputLevel >= level) {
                accepting.push_back(output);
            }
        }
        slot = std::make_shared<MultiOutput>(std::move(accepting));
    }
    return slot;
}

CriticalSection& LoggerCore::lock() {
    // Never destroyed: threads and static destructors may log until the process is gone.
    static CriticalSection* const section = new CriticalSection;
    return *section;
}

LoggerCore::LoggerCore(std::string name, Level verbosity, std::uint32_t flags, bool preferTemp,
                       std::unique_ptr<LineSink> sink, std::unique_ptr<SettingsSource> settings)
    : name_(std::move(name)), defaultVerbosity_(verbosity), flags_(flags), preferTemp_(preferTemp),
      settings_(settings ? std::move(settings) : makeRegistrySettingsSource()), sink_(std::move(sink)),
      configuredVerbosity_(verbosity) {
    if (sink_) {
        sinkStream_ = std::make_unique<HelperOStream>(*sink_);
        sinkOutput_ =
            std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(*sinkStream_), kDecoratedLine);
    }
    readCoreSettings();
    accumulatedTicks_ = 0;
    startTicks_ = tickCount();
    running_ = true;
}

LoggerCore::~LoggerCore() = default;

ModuleEntry& LoggerCore::getModule(const std::string& name) {
    LastErrorKeeper lastError; // reading the settings makes registry calls
    CriticalSectionGuard guard(lock());
    if (auto found = modules_.find(name); found != modules_.end()) {
        return *found->second;
    }
    ModuleConfiguration settings;
    SettingsNotes notes;
    if (ended()) {
        settings.verbosity = -1;
    } else {
        settings = readModuleSettings(name, notes);
    }
    auto entry = std::make_unique<ModuleEntry>(*this, name, settings.verbosity, std::move(settings.outputs));
    // emplace keeps an entry that configuring this one may have created meanwhile.
    ModuleEntry& module = *modules_.emplace(name, std::move(entry)).first->second;
    reportSettings(module, notes);
    return module;
}

void LoggerCore::reportSettings(ModuleEntry& module, const SettingsNotes& notes) {
    if (module.verbosity() < kWarn) {
        return;
    }
    try {
        for (const std::string& note : notes) {
            dispatch(module, kWarn, __FILE__, __LINE__, std::string(), "Logger settings: " + note);
        }
    } catch (...) {
        // A failing output costs these records; the module is there all the same.
    }
}

void LoggerCore::reportCoreSettings() {
    CriticalSectionGuard guard(lock());
    if (!coreNotes_.empty()) {
        reportSettings(getModule(name_), coreNotes_);
        coreNotes_.clear();
    }
}

void LoggerCore::dispatch(ModuleEntry& module, Level level, const char* source, std::int32_t line,
                          const std::string& instanceId, const std::string& text) {
    if (!isValidLevel(level)) {
        return;
    }
    LastErrorKeeper lastError;
    CriticalSectionGuard guard(lock());
    if (ended()) {
        return;
    }
    const std::shared_ptr<MultiOutput> outputs = module.outputsFor(level);
    if (outputs->empty()) {
        return;
    }
    const std::string threadName = currentThreadName();
    const std::uint32_t threadId = GetCurrentThreadId();
    outputs->output(elapsedMs(), level, shortenSource(source), line, module.name(), instanceId, threadId,
                    threadName, text);
}

std::uint32_t LoggerCore::elapsedMs() const {
    const std::int64_t frequency = tickFrequency();
    const std::int64_t ticks = running_ ? accumulatedTicks_ + (tickCount() - startTicks_) : accumulatedTicks_;
    // Split so that ticks x 1000 cannot overflow with a fast counter.
    const std::int64_t ms = ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
    return static_cast<std::uint32_t>(ms);
}

Output& LoggerCore::own(std::unique_ptr<Output> output) {
    CriticalSectionGuard guard(lock());
    ownedOutputs_.push_back(std::move(output));
    return *ownedOutputs_.back();
}

void LoggerCore::addOutput(const std::string& moduleName, Output& output, Level level) {
    CriticalSectionGuard guard(lock());
    getModule(moduleName).addOutput(output, level);
}

void LoggerCore::setModuleOutputs(const std::string& moduleName, Level verbosity, OutputList outputs) {
    CriticalSectionGuard guard(lock());
    getModule(moduleName).setOutputs(verbosity, std::move(outputs));
}

void LoggerCore::shutDown() {
    CriticalSectionGuard guard(lock());
    ended_.store(true, std::memory_order_release);
    for (auto& [name, module] : modules_) {
        module->setOutputs(-1, OutputList());
    }
    ownedOutputs_.clear();
    outputsByName_.clear();
    fileOutputs_.clear();
    defaultLogFile_.reset();
    androidLog_.reset();
    debugger_.reset();
    debugStream_.reset();
    standardOutput_.reset();
    standardError_.reset();
    sinkOutput_.reset();
    sinkStream_.reset();
    sink_.reset();
}

} // namespace qv::sys::Logger
