#include "sys/concurrency/flag.h"

#include <atomic>
#include <cstdio>

#include <windows.h>

#include <accctrl.h>

#include "sys/errors/exception.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys {

namespace {

class SystemEventCreator : public IEventCreator {
public:
    void* createEvent(bool manualReset, bool initiallySet, const char* name, std::uint32_t& error) override {
        SetLastError(ERROR_SUCCESS);
        HANDLE handle = CreateEventA(nullptr, manualReset, initiallySet, name);
        error = GetLastError();
        return handle;
    }
};

std::atomic<long> g_eventSequence{1};
std::atomic<bool> g_globalRefusalLogged{false};

std::string hexAddress(const void* address) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
    return text;
}

// What Windows answers a process that lacks the create-global-objects privilege.
bool isGlobalNamespaceRefusal(std::uint32_t error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD;
}

} // namespace

std::string generatedEventName() {
    const long sequence = g_eventSequence.fetch_add(1);
    return "QvEv" + std::to_string(GetCurrentProcessId()) + std::to_string(GetCurrentThreadId()) +
           hexAddress(&g_eventSequence) + "_" + std::to_string(sequence);
}

Flag::State::State(bool initiallySet, bool manualReset, const std::string& name, bool autoName,
                   IEventCreator* creator)
    : Logged("Flag::State", ""), Waitable::State(nullptr), WinSecurableObject(SE_KERNEL_OBJECT) {
    SystemEventCreator systemCreator;
    if (creator == nullptr) {
        creator = &systemCreator;
    }
    const bool generated = name.empty() && autoName;
    std::uint32_t error = 0;
    for (;;) {
        const std::string baseName = generated ? generatedEventName() : name;
        if (baseName.empty()) {
            handle_ = creator->createEvent(manualReset, initiallySet, nullptr, error);
            break;
        }
        kernelName_ = "Global\\" + baseName;
        handle_ = creator->createEvent(manualReset, initiallySet, kernelName_.c_str(), error);
        if (handle_ == nullptr && isGlobalNamespaceRefusal(error)) {
            // Nothing outside this process opens these events by name, so a
            // session-local one serves as well; the run must not fail for it.
            if (!g_globalRefusalLogged.exchange(true)) {
                QV_LOG(3) << "No right to create global events (win32 " << error
                          << "); using session-local names";
            }
            kernelName_ = "Local\\" + baseName;
            handle_ = creator->createEvent(manualReset, initiallySet, kernelName_.c_str(), error);
        }
        if (handle_ == nullptr || !generated || error != ERROR_ALREADY_EXISTS) {
            break;
        }
        // Another process made the same name (its ids run together into ours):
        // sharing its event would steal its wake-ups. The next number is ours.
        win32::UniqueHandle taken(handle_);
        handle_ = nullptr;
    }
    if (handle_ == nullptr) {
        throw SystemError(10, SystemErrorCode(error));
    }
    // An event of the same name may already exist in the set state.
    if (!initiallySet) {
        ResetEvent(handle_);
    }
}

Flag::State::~State() {
    win32::UniqueHandle closing(handle_); // closes it, keeping the caller's last error
}

Flag::Flag(bool initiallySet, bool manualReset) : Flag(new State(initiallySet, manualReset, "", true)) {}

Flag::~Flag() {
    delete state_;
}

void Flag::set() {
    if (!SetEvent(state_->handle())) {
        throw SystemError(10, SystemErrorCode(GetLastError()));
    }
}

void Flag::reset() {
    if (!ResetEvent(state_->handle())) {
        throw SystemError(10, SystemErrorCode(GetLastError()));
    }
}

bool Flag::setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) {
    return ownState().setAccess(trustee, allow, rights);
}

} // namespace qv::sys
