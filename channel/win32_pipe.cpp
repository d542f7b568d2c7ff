#include "channel/win32_pipe.h"

#include <stdexcept>

#include "sys/errors/assertion.h"
#include "sys/errors/exception.h"

namespace qv::sys::win32 {

namespace {

// Win32 calls that succeed need not clear the last error: report 0 for them.
std::uint32_t errorAfter(BOOL result) {
    return result ? 0 : GetLastError();
}

} // namespace

Win32Pipe::Win32Pipe() {
    resetOverlapped(readReadyOverlapped_, readReadyFlag_);
    resetOverlapped(writeOverlapped_, writeFlag_);
    resetOverlapped(connectOverlapped_, connectFlag_);
    resetOverlapped(readOverlapped_, readFlag_);
}

Win32Pipe::~Win32Pipe() {
    try {
        close();
    } catch (...) {
        // close() took the handle out first; the engine is stopped below either way.
    }
}

void Win32Pipe::resetOverlapped(OVERLAPPED& overlapped, const Flag& flag) {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = flag.getHandle();
}

template <typename T>
bool Win32Pipe::run(typename Win32PipeCommand<T>::Operation operation, T* argument, std::uint32_t& error) {
    std::uint32_t success = 0;
    Win32PipeCommand<T> command(argument, &success, &error, *this, operation);
    controller_.invoke(command);
    return success != 0;
}

bool Win32Pipe::isOpen() const {
    return handle_.isValid();
}

bool Win32Pipe::open(const std::string& fullName, std::uint32_t& error) {
    if (isOpen()) {
        error = ERROR_ALREADY_INITIALIZED;
        return false;
    }
    error = ERROR_GEN_FAILURE;
    return run<const std::string>(&Win32Pipe::openOnEngine, &fullName, error);
}

void Win32Pipe::openOnEngine(const std::string* fullName, std::uint32_t* success, std::uint32_t* error) {
    UniqueHandle pipe(CreateFileA(fullName->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                  nullptr));
    *error = pipe.isValid() ? 0 : GetLastError();
    *success = 0;
    if (!pipe.isValid()) {
        return;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    const BOOL modeSet = SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
    *error = errorAfter(modeSet);
    *success = modeSet ? 1 : 0;
    if (modeSet) {
        handle_ = std::move(pipe); // a pipe that refuses the mode is closed with `pipe`
    }
}

bool Win32Pipe::startRead(std::uint32_t& error) {
    error = ERROR_GEN_FAILURE;
    return run<unsigned char>(&Win32Pipe::startReadOnEngine, &readByte_, error);
}

void Win32Pipe::startReadOnEngine(unsigned char* readByte, std::uint32_t* success, std::uint32_t* error) {
    readReadyFlag_.reset();
    resetOverlapped(readReadyOverlapped_, readReadyFlag_);
    const BOOL result = ReadFile(handle_.get(), readByte, 0, nullptr, &readReadyOverlapped_);
    *error = errorAfter(result);
    *success = result ? 1 : 0;
    if (*error == ERROR_IO_PENDING) {
        return; // armed: the flag is set when a message arrives
    }
    // Finished at once: the flag stays as the I/O left it, and a later result
    // query of the zeroed record answers success without waiting.
    resetOverlapped(readReadyOverlapped_, readReadyFlag_);
}

bool Win32Pipe::write(const void* data, std::uint64_t size, std::uint32_t& error) {
    if (size > 0xFFFFFFFFu) {
        error = ERROR_INVALID_PARAMETER; // one pipe message cannot be this long
        return false;
    }
    WriteArgs args{data, static_cast<std::uint32_t>(size)};
    error = ERROR_GEN_FAILURE;
    return run<WriteArgs>(&Win32Pipe::writeOnEngine, &args, error);
}

void Win32Pipe::writeOnEngine(WriteArgs* args, std::uint32_t* success, std::uint32_t* error) {
    resetOverlapped(writeOverlapped_, writeFlag_);
    const BOOL result = WriteFile(handle_.get(), args->data, args->size, nullptr, &writeOverlapped_);
    *error = errorAfter(result);
    *success = result ? 1 : 0;
    if (*error == ERROR_IO_PENDING) {
        return; // the flag is set on completion
    }
    if (*error == 0) {
        writeFlag_.set();
    }
    resetOverlapped(writeOverlapped_, writeFlag_);
}

void Win32Pipe::flush() {
    if (isOpen()) {
        std::uint32_t error = 0;
        run<void>(&Win32Pipe::flushOnEngine, handle_.get(), error);
    }
}

void Win32Pipe::flushOnEngine(void* handle, std::uint32_t* success, std::uint32_t* error) {
    const BOOL result = FlushFileBuffers(handle);
    *error = errorAfter(result);
    *success = result ? 1 : 0;
}

void Win32Pipe::close() {
    if (!isOpen()) {
        return;
    }
    // Closed for the caller at once; should the command fail, `handle`
    // still closes it here.
    UniqueHandle handle(handle_.take());
    std::uint32_t error = 0;
    run<UniqueHandle>(&Win32Pipe::closeOnEngine, &handle, error);
}

void Win32Pipe::closeOnEngine(UniqueHandle* handle, std::uint32_t* success, std::uint32_t* error) {
    const BOOL cancelled = CancelIo(handle->get());
    *error = errorAfter(cancelled);
    // A cancelled operation still writes into its record and buffer until it
    // has ended: wait for each before the handle (and later the record) goes.
    for (OVERLAPPED* overlapped : {&writeOverlapped_, &readReadyOverlapped_, &connectOverlapped_}) {
        if (overlapped->Internal == STATUS_PENDING) {
            DWORD count = 0;
            GetOverlappedResult(handle->get(), overlapped, &count, TRUE);
        }
    }
    handle->reset();
    *success = 1;
    // Reported last: the assertion handling may throw, and the handle must go first.
    QV_ASSERT_MSG(cancelled, narrowText(systemErrorText(*error)));
}

bool Win32Pipe::read(void* buffer, std::uint32_t size, std::uint32_t& transferred, std::uint32_t& error) {
    resetOverlapped(readOverlapped_, readFlag_);
    const BOOL result = ReadFile(handle_.get(), buffer, size, nullptr, &readOverlapped_);
    error = errorAfter(result);
    if (!result && error != ERROR_IO_PENDING) {
        return false;
    }
    DWORD count = 0;
    const BOOL finished = GetOverlappedResult(handle_.get(), &readOverlapped_, &count, TRUE);
    error = errorAfter(finished);
    transferred = count;
    return finished != FALSE;
}

bool Win32Pipe::readQueued(void* buffer, std::uint32_t size, std::uint32_t lingerMs,
                           std::uint32_t& transferred, std::uint32_t& error) {
    // A read that finds a message ends at once, and then asking for its
    // result makes no further call.
    resetOverlapped(readOverlapped_, readFlag_);
    const BOOL result = ReadFile(handle_.get(), buffer, size, nullptr, &readOverlapped_);
    error = errorAfter(result);
    if (!result && error == ERROR_IO_PENDING) {
        // Nothing queued. A message that follows within the linger completes
        // the read; otherwise it is cancelled. CancelIo ends this thread's
        // I/O only, which is this read: the zero-byte read belongs to the
        // engine thread. A message that came meanwhile completes the read
        // instead and is kept.
        if (lingerMs == 0 || !readFlag_.wait(std::int64_t(lingerMs) * 1000) ||
            readOverlapped_.Internal == STATUS_PENDING) {
            CancelIo(handle_.get());
        }
    } else if (!result && error != ERROR_MORE_DATA) {
        return false;
    }
    DWORD count = 0;
    const BOOL finished = GetOverlappedResult(handle_.get(), &readOverlapped_, &count, TRUE);
    error = errorAfter(finished);
    transferred = count;
    if (!finished && error == ERROR_OPERATION_ABORTED) {
        error = ERROR_IO_INCOMPLETE;
    }
    return finished || error == ERROR_MORE_DATA;
}

bool Win32Pipe::peek(void* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                     std::uint32_t& bytesLeftThisMessage, std::uint32_t& error) {
    DWORD read = 0;
    DWORD left = 0;
    const BOOL result = PeekNamedPipe(handle_.get(), buffer, size, &read, nullptr, &left);
    error = errorAfter(result);
    bytesRead = read;
    bytesLeftThisMessage = left;
    return result != FALSE;
}

bool Win32Pipe::getOverlappedResult(std::uint32_t type, std::uint32_t& transferred, std::uint32_t& error) {
    DWORD count = 0;
    const BOOL result = GetOverlappedResult(handle_.get(), &resultTypeToOverlapped(type), &count, FALSE);
    error = errorAfter(result);
    transferred = count;
    return result != FALSE;
}

IWaitable& Win32Pipe::getWaitable(std::uint32_t type) {
    switch (type) {
    case kConnectResult:
        return connectFlag_;
    case kReadReadyResult:
        return readReadyFlag_;
    case kWriteResult:
        return writeFlag_;
    default:
        throw std::invalid_argument("Unknown result type passed to getWaitable");
    }
}

OVERLAPPED& Win32Pipe::resultTypeToOverlapped(std::uint32_t type) {
    switch (type) {
    case kConnectResult:
        return connectOverlapped_;
    case kReadReadyResult:
        return readReadyOverlapped_;
    case kWriteResult:
        return writeOverlapped_;
    default:
        throw std::invalid_argument("Unknown result type passed to resultTypeToOverlapped");
    }
}

} // namespace qv::sys::win32
