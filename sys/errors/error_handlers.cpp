#include "sys/errors/error_handlers.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <mutex>

#include <windows.h>

#include "sys/errors/quiet_log.h"
#include "sys/errors/runtime_abort.h"
#include "sys/errors/structured_exception.h"

namespace qv::sys {

namespace {

// Log readers know these records by their line numbers, which stay fixed
// as the source moves.
constexpr int kTerminateLine = 33;
constexpr int kAbortSignalLine = 61;
constexpr int kFatalErrorLine = 86;
constexpr int kInvalidParameterLine = 126;
constexpr int kPureCallLine = 142;

std::atomic<bool> g_fatalClaimed{false};
// What setAbortBehaviour last asked for, kept where the runtime has no setting.
std::atomic<unsigned int> g_requestedAbortBehaviour{0};
// Set by installErrorHandlers: before it, the runtime hooks only end the process.
std::atomic<const Logger::Logged*> g_defaultIdentity{nullptr};
// The handler SIGABRT had before ours; kept, as the runtime hands it back to no one.
std::atomic<void (*)(int)> g_previousAbortHandler{nullptr};

void terminateHandler() {
    if (claimFatal()) {
        const Logger::Logged* logged = defaultErrorIdentity();
        QV_LOG_QUIETLY_AT(logged, Logger::kFatal, kTerminateLine,
                          "Terminate handler called: the process ends");
        dumpHere(logged);
    }
    std::abort();
}

// abort() goes on to end the process with exit status 3 when this returns.
void abortSignalHandler(int) {
    if (claimFatal()) {
        const Logger::Logged* logged = defaultErrorIdentity();
        QV_LOG_QUIETLY_AT(logged, Logger::kFatal, kAbortSignalLine, "Abort signal: the process ends");
        dumpHere(logged);
    }
}

[[noreturn]] void runtimeErrorHandler(const char* what, int line) {
    const Logger::Logged* logged = defaultErrorIdentity();
    if (logged != nullptr && claimFatal()) {
        QV_LOG_QUIETLY_AT(logged, Logger::kFatal, line, what << ": the process ends");
        dumpHere(logged);
    }
    if (IsDebuggerPresent()) {
        DebugBreak();
    }
    std::abort();
}

} // namespace

unsigned int requestedAbortBehaviour() {
    return g_requestedAbortBehaviour.load();
}

bool setAbortBehaviour(unsigned int flags, unsigned int mask) {
    unsigned int requested = g_requestedAbortBehaviour.load();
    while (!g_requestedAbortBehaviour.compare_exchange_weak(requested, (requested & ~mask) | (flags & mask))) {
    }
    using SetAbortBehavior = unsigned int(__cdecl*)(unsigned int, unsigned int);
    // Missing from the msvcrt import library, and from some msvcrt builds.
    const HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    const auto set = runtime != nullptr ? reinterpret_cast<SetAbortBehavior>(reinterpret_cast<void (*)()>(
                                              GetProcAddress(runtime, "_set_abort_behavior")))
                                        : nullptr;
    if (set == nullptr) {
        return false;
    }
    set(flags, mask);
    return true;
}

void installErrorHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Lives as long as the process: the handlers may run during exit.
        g_defaultIdentity = new Logger::Logged("ErrorHandler", "");
    });
    setAbortBehaviour(0, kAbortWriteMessage | kAbortReportFault);
    _set_invalid_parameter_handler(&invalidParameterHandler);
    _set_purecall_handler(&pureCallHandler);
    _set_error_mode(_OUT_TO_STDERR);
    // C++17 has no unexpected handler: a throw that breaks a noexcept
    // promise goes straight to terminate, which this handler covers.
    std::set_terminate(&terminateHandler);
    const auto previous = std::signal(SIGABRT, &abortSignalHandler);
    if (previous != SIG_ERR && previous != &abortSignalHandler) {
        g_previousAbortHandler = previous;
    }
    installStructuredExceptionTranslator();
}

const Logger::Logged* defaultErrorIdentity() {
    return g_defaultIdentity.load();
}

bool claimFatal() {
    return !g_fatalClaimed.exchange(true);
}

void fatalError(const std::string& text, const Logger::Logged* logged) {
    if (claimFatal()) {
        if (logged == nullptr) {
            logged = defaultErrorIdentity();
        }
        // Outside a catch block there is nothing to describe, and a rethrow
        // would terminate before the record is written.
        QV_LOG_QUIETLY_AT(logged, Logger::kFatal, kFatalErrorLine,
                          "Fatal error in " << text << ": "
                                            << (std::current_exception() ? currentExceptionText()
                                                                         : std::string("no exception")));
    }
    std::abort();
}

void invalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, std::uintptr_t) {
    runtimeErrorHandler("Invalid parameter passed to a runtime function", kInvalidParameterLine);
}

void pureCallHandler() {
    runtimeErrorHandler("Pure virtual function call", kPureCallLine);
}

} // namespace qv::sys

// GCC's own target of a pure virtual call: the same handling as the runtime's.
extern "C" void __cxa_pure_virtual() {
    qv::sys::pureCallHandler();
}
