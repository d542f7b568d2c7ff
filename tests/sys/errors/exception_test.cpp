#include "sys/errors/exception.h"

#include <gtest/gtest.h>

namespace qv::sys {
namespace {

TEST(Exception, ErrorCodeTexts) {
    EXPECT_EQ(L"", ErrorCodeException(0).text());
    EXPECT_EQ(L"Message 0x0000000A", ErrorCodeException(10).text());
    EXPECT_EQ(L"Message 0x0000000112", ErrorCodeException(12).text());
}

TEST(Exception, CompositeTexts) {
    const std::wstring pipe = SystemMessageException(MessageId(0x1E), SystemErrorCode(109)).text();
    EXPECT_EQ(0u, pipe.rfind(L"Message 0x0000001Ewin32 0x0000006d: ", 0));

    EXPECT_EQ(L"Internal error \"Message 0x00000001\", Fifo overflow",
              InternalError("Fifo overflow", SystemErrorCode(0)).text());
    const std::wstring withCode = InternalError("bad", SystemErrorCode(5)).text();
    EXPECT_EQ(0u, withCode.rfind(L"Internal error \"Message 0x00000001\", win32 0x00000005: ", 0));
    EXPECT_EQ(L"\", bad", withCode.substr(withCode.size() - 6));
    // Bytes above 127 widen to the character of the same value, not a negative one.
    EXPECT_EQ(L"Internal error \"Message 0x00000001\", caf\u00e9",
              InternalError("caf\xe9", SystemErrorCode(0)).text());

    EXPECT_EQ(0u, SystemError(10, SystemErrorCode(6)).text().rfind(L"Message 0x0000000A, win32 0x00000006: ", 0));
}

TEST(Exception, NarrowingReplacesEachNonAsciiCharacterOnce) {
    EXPECT_EQ("a?b?c", narrowText(L"a\u00e9b\U0001F600c"));
    struct Wide : MessageException {
        Wide() : MessageException(MessageId(1)) {}
        std::wostringstream& appendDetail(std::wostringstream& s) const override {
            s << L" \u00fc\u00fc";
            return s;
        }
    };
    EXPECT_STREQ("Message 0x00000001 ??", Wide().what());
}

TEST(Exception, CurrentExceptionTextForEachKind) {
    auto describe = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return currentExceptionText();
        }
        return std::string("nothing thrown");
    };
    EXPECT_EQ("Unknown exception type", describe([] { throw 7; }));
    EXPECT_EQ("plain", describe([] { throw "plain"; }));
    EXPECT_EQ("failed", describe([] { throw Failure("failed"); }));
    EXPECT_EQ("Message 0x00000030", describe([] { throw MessageException(MessageId(0x30)); }));
    EXPECT_EQ("win32 0xdeadbeef: Unknown", describe([] { throw SystemErrorCodeException(0xDEADBEEF); }));
    struct Fault : SystemException {
        const char* what() const override { return "fault"; }
    };
    EXPECT_EQ("fault", describe([] { throw Fault(); }));
}

} // namespace
} // namespace qv::sys
