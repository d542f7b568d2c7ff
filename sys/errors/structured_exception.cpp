// Structured exceptions under GCC, which has neither __try nor a runtime
// translator hook: one process-wide vectored exception handler does both
// jobs. For a hardware fault on a thread that installed the translator it
// logs, dumps, and then resumes the thread in a trampoline that looks like a
// call made by the faulting instruction, which throws the C++ exception; the
// unwinder then leaves through the faulting frame, running its destructors.
// For dumpHere it writes the dump of its own raised exception and resumes.

#include "sys/errors/structured_exception.h"

#include <cstdio>
#include <mutex>

#include <windows.h>

#include "sys/errors/error_handlers.h"
#include "sys/errors/quiet_log.h"
#include "sys/errors/structured_exception_names.h"

namespace qv::sys {

namespace {

class StructuredException : public SystemException {
public:
    explicit StructuredException(std::uint32_t code)
        : code_(code), description_(structuredExceptionDescription(code)) {}
    const char* what() const override { return description_.c_str(); }

private:
    std::uint32_t code_;
    std::string description_;
};

// Only faults of the running code are translated. Breakpoints, single steps
// and invalid handles belong to debuggers; guard pages to whoever set them;
// the dispatcher's own errors cannot be resumed; a stack overflow leaves no
// stack to unwind on. Everything else (C++ throws of GCC among them, the
// debugger's thread names, OutputDebugString) passes untouched.
bool isTranslatedFault(DWORD code) {
    switch (code) {
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
        return true;
    default:
        return code >= EXCEPTION_ARRAY_BOUNDS_EXCEEDED && code <= EXCEPTION_INT_OVERFLOW;
    }
}

// The code dumpHere raises; acted on only while the raising thread asks for it.
constexpr DWORD kDumpHereCode = 1;

// Log readers know the record of a translation by this line number.
constexpr int kTranslatedLine = 97;

struct DumpRequest {
    const Logger::Logged* logged;
};

// Thread-local slots of the Win32 TLS: read inside the handler without
// allocating, which the runtime's emulated thread_local could do there.
struct HandlerState {
    DWORD translatorSlot = TLS_OUT_OF_INDEXES;  // non-null: translate the next fault
    DWORD pendingCodeSlot = TLS_OUT_OF_INDEXES; // the code for the trampoline to throw
    DWORD dumpRequestSlot = TLS_OUT_OF_INDEXES; // DumpRequest* while dumpHere raises
    bool ready = false;
};

HandlerState g_state;
std::once_flag g_stateOnce;

} // namespace
} // namespace qv::sys

extern "C" {
void qvFaultTrampolineAligned();
void qvFaultTrampolineMisaligned();

// Runs in place of the faulting instruction, on the faulting thread's stack.
[[noreturn]] __attribute__((used)) void qvThrowTranslatedFault() {
    const auto code = static_cast<std::uint32_t>(
        reinterpret_cast<std::uintptr_t>(TlsGetValue(qv::sys::g_state.pendingCodeSlot)));
    throw qv::sys::StructuredException(code);
}
}

// Entered with Rsp as it was at the fault and Rax = faulting Rip + 1. Pushing
// Rax makes the faulting instruction this frame's caller (the + 1 keeps the
// address inside that instruction, as unwinders look up return address - 1).
// The frame must be 16-byte aligned at the call, so there is one trampoline
// for each alignment the fault can leave: a frameless leaf function faults
// with Rsp 8 off the alignment every other function keeps. The nop keeps the
// return address of the call inside the trampoline's unwind range.
asm(R"(
    .text
    .p2align 4
    .globl qvFaultTrampolineAligned
    .def qvFaultTrampolineAligned; .scl 2; .type 32; .endef
    .seh_proc qvFaultTrampolineAligned
qvFaultTrampolineAligned:
    pushq %rax
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    call qvThrowTranslatedFault
    nop
    .seh_endproc

    .p2align 4
    .globl qvFaultTrampolineMisaligned
    .def qvFaultTrampolineMisaligned; .scl 2; .type 32; .endef
    .seh_proc qvFaultTrampolineMisaligned
qvFaultTrampolineMisaligned:
    pushq %rax
    subq $32, %rsp
    .seh_stackalloc 32
    .seh_endprologue
    call qvThrowTranslatedFault
    nop
    .seh_endproc
)");

namespace qv::sys {

namespace {

LONG translate(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    TlsSetValue(g_state.translatorSlot, nullptr); // one translation per installation
    TlsSetValue(g_state.pendingCodeSlot, reinterpret_cast<void*>(static_cast<std::uintptr_t>(code)));
    if (const Logger::Logged* logged = defaultErrorIdentity()) {
        QV_LOG_QUIETLY_AT(logged, Logger::kError, kTranslatedLine,
                          "Structured exception: " << structuredExceptionDescription(code));
        writeCrashDump(logged, pointers);
    }
    CONTEXT& context = *pointers->ContextRecord;
    context.Rax = context.Rip + 1;
    context.Rip = context.Rsp % 16 == 0 ? reinterpret_cast<DWORD64>(&qvFaultTrampolineAligned)
                                        : reinterpret_cast<DWORD64>(&qvFaultTrampolineMisaligned);
    return EXCEPTION_CONTINUE_EXECUTION;
}

LONG CALLBACK vectoredHandler(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const bool fault =
        isTranslatedFault(record.ExceptionCode) && (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0;
    if (!fault && record.ExceptionCode != kDumpHereCode) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    // TlsGetValue clears the last error, which the thread may still want.
    const DWORD lastError = GetLastError();
    if (fault && TlsGetValue(g_state.translatorSlot) != nullptr) {
        return translate(pointers);
    }
    if (!fault) {
        if (auto* request = static_cast<DumpRequest*>(TlsGetValue(g_state.dumpRequestSlot))) {
            TlsSetValue(g_state.dumpRequestSlot, nullptr);
            writeCrashDump(request->logged, pointers);
            SetLastError(lastError);
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    SetLastError(lastError);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Allocates the slots and registers the handler, once per process; false
// when the process has no TLS slot left (nothing is translated or dumped).
bool handlerReady() {
    std::call_once(g_stateOnce, [] {
        g_state.translatorSlot = TlsAlloc();
        g_state.pendingCodeSlot = TlsAlloc();
        g_state.dumpRequestSlot = TlsAlloc();
        if (g_state.translatorSlot == TLS_OUT_OF_INDEXES || g_state.pendingCodeSlot == TLS_OUT_OF_INDEXES ||
            g_state.dumpRequestSlot == TLS_OUT_OF_INDEXES) {
            return;
        }
        g_state.ready = AddVectoredExceptionHandler(1, &vectoredHandler) != nullptr;
    });
    return g_state.ready;
}

} // namespace

std::string structuredExceptionDescription(std::uint32_t code) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
    return std::string("Structured Exception ") + hex + " " + structuredExceptionName(code);
}

void installStructuredExceptionTranslator() {
    if (handlerReady()) {
        TlsSetValue(g_state.translatorSlot, reinterpret_cast<void*>(1));
    }
}

void removeStructuredExceptionTranslator() {
    if (handlerReady()) {
        TlsSetValue(g_state.translatorSlot, nullptr);
    }
}

void dumpHere(const Logger::Logged* logged) {
    if (!handlerReady()) {
        return;
    }
    DumpRequest request{logged};
    TlsSetValue(g_state.dumpRequestSlot, &request);
    RaiseException(kDumpHereCode, 0, 0, nullptr);
    TlsSetValue(g_state.dumpRequestSlot, nullptr);
}

} // namespace qv::sys
