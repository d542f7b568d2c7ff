#pragma once

// The client end of a message-mode named pipe over overlapped I/O.
//
//   IpcPipeClient client("qvm_message_server", "");
//   if (client.connect(60, true)) {
//       wait on client.readWaitable(), then
//       while (client.peek(header, 8) >= 8 && client.readPacket(message)) ...
//   }
//
// Wait on readWaitable() only after peek has answered 0: a message is taken
// from the pipe as it is peeked, and the messages queued behind it are then
// taken one call each without raising the read-ready signal.
//
// Threads: one thread at a time drives a client (connect, peek, the packet
// operations, destruction); readWaitable() may be waited on from any thread.
// Pipe I/O failures throw SystemMessageException (message id 0x1E with the
// Win32 error) and leave the client Disconnected; a Disconnected client is
// not reused: make a new one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/packet_conn.h"
#include "channel/pipe_state.h"
#include "sys/concurrency/securable_object.h"
#include "sys/concurrency/state_machine.h"

namespace qv::sys {

// State changes of pipes are logged with the state names.
template <>
struct StateText<PipeState::Enum> {
    static void write(std::ostream& stream, PipeState::Enum state) { stream << state; }
};

// The facade: every operation forwards to the implementation and then copies
// its state, also when the operation throws, so observers of the facade see
// the implementation's transitions, later and possibly merged.
class IpcPipe : public StateMachine<PipeState::Enum>, public PacketConn, public ISecurableObject {
public:
    class PipeImpl;

    ~IpcPipe() override;

    bool readPacket(std::vector<std::uint8_t>& buffer) override;
    // An empty buffer answers false without any I/O.
    bool writePacket(const std::vector<std::uint8_t>& data) override;
    bool peekPacket(std::vector<std::uint8_t>& buffer) override;
    IWaitable& readWaitable() override;
    bool setAccess(const ITrustee& trustee, bool allow, std::uint32_t rights) override;

    // The whole size of the next message, its first `size` bytes copied into
    // `buffer`; 0 when no message is ready. A message shorter than `size`
    // ends the connection (error 38, ERROR_HANDLE_EOF). The message is held
    // by the client from then on, for the readPacket that follows.
    std::uint64_t peek(void* buffer, std::uint64_t size);
    bool isConnected() const { return getState() == PipeState::Connected; }

protected:
    IpcPipe(std::unique_ptr<PipeImpl> impl, const std::string& name);
    // Runs `operation` on the implementation and copies its state afterwards.
    template <typename Operation>
    auto forward(Operation operation) -> decltype(operation());
    void copyState();

    std::unique_ptr<PipeImpl> impl_;
    std::string name_;
};

class IpcPipeClient : public IpcPipe {
public:
    // `name` is the short pipe name ("qvm_message_server"); `namePart` is
    // appended to it in the log's instance id.
    IpcPipeClient(const std::string& name, const std::string& namePart);
    ~IpcPipeClient() override;

    // Waits up to `timeoutMs` for the pipe, opens it and arms the read. False
    // when the pipe is absent, busy or refuses the open, and for a client that
    // is not NotConnected. `quiet` keeps an absent or busy pipe out of the log.
    // Throws SystemMessageException when the read cannot be armed.
    bool connect(std::int64_t timeoutMs, bool quiet);
};

} // namespace qv::sys
