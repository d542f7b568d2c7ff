#pragma once

// A state machine: an event source whose events are its own state changes.
//
// Threads: any thread may call setState and getState; getState takes no lock.

#include <atomic>
#include <cstdint>
#include <ostream>

#include "sys/concurrency/event_source.h"
#include "sys/logger/logger.h"

namespace qv::sys {

template <typename S>
struct StateChangeEvent {
    S from;
    S to;
};

// How a state is written to the log: its number unless a state type names
// its values (specialise for that type).
template <typename S>
struct StateText {
    static void write(std::ostream& stream, S state) { stream << static_cast<std::uint32_t>(state); }
};

template <typename S>
class StateMachine : public virtual Logger::Logged, public EventTemplate<StateChangeEvent<S>>::Source {
public:
    S getState() const { return state_.load(); }

    // Stores the new state and fires a StateChangeEvent; nothing when unchanged.
    void setState(S newState) {
        const S old = state_.exchange(newState);
        if (old == newState) {
            return;
        }
        if (isLogging(6)) {
            Logger::LogRecord record(*this, 6, __FILE__, 156);
            record << "State change from ";
            StateText<S>::write(record.stream(), old);
            record << " to ";
            StateText<S>::write(record.stream(), newState);
            record.end();
        }
        this->notify(StateChangeEvent<S>{old, newState});
    }

protected:
    StateMachine() : state_(static_cast<S>(0)) {}

private:
    std::atomic<S> state_;
};

} // namespace qv::sys
