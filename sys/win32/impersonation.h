#pragma once

// Acting as the user logged on at the console, whose registry hive holds
// settings although the process may run as another account.
//
// Impersonation belongs to the calling thread: destroy an impersonator on the
// thread that created it, and keep it alive exactly as long as the code that
// must run as the user.

#include <cstdint>
#include <memory>

#include <boost/noncopyable.hpp>

namespace qv::sys::win32 {

// An active (or inert) impersonation; ends with its destruction.
class UserImpersonator : private boost::noncopyable {
public:
    virtual ~UserImpersonator() = default;
    // Whether the thread acts as an account other than the process's own:
    // what that account's hive says is then not the process owner's choice.
    virtual bool actsAsAnotherAccount() const { return false; }
};

class UserImpersonatorFactory : private boost::noncopyable {
public:
    virtual ~UserImpersonatorFactory() = default;
    virtual std::unique_ptr<UserImpersonator> create() = 0;
};

// The session and token calls behind impersonation. The system's set makes
// the Win32 calls; tests hand in their own to reach failures that Wine never
// produces. Handles are opaque here to keep <windows.h> out of this header.
class SessionCalls {
public:
    using Handle = void*;

    virtual ~SessionCalls() = default;
    virtual std::uint32_t activeConsoleSessionId() = 0;
    // The primary token of the session's user.
    virtual bool queryUserToken(std::uint32_t sessionId, Handle& token) = 0;
    // An impersonation token with the same rights.
    virtual bool duplicateToken(Handle token, Handle& duplicate) = 0;
    virtual bool impersonateLoggedOnUser(Handle token) = 0;
    // Whether the token's user is the account the process runs as; false
    // when that cannot be found out.
    virtual bool isProcessAccount(Handle token) = 0;
    virtual void revertToSelf() = 0;
    virtual void closeHandle(Handle handle) = 0;
};

// The Win32 calls; lives for the whole process.
SessionCalls& systemSessionCalls();

// Inert unless its factory switched the thread to the session user's token;
// then it switches back at destruction.
class LoggedOnUserImpersonator : public UserImpersonator {
public:
    ~LoggedOnUserImpersonator() override;

    bool impersonating() const { return impersonating_; }
    bool actsAsAnotherAccount() const override { return anotherAccount_; }

private:
    friend class LoggedOnUserImpersonatorFactory;
    explicit LoggedOnUserImpersonator(SessionCalls& calls) : calls_(calls) {}

    SessionCalls& calls_;
    bool impersonating_ = false;
    bool anotherAccount_ = false;
};

class LoggedOnUserImpersonatorFactory : public UserImpersonatorFactory {
public:
    explicit LoggedOnUserImpersonatorFactory(SessionCalls& calls = systemSessionCalls()) : calls_(calls) {}

    // Impersonates the console session's user when there is one and its token
    // can be duplicated; otherwise the result is inert. Throws
    // MessageException (kMessageImpersonation) when the thread cannot be
    // switched to a token that was obtained.
    std::unique_ptr<UserImpersonator> create() override;

private:
    SessionCalls& calls_;
};

// factory->create(), or the logged-on user's impersonator without a factory.
std::unique_ptr<UserImpersonator> impersonate(UserImpersonatorFactory* factory);

// WTSGetActiveConsoleSessionId where kernel32 exports it, else 0.
std::uint32_t activeConsoleSessionId();
// WTSQueryUserToken where wtsapi32 exports it, else false. The caller owns the token.
bool queryUserToken(std::uint32_t sessionId, void*& token);

} // namespace qv::sys::win32
