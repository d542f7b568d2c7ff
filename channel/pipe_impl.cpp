#include "channel/pipe_impl.h"

#include <windows.h>

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "sys/config/registry_key_reader.h"
#include "sys/errors/assertion.h"
#include "sys/errors/exception.h"

namespace qv::sys {

namespace {

using Logger::kDebug;
using Logger::kError;
using Logger::kWarn;

// How long a pending write may take before the pipe is given up.
constexpr std::int64_t kWriteTimeoutUs = 5000000;
// The longest single pause between looks for an absent pipe.
constexpr DWORD kConnectPauseMs = 100;
// The client's own message buffer; a larger message makes it grow.
constexpr std::size_t kMessageBufferSize = 64 * 1024;
// How long the read that ends a burst waits for one more message before the
// client arms the zero-byte read through the engine thread: under a steady
// flood the next message is usually this close, and taking it so costs a
// fraction of the round trips of arming and waking.
constexpr std::uint32_t kBurstLingerMs = 2;

std::string stateText(PipeState::Enum state, bool handleOpen) {
    std::ostringstream text;
    text << "state " << state << ", handle " << (handleOpen ? "open" : "closed");
    return text.str();
}

} // namespace

IpcPipe::PipeImpl::PipeImpl(const std::string& name, std::uint64_t maxMessageSize)
    : WinSecurableObject(6 /* SE_KERNEL_OBJECT */), maxMessageSize_(maxMessageSize) {
    fullName_ = "\\\\.\\pipe\\" + name;
    setState(PipeState::NotConnected);
    QV_LOG(kDebug) << "Pipe " << fullName_ << " created";
}

IpcPipe::PipeImpl::~PipeImpl() {
    try {
        // Flushed first only from Windows 10 build 10587 (version code 12) on.
        if (pipe_.isOpen() && win32::windowsVersionCode() >= 12) {
            pipe_.flush();
        }
        pipe_.close();
        setState(PipeState::Disconnected);
        QV_LOG(kDebug) << "Pipe " << fullName_ << " destroyed";
    } catch (...) {
        // The Win32Pipe still closes its handle and stops its engine.
    }
}

void IpcPipe::PipeImpl::fail(const char* what, std::uint32_t error) {
    QV_LOG(kError) << what << " on " << fullName_ << ": " << SystemErrorCode(error);
    close();
    throw SystemMessageException(MessageId(kMessagePipeError), SystemErrorCode(error));
}

void IpcPipe::PipeImpl::close() {
    holding_ = false;
    takeDirectly_ = false;
    pipe_.close();
    setState(PipeState::Disconnected);
}

IWaitable& IpcPipe::PipeImpl::readWaitable() {
    return pipe_.getWaitable(win32::Win32Pipe::kReadReadyResult);
}

bool IpcPipe::PipeImpl::ensureReadPending(std::uint32_t& error) {
    QV_ASSERT_MSG(invariantHolds(), stateText(getState(), pipe_.isOpen()));
    error = 0;
    if (readPending_) {
        return true;
    }
    // A message that is already there completes the read at once (0 or
    // ERROR_MORE_DATA): armed all the same, with the flag set.
    if (!pipe_.startRead(error) && error != 0 && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
        QV_LOG(kError) << "Cannot arm the read on " << fullName_ << ": " << SystemErrorCode(error);
        return false;
    }
    readPending_ = true;
    return true;
}

void IpcPipe::PipeImpl::failShort(std::uint64_t total, std::uint64_t needed) {
    QV_LOG(kError) << "Message of " << total << " bytes on " << fullName_ << ", " << needed << " needed";
    close();
    throw SystemMessageException(MessageId(kMessagePipeError), SystemErrorCode(ERROR_HANDLE_EOF));
}

std::uint64_t IpcPipe::PipeImpl::peek(void* buffer, std::uint64_t size) {
    QV_ASSERT_MSG(invariantHolds(), stateText(getState(), pipe_.isOpen()));
    QV_ASSERT(buffer == nullptr || size != 0);
    if (buffer == nullptr) {
        size = 0;
    }
    if (!holding_) {
        if (!readPending_ && !takeDirectly_) {
            throw Failure("Unexpected no read pending");
        }
        std::uint32_t error = 0;
        if (readPending_) {
            std::uint32_t transferred = 0; // none: the read is of zero bytes
            if (!pipe_.getOverlappedResult(win32::Win32Pipe::kReadReadyResult, transferred, error)) {
                if (error == ERROR_IO_INCOMPLETE) {
                    return 0; // no message yet
                }
                if (error != 0 && error != ERROR_MORE_DATA) {
                    fail("Waiting for a message failed", error);
                }
            }
            readPending_ = false;
            takeDirectly_ = true;
            // The armed read ended on a message. None left means it was an
            // empty one, which that read consumed.
            if (!takeMessage()) {
                failShort(0, size);
            }
        } else if (!takeMessage()) {
            // The burst is over: wait for the next message through the armed read.
            takeDirectly_ = false;
            if (!ensureReadPending(error)) {
                close(); // logged as it failed
                throw SystemMessageException(MessageId(kMessagePipeError), SystemErrorCode(error));
            }
            return 0;
        }
    }

    const std::uint64_t total = held_;
    if (buffer != nullptr) {
        std::copy_n(message_.data(), std::min(size, total), static_cast<std::uint8_t*>(buffer));
    }
    if (maxMessageSize_ != 0 && maxMessageSize_ < total) {
        QV_LOG(kDebug) << "Message of " << total << " bytes exceeds " << maxMessageSize_;
        const std::uint64_t shown = std::min(size, total);
        if (shown != 0 && isLogging(kDebug)) {
            std::ostringstream bytes;
            bytes << std::hex << std::uppercase << std::setfill('0');
            for (std::uint64_t i = 0; i < shown; ++i) {
                bytes << std::setw(2) << unsigned(message_[i]) << ' ';
            }
            QV_LOG(kDebug) << bytes.str();
        }
    }
    // A message shorter than the caller needs ends the connection, and so
    // does an empty one.
    if (total < size || total == 0) {
        failShort(total, size);
    }
    return total;
}

bool IpcPipe::PipeImpl::takeMessage() {
    if (message_.size() < kMessageBufferSize) {
        message_.resize(kMessageBufferSize);
    }
    std::uint32_t got = 0;
    std::uint32_t error = 0;
    if (!pipe_.readQueued(message_.data(), static_cast<std::uint32_t>(message_.size()), kBurstLingerMs, got,
                          error)) {
        if (error == ERROR_IO_INCOMPLETE) {
            return false;
        }
        fail("Reading the message failed", error);
    }
    // Larger than the buffer: the pipe tells what is left of it, which the
    // peer may still be writing.
    std::uint64_t taken = got;
    while (error == ERROR_MORE_DATA) {
        std::uint32_t peeked = 0;
        std::uint32_t left = 0;
        if (!pipe_.peek(nullptr, 0, peeked, left, error)) {
            fail("Peeking the message failed", error);
        }
        if (left == 0) {
            break; // nothing more to wait for: a read now would wait for the next message
        }
        if (taken + left > 0xFFFFFFFFu) {
            fail("Message too long", ERROR_INVALID_DATA);
        }
        if (message_.size() < taken + left) {
            message_.resize(taken + left);
        }
        const bool finished = pipe_.read(message_.data() + taken, left, got, error);
        taken += got;
        if (!finished && error != ERROR_MORE_DATA) {
            fail("Reading the message failed", error);
        }
        if (finished) {
            error = 0;
        }
    }
    held_ = taken;
    holding_ = true;
    return true;
}

bool IpcPipe::PipeImpl::readPacket(std::vector<std::uint8_t>& buffer) {
    // Usually the caller has just peeked this message and it is held.
    if (!holding_ && peek(nullptr, 0) == 0) {
        return false;
    }
    buffer.assign(message_.begin(), message_.begin() + static_cast<std::ptrdiff_t>(held_));
    holding_ = false;
    if (message_.size() > kMessageBufferSize) {
        // One large message must not keep its memory for the connection's life.
        std::vector<std::uint8_t>(kMessageBufferSize).swap(message_);
    }
    return true;
}

bool IpcPipe::PipeImpl::writePacket(const std::vector<std::uint8_t>& data) {
    QV_ASSERT_MSG(invariantHolds(), stateText(getState(), pipe_.isOpen()));
    QV_ASSERT(!data.empty());
    std::uint32_t error = 0;
    const bool started = pipe_.write(data.data(), data.size(), error);
    if (started && error != ERROR_IO_PENDING) {
        return true;
    }
    if (error == ERROR_IO_PENDING) {
        if (pipe_.getWaitable(win32::Win32Pipe::kWriteResult).wait(kWriteTimeoutUs)) {
            // Signalled also when the write failed: ask how it ended.
            std::uint32_t written = 0;
            if (pipe_.getOverlappedResult(win32::Win32Pipe::kWriteResult, written, error)) {
                return true;
            }
        } else {
            QV_LOG(kWarn) << "Write on " << fullName_ << " not finished in time";
        }
    }
    QV_LOG(kError) << "Write on " << fullName_ << " failed: " << SystemErrorCode(error);
    close();
    throw SystemMessageException(MessageId(kMessagePipeError), SystemErrorCode(ERROR_BROKEN_PIPE));
}

ClientImpl::ClientImpl(const std::string& name, const std::string& namePart)
    : Logged("IpcPipeClientImpl", name + namePart, "", 0x100000, 0), PipeImpl(name, 0) {}

ClientImpl::~ClientImpl() = default;

bool ClientImpl::invariantHolds() const {
    switch (getState()) {
    case PipeState::NotCreated:
    case PipeState::Listening:
        return true;
    case PipeState::NotConnected:
    case PipeState::Disconnected:
        return !pipe_.isOpen();
    case PipeState::Connected:
        return pipe_.isOpen();
    default:
        return false;
    }
}

bool ClientImpl::connect(std::int64_t timeoutMs, bool quiet) {
    QV_ASSERT_MSG(invariantHolds(), stateText(getState(), pipe_.isOpen()));
    if (getState() != PipeState::NotConnected) {
        return false;
    }

    auto remaining = static_cast<DWORD>(timeoutMs & 0xFFFFFFFF);
    for (;;) {
        // Never 0: that would wait for the server's own default time-out,
        // which the server chooses, and could hold up the caller's shutdown.
        if (WaitNamedPipeA(fullName_.c_str(), std::max<DWORD>(remaining, 1))) {
            break;
        }
        const DWORD error = GetLastError();
        if (remaining == 0 || error != ERROR_FILE_NOT_FOUND) {
            if (!quiet) {
                QV_LOG(kError) << "Pipe " << fullName_ << " not available: " << SystemErrorCode(error);
            }
            return false;
        }
        const DWORD pause = std::min(remaining, kConnectPauseMs);
        Sleep(pause);
        remaining -= pause;
    }

    std::uint32_t error = 0;
    if (!pipe_.open(fullName_, error) || !pipe_.isOpen()) {
        // An instance taken by another client, or a server that went away,
        // is ordinary; a pipe that refuses us is worth one record even when quiet.
        const bool ordinary = error == ERROR_PIPE_BUSY || error == ERROR_FILE_NOT_FOUND;
        if (!quiet || (!ordinary && !openFailureLogged_)) {
            QV_LOG(kError) << "Cannot open " << fullName_ << ": " << SystemErrorCode(error);
            openFailureLogged_ = openFailureLogged_ || quiet;
        }
        return false;
    }

    setState(PipeState::Connected);
    if (ensureReadPending(error)) {
        return true;
    }
    close();
    throw SystemMessageException(MessageId(kMessagePipeError), SystemErrorCode(error));
}

} // namespace qv::sys
