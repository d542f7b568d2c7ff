#include "channel/win32_pipe.h"

#include <stdexcept>

#include "sys/errors/assertion.h"
#include "sys/errors/exception.h"

namespace qv::sys::win32 {

namespace {

bool isValid(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

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
    return isValid(handle_);
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
    const HANDLE pipe =
        CreateFileA(fullName->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    *error = isValid(pipe) ? 0 : GetLastError();
    *success = 0;
    if (!isValid(pipe)) {
        return;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    const BOOL modeSet = SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    *error = errorAfter(modeSet);
    *success = modeSet ? 1 : 0;
    if (!modeSet) {
        CloseHandle(pipe);
        return;
    }
    if (isValid(handle_) && handle_ != pipe) {
        CloseHandle(handle_);
    }
    handle_ = pipe;
}

bool Win32Pipe::startRead(std::uint32_t& error) {
    error = ERROR_GEN_FAILURE;
    return run<unsigned char>(&Win32Pipe::startReadOnEngine, &readByte_, error);
}

void Win32Pipe::startReadOnEngine(unsigned char* readByte, std::uint32_t* success, std::uint32_t* error) {
    readReadyFlag_.reset();
    resetOverlapped(readReadyOverlapped_, readReadyFlag_);
    const BOOL result = ReadFile(handle_, readByte, 0, nullptr, &readReadyOverlapped_);
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
    const BOOL result = WriteFile(handle_, args->data, args->size, nullptr, &writeOverlapped_);
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
        run<void>(&Win32Pipe::flushOnEngine, handle_, error);
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
    // Closed for the caller at once, even if the command fails.
    void* const handle = handle_;
    handle_ = nullptr;
    std::uint32_t error = 0;
    run<void>(&Win32Pipe::closeOnEngine, handle, error);
}

void Win32Pipe::closeOnEngine(void* handle, std::uint32_t* success, std::uint32_t* error) {
    const BOOL cancelled = CancelIo(handle);
    *error = errorAfter(cancelled);
    // A cancelled operation still writes into its record and buffer until it
    // has ended: wait for each before the handle (and later the record) goes.
    for (OVERLAPPED* overlapped : {&writeOverlapped_, &readReadyOverlapped_, &connectOverlapped_}) {
        if (overlapped->Internal == STATUS_PENDING) {
            DWORD count = 0;
            GetOverlappedResult(handle, overlapped, &count, TRUE);
        }
    }
    *success = CloseHandle(handle) ? 1 : 0;
    // Reported last: the assertion handling may throw, and the handle must go first.
    QV_ASSERT_MSG(cancelled, narrowText(systemErrorText(*error)));
}

bool Win32Pipe::read(void* buffer, std::uint32_t size, std::uint32_t& transferred, std::uint32_t& error) {
    resetOverlapped(readOverlapped_, readFlag_);
    const BOOL result = ReadFile(handle_, buffer, size, nullptr, &readOverlapped_);
    error = errorAfter(result);
    if (!result && error != ERROR_IO_PENDING) {
        return false;
    }
    DWORD count = 0;
    const BOOL finished = GetOverlappedResult(handle_, &readOverlapped_, &count, TRUE);
    error = errorAfter(finished);
    transferred = count;
    return finished != FALSE;
}

bool Win32Pipe::peek(void* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                     std::uint32_t& bytesLeftThisMessage, std::uint32_t& error) {
    std::uint32_t available = 0;
    return peek(buffer, size, bytesRead, bytesLeftThisMessage, available, error);
}

bool Win32Pipe::peek(void* buffer, std::uint32_t size, std::uint32_t& bytesRead,
                     std::uint32_t& bytesLeftThisMessage, std::uint32_t& bytesAvailable, std::uint32_t& error) {
    DWORD read = 0;
    DWORD available = 0;
    DWORD left = 0;
    const BOOL result = PeekNamedPipe(handle_, buffer, size, &read, &available, &left);
    error = errorAfter(result);
    bytesRead = read;
    bytesLeftThisMessage = left;
    bytesAvailable = available;
    return result != FALSE;
}

void Win32Pipe::signalReadReady() {
    readReadyFlag_.set();
}

bool Win32Pipe::getOverlappedResult(std::uint32_t type, std::uint32_t& transferred, std::uint32_t& error) {
    DWORD count = 0;
    const BOOL result = GetOverlappedResult(handle_, &resultTypeToOverlapped(type), &count, FALSE);
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
