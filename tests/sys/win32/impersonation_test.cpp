#include "sys/win32/impersonation.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "sys/errors/exception.h"

namespace qv::sys::win32 {
namespace {

using Handle = SessionCalls::Handle;
const auto kUser = reinterpret_cast<Handle>(0x100);
const auto kDuplicate = reinterpret_cast<Handle>(0x200);

// Fails the step named `failAt`; logs every call, closes included.
struct ScriptedCalls : SessionCalls {
    ScriptedCalls(std::string failAt, Handle userToken) : failAt(std::move(failAt)), userToken(userToken) {}
    std::uint32_t activeConsoleSessionId() override { return 7; }
    bool queryUserToken(std::uint32_t session, Handle& token) override {
        const bool ok = step("query" + std::to_string(session));
        token = ok ? userToken : nullptr;
        return ok;
    }
    bool duplicateToken(Handle token, Handle& duplicate) override {
        const bool ok = step(token == userToken ? "duplicate" : "duplicate(wrong token)");
        duplicate = ok ? kDuplicate : nullptr;
        return ok;
    }
    bool impersonateLoggedOnUser(Handle token) override {
        return step(token == kDuplicate ? "impersonate" : "?");
    }
    bool isProcessAccount(Handle token) override {
        return step(token == userToken ? "account" : "account(wrong token)");
    }
    void revertToSelf() override { step("revert"); }
    void closeHandle(Handle handle) override { step(handle == kUser ? "closeUser" : "closeDuplicate"); }
    bool step(const std::string& name) {
        log += name + " ";
        return name.compare(0, failAt.size(), failAt) != 0 || failAt.empty();
    }
    std::string failAt;
    Handle userToken;
    std::string log;
};

TEST(LoggedOnUserImpersonator, EveryPathClosesTheTokensItObtained) {
    struct Case {
        const char* failAt;
        Handle userToken;
        bool impersonating;
        bool anotherAccount;
        const char* log; // through the impersonator's destruction
    };
    const Case cases[] = {
        {"query", kUser, false, false, "query7 "},
        {"duplicate", kUser, false, false, "query7 duplicate closeUser "},
        {"duplicate", nullptr, false, false, "query7 duplicate "}, // invalid values are never closed
        {"duplicate", INVALID_HANDLE_VALUE, false, false, "query7 duplicate "},
        {"impersonate", kUser, false, false,
         "query7 duplicate account impersonate closeDuplicate closeUser "},
        {"", kUser, true, false, "query7 duplicate account impersonate closeDuplicate closeUser revert "},
        // A console user who is not the process's account (a service's case).
        {"account", kUser, true, true,
         "query7 duplicate account impersonate closeDuplicate closeUser revert "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        ScriptedCalls calls(c.failAt, c.userToken);
        try {
            auto impersonator = LoggedOnUserImpersonatorFactory(calls).create();
            EXPECT_NE(std::string("impersonate"), c.failAt) << "a failed impersonation must throw";
            EXPECT_EQ(c.impersonating, static_cast<LoggedOnUserImpersonator&>(*impersonator).impersonating());
            EXPECT_EQ(c.anotherAccount, impersonator->actsAsAnotherAccount());
            EXPECT_EQ(std::string::npos, calls.log.find("revert"));
        } catch (const MessageException& e) {
            EXPECT_EQ(std::string("impersonate"), c.failAt);
            EXPECT_EQ(L"Message 0x00000030", e.text());
        }
        EXPECT_EQ(c.log, calls.log);
    }
}

bool threadHasToken() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());
        return false;
    }
    CloseHandle(token);
    return true;
}

// Wine grants every step, so the real calls run end to end. The library
// stays loaded to the end: registered before its first use, the exit check
// runs after the destructors of what that use made, as a late fatal path would.
TEST(Impersonate, ConsoleUserUnderWineSwitchesTheThreadAndBackAndTheLibraryStays) {
    ASSERT_EQ(0, std::atexit([] {
                  if (GetModuleHandleA("wtsapi32.dll") == nullptr) {
                      std::_Exit(1);
                  }
              }));
    ASSERT_FALSE(threadHasToken());
    {
        auto impersonator = impersonate(nullptr);
        EXPECT_TRUE(threadHasToken());
        // Wine's console user is the process's own account.
        EXPECT_FALSE(impersonator->actsAsAnotherAccount());
        HKEY hive = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenCurrentUser(KEY_READ, &hive));
        RegCloseKey(hive);
    }
    EXPECT_FALSE(threadHasToken());
}

} // namespace
} // namespace qv::sys::win32
