#include "sys/logger/logger.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <ctime>

#include "sys/logger/banner.h"
#include "sys/logger/logger_core.h"

namespace qv::sys::Logger {

namespace {
std::atomic<LoggerCore*> currentCore{nullptr};
// A core that has shut down at process exit; kept (never freed) because
// identities that outlive it still point at its modules.
LoggerCore* endedCore = nullptr;

constexpr std::int32_t kBannerLine = 1105;
constexpr std::int32_t kPrivateFileOpenLine = 1404;
constexpr std::int32_t kPrivateFileLine = 1407;
constexpr std::int32_t kPrivateBannerLine = 1436;

// A process-wide slot owning the core; destroyed at exit like any other
// function-local static, i.e. in reverse order of creation.
struct CoreHolder : private boost::noncopyable {
    std::unique_ptr<LoggerCore> core;

    ~CoreHolder() {
        if (!core) {
            return;
        }
        CriticalSectionGuard guard(LoggerCore::lock());
        currentCore.store(nullptr, std::memory_order_release);
        core->shutDown();
        endedCore = core.release();
    }
};

void writeBanner(LoggerCore& core) {
    Logged banner(core.name(), std::string());
    if (banner.isLogging(kAlways)) {
        // Ended by the destructor: a failing output must not make start-up fail.
        LogRecord record(banner, kAlways, __FILE__, kBannerLine);
        record << startupBanner(std::time(nullptr));
    }
}

// Under the logger lock, with no core yet.
LoggerCore& createCore(CoreHolder& holder, const std::string& name, Level verbosity, std::uint32_t flags,
                       bool preferTemp, std::unique_ptr<LineSink> sink) {
    holder.core = std::make_unique<LoggerCore>(name, verbosity, flags, preferTemp, std::move(sink));
    currentCore.store(holder.core.get(), std::memory_order_release);
    if ((flags & 0x1) != 0) {
        writeBanner(*holder.core);
    }
    holder.core->reportCoreSettings();
    return *holder.core;
}

// File name of the running executable without directory and extension.
std::string executableName() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of("\\/");
    std::string file = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

DWORD threadNameSlot() {
    static const DWORD slot = TlsAlloc();
    return slot;
}
} // namespace

void initialise(const std::string& name, Level verbosity, std::uint32_t flags, bool preferTemp,
                std::unique_ptr<LineSink> sink) {
    CriticalSectionGuard guard(LoggerCore::lock());
    if (currentCore.load(std::memory_order_acquire) != nullptr || endedCore != nullptr) {
        return; // `sink` goes with this call
    }
    static CoreHolder startupSlot;
    createCore(startupSlot, name, verbosity, flags, preferTemp, std::move(sink));
}

LoggerCore& core() {
    if (LoggerCore* existing = currentCore.load(std::memory_order_acquire)) {
        return *existing;
    }
    CriticalSectionGuard guard(LoggerCore::lock());
    if (LoggerCore* existing = currentCore.load(std::memory_order_acquire)) {
        return *existing;
    }
    if (endedCore != nullptr) {
        return *endedCore;
    }
    static CoreHolder defaultSlot;
    return createCore(defaultSlot, executableName(), kInfo, 0x1, false, nullptr);
}

std::string currentThreadName() {
    const DWORD slot = threadNameSlot();
    if (slot == TLS_OUT_OF_INDEXES) {
        return std::string();
    }
    const auto* name = static_cast<const char*>(TlsGetValue(slot));
    return name == nullptr ? std::string() : std::string(name);
}

void setCurrentThreadName(const char* name) {
    const DWORD slot = threadNameSlot();
    if (slot == TLS_OUT_OF_INDEXES) {
        return;
    }
    char* copy = nullptr;
    if (name != nullptr) {
        const std::size_t length = std::strlen(name);
        // On failure the thread is left unnamed rather than showing a stale name.
        copy = static_cast<char*>(LocalAlloc(LPTR, length + 1));
        if (copy != nullptr) {
            std::memcpy(copy, name, length);
        }
    }
    auto* previous = static_cast<char*>(TlsGetValue(slot));
    if (!TlsSetValue(slot, copy)) {
        LocalFree(copy);
        return;
    }
    if (previous != nullptr) {
        LocalFree(previous);
    }
}

Logged::Logged() : module_(&core().getModule(name())) {}

Logged::Logged(const std::string& moduleName, const std::string& instanceId, const std::string& fileName,
               std::uint64_t maxSize, std::uint8_t maxFileCount)
    : module_(nullptr) {
    setName(moduleName);
    if (!instanceId.empty()) {
        setInstanceId(instanceId);
    }
    LoggerCore& logger = core();
    module_ = &logger.getModule(moduleName);
    if (!fileName.empty()) {
        openPrivateFile(fileName, maxSize, maxFileCount);
    }
}

void Logged::openPrivateFile(const std::string& fileName, std::uint64_t maxSize, std::uint8_t maxFileCount) {
    LoggerCore& logger = module_->core();
    // Ended by their destructors: a failing output costs these records, not the identity.
    CriticalSectionGuard guard(LoggerCore::lock());
    const std::string path = logger.directory() + fileName + ".log";
    if (logger.hasNamedOutput(module_->name())) {
        if (isLogging(kDebug)) {
            LogRecord(*this, kDebug, __FILE__, kPrivateFileOpenLine)
                << "Private log file open already: " << path;
        }
        return;
    }
    if (isLogging(kDebug)) {
        LogRecord(*this, kDebug, __FILE__, kPrivateFileLine) << "Private log file: " << path;
    }
    logger.openPrivateFile(*module_, path, maxSize, maxFileCount);
    if (isLogging(kAlways)) {
        LogRecord(*this, kAlways, __FILE__, kPrivateBannerLine)
            << buildBanner() << "Private log started at " << ctimeText(std::time(nullptr));
    }
}

Logged::~Logged() = default;

bool Logged::isLogging(Level level) const {
    return isValidLevel(level) && level <= module_->verbosity();
}

LogRecord::LogRecord(const Logged& logged, Level level, const char* source, std::int32_t line)
    : logged_(logged), level_(level), source_(source), line_(line) {}

LogRecord::~LogRecord() {
    if (ended_) {
        return;
    }
    try {
        end();
    } catch (...) {
        // A destructor cannot pass it on; QV_LOG and explicit end() do.
    }
}

void LogRecord::end() {
    if (ended_) {
        return;
    }
    ended_ = true;
    ModuleEntry& module = logged_.module();
    module.core().dispatch(module, level_, source_, line_, logged_.instanceId(), text_.str());
}

} // namespace qv::sys::Logger
