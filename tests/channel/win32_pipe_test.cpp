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

TEST(Win32Pipe, ArmsAtOnceForAQueuedMessageAndClosesAfterTheArmedReadEnded) {
    PipeServer server;
    Win32Pipe pipe;
    std::uint32_t error = 0;
    ASSERT_TRUE(pipe.open(server.fullName(), error));
    server.accept();
    server.send("already here, longer than the zero-byte read");
    const bool done = pipe.startRead(error);
    EXPECT_TRUE(done ? error == 0 : error == ERROR_MORE_DATA) << done << " " << error;
    EXPECT_TRUE(pipe.getWaitable(Win32Pipe::kReadReadyResult).wait(0));
    char message[64];
    std::uint32_t read = 0;
    std::uint32_t left = 0;
    ASSERT_TRUE(pipe.peek(message, 8, read, left, error));
    EXPECT_EQ(read + left, 44u);

    ASSERT_TRUE(pipe.read(message, sizeof message, read, error));
    EXPECT_FALSE(pipe.startRead(error));
    EXPECT_EQ(error, ERROR_IO_PENDING);
    pipe.close();
    EXPECT_FALSE(pipe.isOpen());
    // The cancelled read has ended: nothing writes into its record any more.
    EXPECT_NE(pipe.resultTypeToOverlapped(Win32Pipe::kReadReadyResult).Internal, STATUS_PENDING);
    pipe.close();
    EXPECT_FALSE(pipe.isOpen());
}
