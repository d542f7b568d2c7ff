#include "channel/win32_pipe.h"

#include <stdexcept>
#include <string>

#include "pipe_test_server.h"

using qv::sys::win32::Win32Pipe;
using qv::test::PipeServer;

namespace {

qv::test::LogCapture& logs = qv::test::LogCapture::install();

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

TEST(Win32Pipe, ArmedReadSignalsAMessageAndCloseCancelsIt) {
    PipeServer server;
    Win32Pipe pipe;
    std::uint32_t error = 0;
    ASSERT_TRUE(pipe.open(server.fullName(), error));
    server.accept();
    qv::sys::IWaitable& ready = pipe.getWaitable(Win32Pipe::kReadReadyResult);

    // A message already waiting completes the zero-byte read at once.
    server.send("waiting");
    const bool started = pipe.startRead(error);
    EXPECT_TRUE(started || error == ERROR_MORE_DATA) << error;
    EXPECT_TRUE(ready.wait(0));
    std::uint32_t transferred = 7;
    std::uint32_t bytesRead = 0;
    std::uint32_t bytesLeft = 0;
    EXPECT_TRUE(pipe.getOverlappedResult(Win32Pipe::kReadReadyResult, transferred, error)) << error;
    EXPECT_EQ(transferred, 0u);
    char text[16] = {};
    EXPECT_TRUE(pipe.peek(text, 4, bytesRead, bytesLeft, error));
    EXPECT_EQ(bytesRead + bytesLeft, 7u);
    EXPECT_TRUE(pipe.read(text, sizeof(text), transferred, error));
    EXPECT_EQ(std::string(text, transferred), "waiting");

    // Nothing waiting: the read stays armed until the pipe is closed.
    EXPECT_FALSE(pipe.startRead(error));
    EXPECT_EQ(error, ERROR_IO_PENDING);
    EXPECT_FALSE(pipe.getOverlappedResult(Win32Pipe::kReadReadyResult, transferred, error));
    EXPECT_EQ(error, ERROR_IO_INCOMPLETE);
    pipe.close();
    EXPECT_FALSE(pipe.isOpen());
    EXPECT_NE(pipe.resultTypeToOverlapped(Win32Pipe::kReadReadyResult).Internal, STATUS_PENDING);
    pipe.close();
    EXPECT_TRUE(logs.take("AssertLogger", "ERROR").empty());
}
