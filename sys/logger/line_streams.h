#pragma once

// Output streams that deliver what was written to them at each flush: to the
// debugger, or to the line sink given at start-up.

#include <ostream>
#include <streambuf>
#include <string>

#include "sys/logger/output.h"

namespace qv::sys::Logger {

// A stream buffer without a put area: every character is appended to a
// pending string, which each flush delivers and clears.
class PendingTextBuf : public std::streambuf {
public:
    PendingTextBuf() { pending_.reserve(128); }

protected:
    virtual void deliver(const std::string& text) = 0;

    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    std::string pending_;
};

// Delivers to the debugger (OutputDebugStringA; Windows only).
class DebugOutBuf : public PendingTextBuf {
protected:
    void deliver(const std::string& text) override;
};

// Delivers to a LineSink (not owned).
class HelperOutBuf : public PendingTextBuf {
public:
    explicit HelperOutBuf(LineSink& sink) : sink_(sink) {}

protected:
    void deliver(const std::string& text) override { sink_.write(text); }

private:
    LineSink& sink_;
};

// Holds the buffer so that it is built before the stream that uses it.
template <typename Buffer>
struct StreamBufferInit {
    template <typename... Args>
    explicit StreamBufferInit(Args&... args) : buffer(args...) {}
    Buffer buffer;
};

class DebugOStream : private StreamBufferInit<DebugOutBuf>, public std::ostream {
public:
    DebugOStream() : std::ostream(&buffer) {}
};

class HelperOStream : private StreamBufferInit<HelperOutBuf>, public std::ostream {
public:
    // A sink that throws makes the flush rethrow, so that its exception reaches the logging call site.
    explicit HelperOStream(LineSink& sink) : StreamBufferInit<HelperOutBuf>(sink), std::ostream(&buffer) {
        exceptions(std::ios::badbit);
    }
};

} // namespace qv::sys::Logger
