#pragma once

// The server end of a message-mode pipe for the client tests, and a capture
// of the log lines the client writes.

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/logger.h"
#include "sys/logger/plain_line.h"
#include "sys/logger/logger_core.h"

namespace qv::test {

// One server instance of a pipe with a name unique to this process.
class PipeServer {
public:
    explicit PipeServer(DWORD type = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE)
        : PipeServer("qv_pipe_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                         std::to_string(++counter()),
                     type) {}
    // Another instance of an existing server's pipe is made by giving its name.
    PipeServer(std::string name, DWORD type = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE)
        : name_(std::move(name)) {
        handle_ = CreateNamedPipeA(fullName().c_str(), PIPE_ACCESS_DUPLEX, type | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 1 << 16, 1 << 16, 0, nullptr);
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << GetLastError();
    }
    ~PipeServer() { close(); }
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    const std::string& name() const { return name_; }
    std::string fullName() const { return "\\\\.\\pipe\\" + name_; }

    // After the client has opened the pipe: the server side of the connection.
    void accept() {
        const BOOL connected = ConnectNamedPipe(handle_, nullptr);
        EXPECT_TRUE(connected || GetLastError() == ERROR_PIPE_CONNECTED) << GetLastError();
    }
    // One message; blocks while the pipe is full (write big ones from a thread).
    void send(const std::string& message) {
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(handle_, message.data(), DWORD(message.size()), &written, nullptr))
            << GetLastError();
        EXPECT_EQ(written, message.size());
    }
    // Bytes the client has written and the server not read.
    DWORD available() const {
        DWORD bytes = 0;
        PeekNamedPipe(handle_, nullptr, 0, nullptr, &bytes, nullptr);
        return bytes;
    }
    std::string receive() {
        char message[64];
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(handle_, message, sizeof(message), &read, nullptr)) << GetLastError();
        return std::string(message, read);
    }
    void close() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    static int& counter() {
        static int value = 0;
        return value;
    }
    std::string name_;
    HANDLE handle_;
};

// Keeps every log line; the logger calls it under its lock.
class LogCapture : public sys::Logger::LineSink {
public:
    // Installs the process logger with a capture; call before anything logs.
    static LogCapture& install() {
        static LogCapture* const capture = [] {
            auto sink = std::make_unique<LogCapture>();
            LogCapture* const kept = sink.get();
            sys::Logger::initialise("PipeTest", sys::Logger::kInfo, 0, false, std::move(sink));
            return kept;
        }();
        return *capture;
    }

    void write(const std::string& line) override { lines_.push_back(sys::test::plainLine(line)); }

    // How many lines of one module at one level ("ERROR") came since the last call.
    std::size_t take(const std::string& module, const std::string& level) {
        sys::CriticalSectionGuard guard(sys::Logger::LoggerCore::lock());
        const std::size_t count = std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return line.find('\t' + module + '\t') != std::string::npos &&
                   line.find('\t' + level + '\t') != std::string::npos;
        });
        lines_.clear();
        return count;
    }

private:
    std::vector<std::string> lines_;
};

} // namespace qv::test
