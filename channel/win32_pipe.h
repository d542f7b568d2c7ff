#pragma once

// One named-pipe handle and its overlapped I/O. Everything that starts,
// cancels or ends overlapped I/O on the handle (open, arming the zero-byte
// read, write, flush, close) runs as a command on the pipe's own engine
// thread while the caller waits, so all of it is issued and cancelled from
// one thread: CancelIo only cancels the calling thread's I/O.
//
// Threads: one thread drives a pipe (its operations are not locked against
// each other); read, readQueued, peek and getOverlappedResult run on that
// thread and leave nothing pending behind them. The waitables may be waited
// on from any thread.

#include <windows.h>

#include <cstdint>
#include <string>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/command_invoker.h"
#include "sys/concurrency/flag.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys::win32 {

class Win32Pipe;

// One pipe operation as an engine command: the operation is called on the
// engine thread with the argument and the caller's success and error slots.
template <typename T>
class Win32PipeCommand : public Command {
public:
    using Operation = void (Win32Pipe::*)(T* argument, std::uint32_t* success, std::uint32_t* error);

    Win32PipeCommand(T* argument, std::uint32_t* success, std::uint32_t* error, Win32Pipe& pipe,
                     Operation operation)
        : argument_(argument), success_(success), error_(error), pipe_(pipe), operation_(operation) {}

    void execute() override { (pipe_.*operation_)(argument_, success_, error_); }

private:
    T* argument_;
    std::uint32_t* success_;
    std::uint32_t* error_;
    Win32Pipe& pipe_;
    Operation operation_;
};

class Win32Pipe : private boost::noncopyable {
public:
    // Result types: which overlapped operation a result or waitable is about.
    static constexpr std::uint32_t kConnectResult = 0;
    static constexpr std::uint32_t kReadReadyResult = 1;
    static constexpr std::uint32_t kWriteResult = 2;

    struct WriteArgs {
        const void* data;
        std::uint32_t size;
    };

    // Starts the engine thread; no handle yet.
    Win32Pipe();
    // Closes the handle (cancelling what is pending), then stops the engine.
    ~Win32Pipe();

    // On the engine thread. Opens an existing pipe for reading and writing, no
    // sharing, overlapped, identification-level impersonation only, and sets
    // message read mode; a handle that refuses the mode is closed again.
    // Already open: false with ERROR_ALREADY_INITIALIZED and nothing run.
    bool open(const std::string& fullName, std::uint32_t& error);
    // On the engine thread. Arms a zero-byte read whose completion sets the
    // read-ready flag. An error of ERROR_IO_PENDING means armed; ERROR_MORE_DATA
    // or 0 with success mean a message was already there (flag set).
    bool startRead(std::uint32_t& error);
    // On the engine thread. Starts an overlapped write; ERROR_IO_PENDING means
    // the write flag is set on completion. On immediate success the flag is set.
    bool write(const void* data, std::uint64_t size, std::uint32_t& error);
    // On the engine thread: waits until the peer has read everything written.
    void flush();
    // Cancels the pending I/O, waits for it to end and closes the handle; the
    // pipe is closed from the caller's point of view at once. Closed: nothing.
    void close();

    // On the calling thread: reads one message (or its first `size` bytes)
    // and waits for the read to finish.
    bool read(void* buffer, std::uint32_t size, std::uint32_t& transferred, std::uint32_t& error);
    // On the calling thread: takes the next message (or its first `size`
    // bytes, error ERROR_MORE_DATA) if one is queued, in one call when it is,
    // or if one comes within `lingerMs`. None: false with
    // ERROR_IO_INCOMPLETE, the read that found nothing being cancelled and
    // ended before this returns, so no I/O of this thread outlives the call.
    bool readQueued(void* buffer, std::uint32_t size, std::uint32_t lingerMs, std::uint32_t& transferred,
                    std::uint32_t& error);
    // On the calling thread: copies up to `size` bytes of the next message
    // without taking it. `buffer` may be null when `size` is 0.
    bool peek(void* buffer, std::uint32_t size, std::uint32_t& bytesRead, std::uint32_t& bytesLeftThisMessage,
              std::uint32_t& error);
    // On the calling thread, without waiting: ERROR_IO_INCOMPLETE while pending.
    bool getOverlappedResult(std::uint32_t type, std::uint32_t& transferred, std::uint32_t& error);

    // The flag of a result type's overlapped event. Throws std::invalid_argument
    // for a type other than 0, 1 and 2.
    IWaitable& getWaitable(std::uint32_t type);
    OVERLAPPED& resultTypeToOverlapped(std::uint32_t type);

    bool isOpen() const;
    // The pipe handle (null when closed), for the security functions.
    void* handle() const { return handle_.get(); }

private:
    template <typename T>
    friend class Win32PipeCommand;

    template <typename T>
    bool run(typename Win32PipeCommand<T>::Operation operation, T* argument, std::uint32_t& error);

    // The engine-thread halves of the operations above.
    void openOnEngine(const std::string* fullName, std::uint32_t* success, std::uint32_t* error);
    void startReadOnEngine(unsigned char* readByte, std::uint32_t* success, std::uint32_t* error);
    void writeOnEngine(WriteArgs* args, std::uint32_t* success, std::uint32_t* error);
    void flushOnEngine(void* handle, std::uint32_t* success, std::uint32_t* error);
    void closeOnEngine(UniqueHandle* handle, std::uint32_t* success, std::uint32_t* error);

    void resetOverlapped(OVERLAPPED& overlapped, const Flag& flag);

    CommandInvoker::Controller controller_;
    UniqueHandle handle_;
    OVERLAPPED readReadyOverlapped_;
    OVERLAPPED writeOverlapped_;
    OVERLAPPED connectOverlapped_;
    OVERLAPPED readOverlapped_;
    AutoFlag readReadyFlag_{false};
    AutoFlag writeFlag_{false};
    Flag connectFlag_{false, true};
    Flag readFlag_{false, true};
    unsigned char readByte_ = 0;
};

} // namespace qv::sys::win32
