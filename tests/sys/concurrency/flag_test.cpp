#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/concurrency/flag.h"
#include "sys/concurrency/waitables.h"
#include "sys/errors/exception.h"

namespace qv::sys {
namespace {

// The creator of the host, except that names in the Global namespace get
// `globalError`, as an ordinary user's process gets on Windows.
struct RefusingCreator : IEventCreator {
    explicit RefusingCreator(std::uint32_t error) : globalError(error) {}
    void* createEvent(bool manualReset, bool initiallySet, const char* name, std::uint32_t& error) override {
        names.push_back(name != nullptr ? name : "");
        if (name != nullptr && std::string(name).rfind("Global\\", 0) == 0) {
            error = globalError;
            return nullptr;
        }
        HANDLE handle = CreateEventA(nullptr, manualReset, initiallySet, name);
        error = handle == nullptr ? GetLastError() : 0;
        return handle;
    }
    std::uint32_t globalError;
    std::vector<std::string> names;
};

struct CreatedFlag : Flag {
    CreatedFlag(bool initiallySet, const std::string& name, IEventCreator* creator)
        : Flag(new State(initiallySet, true, name, true, creator)) {}
};

TEST(Flag, GeneratedGlobalNamesAreUniqueAndCountUp) {
    AutoFlag first(false);
    Flag second(false, true);
    const std::regex shape(R"(Global\\QvEv(\d+)[0-9A-F]{16}_(\d+))");
    std::smatch a;
    std::smatch b;
    const std::string firstName = first.kernelName();
    const std::string secondName = second.kernelName();
    ASSERT_TRUE(std::regex_match(firstName, a, shape)) << firstName;
    ASSERT_TRUE(std::regex_match(secondName, b, shape)) << secondName;
    const std::string ids = std::to_string(GetCurrentProcessId()) + std::to_string(GetCurrentThreadId());
    EXPECT_EQ(a[1].str(), ids);
    EXPECT_EQ(std::stol(b[2].str()), std::stol(a[2].str()) + 1);
    // Each name is a distinct event.
    first.set();
    EXPECT_FALSE(second.wait(0));
    EXPECT_TRUE(first.wait(0));
}

TEST(Flag, AutoFlagReleasesOneWaitPerSetAndManualFlagStaysSet) {
    AutoFlag automatic(false);
    EXPECT_FALSE(automatic.wait(0));
    automatic.set();
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0));

    Flag manual(true, true);
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.asWaitable().wait(1000));
    manual.reset();
    EXPECT_FALSE(manual.wait(0));
}

TEST(Flag, RefusedGlobalNamespaceFallsBackToSessionLocalNames) {
    for (std::uint32_t refusal : {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}) {
        RefusingCreator creator(refusal);
        CreatedFlag flag(false, "", &creator);
        ASSERT_EQ(creator.names.size(), 2u);
        EXPECT_EQ(creator.names[1], "Local\\" + creator.names[0].substr(7));
        EXPECT_EQ(flag.kernelName(), creator.names[1]);
        flag.set();
        EXPECT_TRUE(flag.wait(0));
    }
    // Any other failure is not a namespace question: no second try.
    RefusingCreator failing(ERROR_INVALID_HANDLE);
    try {
        CreatedFlag flag(false, "", &failing);
        ADD_FAILURE() << "created";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), 10u);
        EXPECT_EQ(error.systemCode(), static_cast<std::uint64_t>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(failing.names.size(), 1u);
}

TEST(Flag, OpeningAnExistingSetEventUnsetsItUnlessAskedSet) {
    const std::string name = "QvFlagTest" + std::to_string(GetCurrentProcessId());
    CreatedFlag first(true, name, nullptr);
    EXPECT_EQ(first.kernelName(), "Global\\" + name);
    CreatedFlag stillSet(true, name, nullptr);
    EXPECT_TRUE(first.wait(0));
    CreatedFlag unset(false, name, nullptr);
    EXPECT_FALSE(first.wait(0));
    unset.set();
    EXPECT_TRUE(first.wait(0));
}

std::string accessListText(const Flag& flag) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPSTR text = nullptr;
    std::string result = "?";
    if (GetSecurityInfo(flag.getHandle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
    }
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

TEST(Flag, SetAccessMergesOneEntryPerCall) {
    AutoFlag flag(false);
    StringSidTrustee everyone("WD");
    StringSidTrustee users("BU");
    EXPECT_TRUE(flag.setAccess(everyone, true, kAccessRead));
    EXPECT_TRUE(flag.setAccess(users, false, kAccessAll));
    // FR and FA are the SDDL names of 0x120089 and 0x1F01FF; denials go first.
    EXPECT_EQ(accessListText(flag), "D:(D;;FA;;;BU)(A;;FR;;;WD)");
    EXPECT_EQ(accessMaskOf(3), 0u);
    EXPECT_EQ(accessMaskOf(kAccessWrite), 0x120116u);
    EXPECT_EQ(accessMaskOf(kAccessExecute), 0x1200A0u);
    EXPECT_THROW(StringSidTrustee("not a sid"), SystemError);
}

TEST(Waitables, WaitAnyFollowsSetOrderAndReportsNothingSignalled) {
    Waitables set;
    EXPECT_EQ(set.waitAny(0), Waitables::kNone);
    AutoFlag a(false);
    AutoFlag b(false);
    Flag c(false, true);
    set.add(a);
    set.add(b);
    set.add(a); // moves to the end: b, a
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(set.waitAny(0), Waitables::kNone);
    a.set();
    EXPECT_EQ(set.waitAny(kWaitForever), 1u);
    a.set();
    b.set();
    EXPECT_EQ(set.waitAny(0), 0u); // the lowest of two
    EXPECT_EQ(set.waitAny(0), 1u);

    Waitables other;
    other.add(c);
    other.add(b);
    set.addAll(other); // a, c, b
    c.set();
    EXPECT_EQ(set.waitAny(0), 1u);
    set.remove(c); // a, b
    EXPECT_EQ(set.size(), 2u);
    b.set();
    EXPECT_EQ(set.waitAny(0), 1u);
    set.clear();
    EXPECT_EQ(set.waitAny(0), Waitables::kNone);
}

TEST(Waitables, MoreHandlesThanTheKernelTakesThrow) {
    std::vector<std::unique_ptr<AutoFlag>> flags;
    Waitables set;
    for (std::size_t i = 0; i <= Waitables::kMaximum; ++i) {
        flags.push_back(std::make_unique<AutoFlag>(true));
        set.add(*flags.back());
    }
    EXPECT_THROW(set.waitAny(0), SystemErrorCodeException);
    set.remove(*flags.front());
    EXPECT_EQ(set.waitAny(0), 0u);
}

} // namespace
} // namespace qv::sys
