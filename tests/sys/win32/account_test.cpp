#include "sys/win32/account.h"

#include <windows.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "sys/win32/unique_handle.h"

namespace qv::sys::win32 {
namespace {

TEST(Account, OnlySystemTheAdministratorsAndTheProcessItselfAreTrustedOwners) {
    const Sid self = processAccount();
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(0u, sidText(self).rfind("S-1-5-", 0)) << sidText(self);
    for (const char* trusted : {"S-1-5-18", "S-1-5-32-544"}) {
        EXPECT_TRUE(isTrustedOwner(sidFromText(trusted), self)) << trusted;
    }
    EXPECT_TRUE(isTrustedOwner(self, self));
    // Users, authenticated users, everyone, and another account of a machine.
    for (const char* other : {"S-1-5-32-545", "S-1-5-11", "S-1-1-0", "S-1-5-21-1-2-3-1001"}) {
        EXPECT_FALSE(isTrustedOwner(sidFromText(other), self)) << other;
    }
    EXPECT_FALSE(isTrustedOwner(Sid(), Sid()));

    // A folder made here belongs to this account (or, elevated on Windows, to the administrators).
    const auto folder =
        std::filesystem::temp_directory_path() / ("qv_owner_" + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryA(folder.string().c_str(), nullptr));
    {
        const UniqueHandle handle(CreateFileA(folder.string().c_str(), READ_CONTROL, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(handle);
        EXPECT_TRUE(isTrustedOwner(fileOwner(handle.get()), self)) << sidText(fileOwner(handle.get()));
    }
    RemoveDirectoryA(folder.string().c_str());
}

} // namespace
} // namespace qv::sys::win32
