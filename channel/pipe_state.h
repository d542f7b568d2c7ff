#pragma once

#include <cstdint>
#include <ostream>

namespace qv::sys {

// States of both ends of a named pipe; the client never enters Listening.
struct PipeState {
    enum Enum : std::uint32_t {
        NotCreated = 0,   // a new state machine
        NotConnected = 1, // no pipe handle; connect allowed
        Listening = 2,    // server side only
        Connected = 3,    // pipe open in message read mode
        Disconnected = 4, // closed after an error or at destruction; final
    };
};

// "NotCreated" .. "Disconnected"; null for a value outside the enumeration.
const char* pipeStateName(PipeState::Enum state);

// The name, or the number for a value outside the enumeration.
std::ostream& operator<<(std::ostream& stream, PipeState::Enum state);

} // namespace qv::sys
