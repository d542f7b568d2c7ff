#include "sys/win32/impersonation.h"
#include "sys/win32/library.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "sys/errors/exception.h"

namespace qv::sys::win32 {
namespace {

// Hands out distinct fake handles and fails the call named in `failAt`;
// counts how often each handle was closed.
struct ScriptedCalls : SessionCalls {
    explicit ScriptedCalls(std::string failAt, Handle userToken = reinterpret_cast<Handle>(0x100))
        : failAt(std::move(failAt)), userToken(userToken) {}

    std::uint32_t activeConsoleSessionId() override {
        log += "session ";
        return 7;
    }
    bool queryUserToken(std::uint32_t sessionId, Handle& token) override {
        log += "query" + std::to_string(sessionId) + " ";
        if (failAt == "query") {
            return false;
        }
        token = userToken;
        return true;
    }
    bool duplicateToken(Handle token, Handle& duplicate) override {
        log += token == userToken ? "duplicate " : "duplicate(wrong token) ";
        if (failAt == "duplicate") {
            return false;
        }
        duplicate = reinterpret_cast<Handle>(0x200);
        return true;
    }
    bool impersonateLoggedOnUser(Handle token) override {
        log += token == reinterpret_cast<Handle>(0x200) ? "impersonate " : "impersonate(wrong token) ";
        return failAt != "impersonate";
    }
    void revertToSelf() override { log += "revert "; }
    void closeHandle(Handle handle) override { ++closed[handle]; }

    std::string failAt;
    Handle userToken;
    std::string log;
    std::map<Handle, int> closed;
};

const auto kUser = reinterpret_cast<SessionCalls::Handle>(0x100);
const auto kDuplicate = reinterpret_cast<SessionCalls::Handle>(0x200);

TEST(LoggedOnUserImpersonator, EachStepThatFailsLeavesNoHandleOpen) {
    {
        ScriptedCalls calls("query");
        auto impersonator = LoggedOnUserImpersonatorFactory(calls).create();
        EXPECT_FALSE(static_cast<LoggedOnUserImpersonator&>(*impersonator).impersonating());
        impersonator.reset();
        EXPECT_EQ("session query7 ", calls.log); // inert: no revert at the end
        EXPECT_TRUE(calls.closed.empty());
    }
    {
        ScriptedCalls calls("duplicate");
        auto impersonator = LoggedOnUserImpersonatorFactory(calls).create();
        EXPECT_FALSE(static_cast<LoggedOnUserImpersonator&>(*impersonator).impersonating());
        impersonator.reset();
        EXPECT_EQ("session query7 duplicate ", calls.log);
        EXPECT_EQ((std::map<SessionCalls::Handle, int>{{kUser, 1}}), calls.closed);
    }
    {
        ScriptedCalls calls("impersonate");
        try {
            LoggedOnUserImpersonatorFactory(calls).create();
            ADD_FAILURE() << "a failed impersonation must throw";
        } catch (const MessageException& e) {
            EXPECT_EQ(kMessageImpersonation, e.messageId());
            EXPECT_EQ(L"Message 0x00000030", e.text());
        }
        EXPECT_EQ("session query7 duplicate impersonate ", calls.log);
        EXPECT_EQ((std::map<SessionCalls::Handle, int>{{kUser, 1}, {kDuplicate, 1}}), calls.closed);
    }
}

TEST(LoggedOnUserImpersonator, ImpersonatesUntilDestroyedAndKeepsNoToken) {
    ScriptedCalls calls("");
    auto impersonator = LoggedOnUserImpersonatorFactory(calls).create();
    EXPECT_TRUE(static_cast<LoggedOnUserImpersonator&>(*impersonator).impersonating());
    // The thread holds its own reference to the token: ours close at once.
    EXPECT_EQ((std::map<SessionCalls::Handle, int>{{kUser, 1}, {kDuplicate, 1}}), calls.closed);
    EXPECT_EQ("session query7 duplicate impersonate ", calls.log);
    impersonator.reset();
    EXPECT_EQ("session query7 duplicate impersonate revert ", calls.log);
}

TEST(LoggedOnUserImpersonator, InvalidTokenValuesAreNeverClosed) {
    for (SessionCalls::Handle invalid :
         {SessionCalls::Handle(nullptr), SessionCalls::Handle(INVALID_HANDLE_VALUE)}) {
        ScriptedCalls calls("duplicate", invalid);
        LoggedOnUserImpersonatorFactory(calls).create();
        EXPECT_TRUE(calls.closed.empty());
    }
}

TEST(Impersonate, UsesTheCallersFactory) {
    struct Marked : UserImpersonator {};
    struct OwnFactory : UserImpersonatorFactory {
        std::unique_ptr<UserImpersonator> create() override { return std::make_unique<Marked>(); }
    } factory;
    EXPECT_NE(nullptr, dynamic_cast<Marked*>(impersonate(&factory).get()));
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

// Forwards to the real calls and checks that every token obtained is closed once.
struct CountingCalls : SessionCalls {
    std::uint32_t activeConsoleSessionId() override { return real.activeConsoleSessionId(); }
    bool queryUserToken(std::uint32_t sessionId, Handle& token) override {
        const bool ok = real.queryUserToken(sessionId, token);
        open += ok ? 1 : 0;
        return ok;
    }
    bool duplicateToken(Handle token, Handle& duplicate) override {
        const bool ok = real.duplicateToken(token, duplicate);
        open += ok ? 1 : 0;
        return ok;
    }
    bool impersonateLoggedOnUser(Handle token) override { return real.impersonateLoggedOnUser(token); }
    void revertToSelf() override { real.revertToSelf(); }
    void closeHandle(Handle handle) override {
        EXPECT_TRUE(CloseHandle(handle));
        --open;
    }
    SessionCalls& real = systemSessionCalls();
    int open = 0;
};

// Wine grants every step, so the real calls run end to end.
TEST(Impersonate, ConsoleUserUnderWineSwitchesTheThreadAndBack) {
    ASSERT_FALSE(threadHasToken());
    {
        auto impersonator = impersonate(nullptr);
        EXPECT_TRUE(static_cast<LoggedOnUserImpersonator&>(*impersonator).impersonating());
        EXPECT_TRUE(threadHasToken());
        HKEY hive = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenCurrentUser(KEY_READ, &hive));
        RegCloseKey(hive);
    }
    EXPECT_FALSE(threadHasToken());

    CountingCalls calls;
    {
        auto impersonator = LoggedOnUserImpersonatorFactory(calls).create();
        EXPECT_TRUE(threadHasToken());
        EXPECT_EQ(0, calls.open);
    }
    EXPECT_FALSE(threadHasToken());
}

TEST(Library, LoadsModulesAndLooksUpExports) {
    Library kernel("kernel32.dll");
    EXPECT_TRUE(static_cast<bool>(kernel));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")),
              kernel.getProcAddress("GetTickCount"));
    EXPECT_EQ(nullptr, kernel.getProcAddress("NoSuchExportAnywhere"));

    Library missing("no_such_library_qv.dll");
    EXPECT_FALSE(static_cast<bool>(missing));
    EXPECT_EQ(nullptr, missing.getProcAddress("GetTickCount"));
}

} // namespace
} // namespace qv::sys::win32
