#include "channel/pipe_state.h"

namespace qv::sys {

const char* pipeStateName(PipeState::Enum state) {
    static const char* const names[] = {"NotCreated", "NotConnected", "Listening", "Connected",
                                        "Disconnected"};
    return state < sizeof(names) / sizeof(names[0]) ? names[state] : nullptr;
}

std::ostream& operator<<(std::ostream& stream, PipeState::Enum state) {
    if (const char* name = pipeStateName(state)) {
        return stream << name;
    }
    return stream << static_cast<std::uint32_t>(state);
}

} // namespace qv::sys
