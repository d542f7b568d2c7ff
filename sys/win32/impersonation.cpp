#include "sys/win32/impersonation.h"

#include <windows.h>

#include "sys/errors/exception.h"
#include "sys/win32/account.h"
#include "sys/win32/library.h"

namespace qv::sys::win32 {

namespace {

// The function addresses looked up below are kept for the life of the
// process, so the modules stay loaded as long: a user-hive read on a late
// fatal path, after static destructors have run, must not call into a
// library that is gone. The objects are never destroyed on purpose.
const Library& kernel32() {
    static const Library& library = *new Library("kernel32.dll");
    return library;
}

const Library& wtsapi32() {
    static const Library& library = *new Library("wtsapi32.dll");
    return library;
}

bool isHandle(SessionCalls::Handle handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Owns one token handle and closes it through the calls that produced it.
class Token : private boost::noncopyable {
public:
    explicit Token(SessionCalls& calls) : calls_(calls) {}
    ~Token() {
        if (isHandle(handle_)) {
            calls_.closeHandle(handle_);
        }
    }
    SessionCalls::Handle& out() { return handle_; }
    SessionCalls::Handle get() const { return handle_; }

private:
    SessionCalls& calls_;
    SessionCalls::Handle handle_ = nullptr;
};

class SystemSessionCalls : public SessionCalls {
public:
    std::uint32_t activeConsoleSessionId() override { return win32::activeConsoleSessionId(); }

    bool queryUserToken(std::uint32_t sessionId, Handle& token) override {
        return win32::queryUserToken(sessionId, token);
    }

    bool duplicateToken(Handle token, Handle& duplicate) override {
        return DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenImpersonation,
                                &duplicate) != FALSE;
    }

    bool impersonateLoggedOnUser(Handle token) override { return ImpersonateLoggedOnUser(token) != FALSE; }

    bool isProcessAccount(Handle token) override {
        const Sid user = tokenUser(token);
        return !user.empty() && user == processAccount();
    }

    void revertToSelf() override { RevertToSelf(); }

    void closeHandle(Handle handle) override { CloseHandle(handle); }
};

} // namespace

SessionCalls& systemSessionCalls() {
    static SystemSessionCalls calls;
    return calls;
}

LoggedOnUserImpersonator::~LoggedOnUserImpersonator() {
    if (impersonating_) {
        calls_.revertToSelf();
    }
}

std::unique_ptr<UserImpersonator> LoggedOnUserImpersonatorFactory::create() {
    std::unique_ptr<LoggedOnUserImpersonator> impersonator(new LoggedOnUserImpersonator(calls_));
    Token userToken(calls_);
    if (!calls_.queryUserToken(calls_.activeConsoleSessionId(), userToken.out())) {
        return impersonator; // no console user (or no terminal services): act as ourselves
    }
    Token duplicate(calls_);
    if (!calls_.duplicateToken(userToken.get(), duplicate.out())) {
        return impersonator;
    }
    // Asked before the switch: acting as the user, the process's own token may be out of reach.
    const bool anotherAccount = !calls_.isProcessAccount(userToken.get());
    if (!calls_.impersonateLoggedOnUser(duplicate.get())) {
        throw MessageException(MessageId(kMessageImpersonation)); // both tokens close on the way out
    }
    impersonator->impersonating_ = true;
    impersonator->anotherAccount_ = anotherAccount;
    return impersonator;
}

std::unique_ptr<UserImpersonator> impersonate(UserImpersonatorFactory* factory) {
    if (factory != nullptr) {
        return factory->create();
    }
    LoggedOnUserImpersonatorFactory loggedOnUser;
    return loggedOnUser.create();
}

std::uint32_t activeConsoleSessionId() {
    // Looked up once; a missing export stays null.
    static auto* const call =
        reinterpret_cast<DWORD(WINAPI*)()>(kernel32().getProcAddress("WTSGetActiveConsoleSessionId"));
    return call != nullptr ? call() : 0;
}

bool queryUserToken(std::uint32_t sessionId, void*& token) {
    static auto* const call =
        reinterpret_cast<BOOL(WINAPI*)(ULONG, PHANDLE)>(wtsapi32().getProcAddress("WTSQueryUserToken"));
    return call != nullptr && call(sessionId, &token) != FALSE;
}

} // namespace qv::sys::win32
