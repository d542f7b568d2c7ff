#include "channel/win32_pipe.h"

#include <stdexcept>
#include <string>

#include "pipe_test_server.h"

using qv::sys::win32::Win32Pipe;
using qv::test::PipeServer;

namespace {

template <typename Call>
std::string invalidArgumentText(Call call) {
    try {
        call();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "nothing thrown";
}

} // namespace

TEST(Win32Pipe, OpensOnceAndOnlyInMessageMode) {
    Win32Pipe pipe;
    std::uint32_t error = 0;
    PipeServer bytes(PIPE_TYPE_BYTE | PIPE_READMODE_BYTE);
    EXPECT_FALSE(pipe.open(bytes.fullName(), error));
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(pipe.isOpen());

    PipeServer messages;
    EXPECT_TRUE(pipe.open(messages.fullName(), error));
    EXPECT_TRUE(pipe.isOpen());
    void* const handle = pipe.handle();
    EXPECT_FALSE(pipe.open(messages.fullName(), error));
    EXPECT_EQ(error, ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(pipe.handle(), handle);

    EXPECT_EQ(invalidArgumentText([&] { pipe.getWaitable(3); }), "Unknown result type passed to getWaitable");
    EXPECT_EQ(invalidArgumentText([&] { pipe.resultTypeToOverlapped(3); }),
              "Unknown result type passed to resultTypeToOverlapped");
}
