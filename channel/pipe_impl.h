#pragma once

// The working half of the pipe facade: the pipe's state against its handle,
// arming the zero-byte read, peeking, reading and writing whole messages.
// Same thread rules as the facade (channel/pipe_client.h).

#include <cstdint>
#include <string>
#include <vector>

#include "channel/pipe_client.h"
#include "channel/win32_pipe.h"

namespace qv::sys {

class IpcPipe::PipeImpl : public StateMachine<PipeState::Enum>, public WinSecurableObject {
public:
    ~PipeImpl() override;

    // Whether the state agrees with the pipe handle.
    virtual bool invariantHolds() const = 0;
    virtual bool connect(std::int64_t timeoutMs, bool quiet) = 0;

    std::uint64_t peek(void* buffer, std::uint64_t size);
    bool readPacket(std::vector<std::uint8_t>& buffer);
    bool writePacket(const std::vector<std::uint8_t>& data);
    IWaitable& readWaitable();
    void close();

protected:
    // `maxMessageSize` 0 means no limit; larger messages are logged, not refused.
    explicit PipeImpl(const std::string& name, std::uint64_t maxMessageSize);

    void* securedHandle() const override { return pipe_.handle(); }

    // Arms the zero-byte read unless it is armed; false (logged) with the
    // error when it cannot be.
    bool ensureReadPending(std::uint32_t& error);
    // Logs, closes the pipe and throws the pipe error with `error`.
    [[noreturn]] void fail(const char* what, std::uint32_t error);

    // Takes the next message into `message_` if one is queued; false when
    // none is. Fails (logged, closed, thrown) on a pipe error.
    bool takeMessage();
    // Logs, closes the pipe and throws ERROR_HANDLE_EOF for a message of
    // `total` bytes where `needed` were asked for.
    [[noreturn]] void failShort(std::uint64_t total, std::uint64_t needed);

    bool readPending_ = false;
    // A message was taken and no read is armed: the next peek takes the next
    // message straight from the pipe, in one call while messages are queued,
    // and arms the zero-byte read only when it finds none. Messages of a
    // burst so cost neither a wait, a signal of the read-ready flag nor a
    // round trip to the engine thread.
    bool takeDirectly_ = false;
    // The message taken from the pipe and not yet handed over by readPacket:
    // its first `held_` bytes, when `holding_`. The buffer keeps its size
    // between messages and grows for a larger one.
    std::vector<std::uint8_t> message_;
    std::uint64_t held_ = 0;
    bool holding_ = false;
    std::uint64_t maxMessageSize_;
    std::string fullName_;
    win32::Win32Pipe pipe_;
};

class ClientImpl : public IpcPipe::PipeImpl {
public:
    ClientImpl(const std::string& name, const std::string& namePart);
    ~ClientImpl() override;

    bool invariantHolds() const override;
    bool connect(std::int64_t timeoutMs, bool quiet) override;

private:
    // Quiet connects still report, once per client, an open that fails for
    // another reason than a pipe that is absent or busy.
    bool openFailureLogged_ = false;
};

} // namespace qv::sys
