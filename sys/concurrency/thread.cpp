#include "sys/concurrency/thread.h"

#include <cstdlib>

#include <windows.h>

#include "sys/concurrency/waitable.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/exception.h"
#include "sys/errors/structured_exception.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys {

namespace {

enum ThreadState : std::uint32_t { kNotCreated = 0, kCreated = 1, kStarted = 2 };

constexpr DWORD kThreadNameException = 0x406D1388;

// Log readers know these records by their line numbers, which stay fixed
// as the source moves.
constexpr std::int32_t kStartedLine = 81;
constexpr std::int32_t kEscapedLine = 87;
constexpr std::int32_t kCreatedLine = 129;

// A debugger names threads from this exception; without one it must not
// reach the unhandled-exception path, so one process-wide handler swallows it.
LONG CALLBACK swallowThreadName(EXCEPTION_POINTERS* pointers) {
    return pointers->ExceptionRecord->ExceptionCode == kThreadNameException ? EXCEPTION_CONTINUE_EXECUTION
                                                                            : EXCEPTION_CONTINUE_SEARCH;
}

void nameForDebugger(const std::string& name, DWORD threadId) {
    static const PVOID handler = AddVectoredExceptionHandler(1, swallowThreadName);
    if (handler == nullptr) {
        return; // nothing would catch it
    }
    Sleep(0);
    struct {
        DWORD type;
        LPCSTR name;
        DWORD threadId;
        DWORD flags;
    } info = {0x1000, name.c_str(), threadId, 0};
    RaiseException(kThreadNameException, 0, sizeof info / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));

    // Windows 10 keeps a name that debuggers and crash dumps show without the exception.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
    if (setDescription != nullptr) {
        setDescription(GetCurrentThread(), std::wstring(name.begin(), name.end()).c_str());
    }
}

} // namespace

struct Thread::Record {
    std::uint32_t state = kNotCreated;
    win32::UniqueHandle handle;
    DWORD threadId = 0;
    std::string name;
    bool impersonating = false;
};

struct ThreadEntry {
    static DWORD WINAPI entry(void* parameter);
};

DWORD WINAPI ThreadEntry::entry(void* parameter) {
    Thread& thread = *static_cast<Thread*>(parameter);
    installStructuredExceptionTranslator();
    try {
        const std::string& name = thread.record_->name;
        Logger::setCurrentThreadName(name.c_str());
        nameForDebugger(name, GetCurrentThreadId());
        QV_LOG_RECORD(thread, 6, kStartedLine) << "Thread started: " << name;
        thread.run();
    } catch (...) {
        if (claimFatal()) {
            // A translated fault was dumped at the fault by the translator
            // (once the error handlers are installed); a second dump from
            // here would only show this frame and could replace that one.
            bool dumpedAtFault = false;
            try {
                throw;
            } catch (const SystemException&) {
                dumpedAtFault = defaultErrorIdentity() != nullptr;
            } catch (...) {
            }
            if (!dumpedAtFault) {
                dumpHere(&thread);
            }
        }
        try {
            QV_LOG_RECORD(thread, 1, kEscapedLine)
                << "Exception escaped the thread body: " << currentExceptionText();
        } catch (...) {
            // The process ends either way.
        }
        std::abort();
    }
    try {
        removeStructuredExceptionTranslator();
        Logger::setCurrentThreadName(nullptr);
    } catch (...) {
        std::abort();
    }
    return 0;
}

Thread::Thread() : record_(new Record) {
    record_->name = name() + ":" + instanceId();
    if (!create()) {
        throw SystemError(10, SystemErrorCode(GetLastError()));
    }
}

// The record's handle closes with it; the thread is not waited for.
Thread::~Thread() = default;

bool Thread::create() {
    if (record_->state != kNotCreated) {
        return record_->state == kCreated;
    }
    record_->handle.reset(
        CreateThread(nullptr, 0, &ThreadEntry::entry, this, CREATE_SUSPENDED, &record_->threadId));
    if (!record_->handle) {
        return false;
    }
    const DWORD createError = GetLastError();
    QV_LOG_AT(6, kCreatedLine) << "Thread created: " << record_->name << " id " << record_->threadId;

    // A thread does not inherit its creator's impersonation; give it a copy.
    // Decided afresh for each creation: a thread started again after a join
    // is a new thread, whose creator may no longer impersonate.
    win32::UniqueHandle token;
    win32::UniqueHandle duplicate;
    HANDLE handle = record_->handle.get();
    record_->impersonating = OpenThreadToken(GetCurrentThread(), MAXIMUM_ALLOWED, TRUE, token.put()) &&
                             DuplicateToken(token.get(), SecurityImpersonation, duplicate.put()) &&
                             SetThreadToken(&handle, duplicate.get());
    SetLastError(createError);
    record_->state = kCreated;
    return true;
}

bool Thread::start() {
    if (record_->state == kNotCreated && !create()) {
        return false;
    }
    if (record_->state == kCreated) {
        if (ResumeThread(record_->handle.get()) == static_cast<DWORD>(-1)) {
            return false;
        }
        record_->state = kStarted;
    }
    return record_->state == kStarted && WaitForSingleObject(record_->handle.get(), 0) == WAIT_TIMEOUT;
}

bool Thread::join(std::uint32_t timeout) {
    if (record_->state != kStarted) {
        return true;
    }
    // One wait: a thread that has ended answers at once whatever the time-out.
    const std::int64_t microseconds = timeout == kJoinForever ? kWaitForever : timeout;
    if (WaitForSingleObject(record_->handle.get(), waitMilliseconds(microseconds)) == WAIT_TIMEOUT) {
        return false;
    }
    record_->handle.reset();
    record_->state = kNotCreated;
    return true;
}

std::uint32_t Thread::threadId() const {
    return record_->threadId;
}

const std::string& Thread::threadName() const {
    return record_->name;
}

bool Thread::isImpersonating() const {
    return record_->impersonating;
}

} // namespace qv::sys
