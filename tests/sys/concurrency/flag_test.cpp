#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <deque>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sys/concurrency/flag.h"
#include "sys/concurrency/waitables.h"
#include "sys/errors/exception.h"
#include "sys/win32/unique_handle.h"
#include "sys/config/registry_test_support.h"
#include "sys/logger/log_capture.h"

namespace qv::sys {
namespace {

// The host's own events, except that Global names get `globalError`, as an
// ordinary user's process does on Windows.
struct RefusingCreator : IEventCreator {
    explicit RefusingCreator(std::uint32_t error) : globalError(error) {}
    void* createEvent(bool manualReset, bool initiallySet, const char* name, std::uint32_t& error) override {
        names.push_back(name != nullptr ? name : "");
        if (names.back().rfind("Global\\", 0) == 0) {
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
    CreatedFlag(bool initiallySet, const std::string& name, IEventCreator* creator = nullptr)
        : Flag(new State(initiallySet, true, name, true, creator)) {}
};

TEST(Flag, GeneratedNamesCountUpAndAutoFlagReleasesOneWaitPerSet) {
    AutoFlag first(false);
    Flag second(false, true);
    const std::regex shape(R"(Global\\QvEv(\d+)([0-9A-F]{16})_(\d+))");
    std::smatch a;
    std::smatch b;
    ASSERT_TRUE(std::regex_match(first.kernelName(), a, shape)) << first.kernelName();
    ASSERT_TRUE(std::regex_match(second.kernelName(), b, shape)) << second.kernelName();
    EXPECT_EQ(a[1].str(), std::to_string(GetCurrentProcessId()) + std::to_string(GetCurrentThreadId()));
    EXPECT_EQ(std::stol(b[3].str()), std::stol(a[3].str()) + 1);
    // The next name, made first as if by a process whose ids run together into
    // the same digits, is passed over: sharing an event would share wake-ups.
    const std::string next =
        "Global\\QvEv" + b[1].str() + b[2].str() + "_" + std::to_string(std::stol(b[3]) + 1);
    const win32::UniqueHandle other(CreateEventA(nullptr, FALSE, FALSE, next.c_str()));
    EXPECT_NE(AutoFlag(false).kernelName(), next);

    first.set();
    first.set();
    EXPECT_FALSE(second.wait(0)); // a distinct event
    EXPECT_TRUE(first.wait(0));
    EXPECT_FALSE(first.wait(0));
    second.set();
    EXPECT_TRUE(second.asWaitable().wait(1000));
    EXPECT_TRUE(second.wait(0)); // manual: set until reset
    second.reset();
    EXPECT_FALSE(second.wait(0));
}

TEST(Flag, RefusedGlobalNamesFallBackToTheSessionAndExistingEventsAreUnset) {
    for (std::uint32_t refusal : {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}) {
        RefusingCreator creator(refusal);
        CreatedFlag flag(false, "", &creator);
        ASSERT_EQ(creator.names.size(), 2u);
        EXPECT_EQ(flag.kernelName(), "Local\\" + creator.names[0].substr(7));
        flag.set();
        EXPECT_TRUE(flag.wait(0));
    }
    RefusingCreator failing(ERROR_INVALID_HANDLE); // not a namespace question: no second try
    EXPECT_THAT(
        [&] { CreatedFlag flag(false, "", &failing); },
        testing::Throws<SystemError>(testing::Property(&SystemError::systemCode, ERROR_INVALID_HANDLE)));
    EXPECT_EQ(failing.names.size(), 1u);

    // Opening an event that exists in the set state leaves it set only when asked to.
    const std::string name = "QvFlagTest" + std::to_string(GetCurrentProcessId());
    CreatedFlag original(true, name);
    EXPECT_EQ(original.kernelName(), "Global\\" + name);
    CreatedFlag alsoSet(true, name);
    EXPECT_TRUE(original.wait(0));
    CreatedFlag unset(false, name);
    EXPECT_FALSE(original.wait(0));
}

TEST(Flag, SetAccessMergesOneEntryPerCall) {
    AutoFlag flag(false);
    EXPECT_TRUE(flag.setAccess(StringSidTrustee("WD"), true, kAccessRead));
    EXPECT_TRUE(flag.setAccess(StringSidTrustee("BU"), false, kAccessAll));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPSTR text = nullptr;
    ASSERT_EQ(GetSecurityInfo(flag.getHandle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr, &descriptor),
              ERROR_SUCCESS);
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    // FR and FA are the SDDL names of 0x120089 and 0x1F01FF; denials go first.
    // The entries the object had before stay, and differ between hosts.
    const std::string list = text;
    EXPECT_LT(list.find("(D;;FA;;;BU)"), list.find("(A;;FR;;;WD)")) << list;
    EXPECT_NE(list.find("(A;;FR;;;WD)"), std::string::npos) << list;
    LocalFree(text);
    LocalFree(descriptor);
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
    b.set();
    EXPECT_EQ(set.waitAny(kWaitForever), 0u); // the lower of two
    EXPECT_EQ(set.waitAny(0), 1u);

    Waitables other;
    other.add(c);
    other.add(b);
    set.addAll(other); // a, c, b
    c.set();
    EXPECT_EQ(set.waitAny(0), 1u);
    set.remove(c); // a, b
    b.set();
    EXPECT_EQ(set.waitAny(0), 1u);
}

} // namespace
} // namespace qv::sys

namespace qv::sys {
namespace {

// The kernel waits for at most 64 handles: one more is an assertion failure
// (logged only, as set here) and then the failing wait's exception.
TEST(Waitables, WaitAnyTakesSixtyFourHandlesAndThrowsBeyond) {
    test::ScopedSetting logOnly(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "1");
    test::LogCapture& records = test::LogCapture::of("AssertLogger");
    std::deque<AutoFlag> flags;
    Waitables set;
    while (flags.size() < 64) {
        set.add(flags.emplace_back(false));
    }
    flags[63].set();
    EXPECT_EQ(set.waitAny(0), 63u);
    EXPECT_TRUE(records.take().empty());
    set.add(flags.emplace_back(false));
    EXPECT_THROW(set.waitAny(0), SystemErrorCodeException);
    ASSERT_EQ(records.records.size(), 1u);
    EXPECT_NE(records.records[0].text.find("65 <= 64"), std::string::npos) << records.records[0].text;
}

} // namespace
} // namespace qv::sys
