#include "app/module_path.h"

#include "sys/errors/exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qv::telemetry {
namespace {

TEST(ModulePath, DirectoryOfTheModuleWithTheGivenName) {
    EXPECT_EQ(L"C:\\Q\\bin\\\\", joinModulePath(L"C:\\Q\\bin\\agent.exe", L"\\"));
    EXPECT_EQ(L"C:\\Q\\bin\\x.log", joinModulePath(L"C:\\Q\\bin\\agent.exe", L"x.log"));
    EXPECT_EQ(L"\\\\host\\share\\x", joinModulePath(L"\\\\host\\share\\agent.exe", L"x"));
    EXPECT_EQ(L"C:\\Q\\agent.exe", joinModulePath(L"C:\\Q\\agent.exe", L""));
}

TEST(ModulePath, ResultOverMaxPathThrows206) {
    const std::wstring directory = L"C:\\" + std::wstring(240, L'd') + L"\\";
    EXPECT_EQ(260u, joinModulePath(directory + L"a.exe", std::wstring(260 - directory.size(), L'f')).size());
    using testing::Property;
    EXPECT_THAT([&] { joinModulePath(directory + L"a.exe", std::wstring(261 - directory.size(), L'f')); },
                testing::Throws<sys::SystemError>(testing::AllOf(
                    Property(&sys::SystemError::code, 1u), Property(&sys::SystemError::systemCode, 206u))));
}

TEST(ModulePath, RealModuleEndsInADoubledSeparator) {
    const std::wstring path = modulePath(L"\\");
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(L"\\\\", path.substr(path.size() - 2));
    EXPECT_EQ(path.substr(0, path.size() - 1), modulePath(L"").substr(0, path.size() - 1));
}

} // namespace
} // namespace qv::telemetry
