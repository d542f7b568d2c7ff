#pragma once

// A thread that serves commands from a FIFO, and its controller. The engine
// is a state machine over S and a source of events E; the controller side
// writes commands into the engine's FIFO.

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <boost/noncopyable.hpp>

#include "sys/concurrency/event_source.h"
#include "sys/concurrency/fifo.h"
#include "sys/concurrency/state_machine.h"
#include "sys/concurrency/thread.h"
#include "sys/concurrency/waitable.h"
#include "sys/logger/logger.h"

namespace qv::sys {

// Waits, in slices, until `holds()`: each slice waits on `flag` (which
// announces that the condition may have come about) and rechecks. `total` is
// a time-out as for IWaitable::wait: kWaitForever means no limit; otherwise
// false once `total` microseconds passed without the condition (at once for
// a negative one), measured from the call however often the flag woke the
// wait, with a level-6 record for each slice that times out early.
template <typename Condition>
bool waitSliced(const Logger::Logged& logged, const char* operation, IWaitable& flag, Condition holds,
                std::int64_t total, std::int64_t slice) {
    using Clock = std::chrono::steady_clock;
    // Beyond a century a limit is as good as none (kWaitForever among them),
    // and the deadline cannot overflow.
    constexpr std::int64_t kLongestLimit = 100LL * 365 * 24 * 3600 * 1000000;
    const bool limited = total <= kLongestLimit;
    const std::int64_t limit = limited ? std::max<std::int64_t>(total, 0) : 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(limit);
    while (!holds()) {
        std::int64_t timeout = slice;
        if (limited) {
            const std::int64_t left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return false;
            }
            timeout = std::min(left, slice);
        }
        if (!flag.wait(timeout) && limited && timeout == slice) {
            QV_LOG_AS(logged, 6) << operation << ": still waiting";
        }
    }
    return true;
}

template <typename C, typename E, typename S, std::uint32_t N, typename Q>
class ThreadEngine {
public:
    class Base : public virtual Logger::Logged, private boost::noncopyable {
    public:
        ~Base() override = default;
    };

    // Threads: the engine thread is the FIFO's only consumer; its producers
    // are the controller's callers.
    class Engine : public Base, public Thread, public StateMachine<S>, public EventTemplate<E>::Source {
    public:
        // The producer's face of the command FIFO.
        FifoWriter<C>& writer() { return fifo_; }

        // Engine side: returns when the FIFO holds a command; false only on a finite time-out.
        bool waitForCommand(std::int64_t total, std::int64_t slice) {
            return waitSliced(
                *this, "waitForCommand", fifo_.notEmptyFlag(), [this] { return !reader_->isEmpty(); }, total,
                slice);
        }

    protected:
        Engine() : reader_(&fifo_) {}

        Fifo<C, N, Q> fifo_;
        FifoReader<C, N, Q>* reader_;
    };

    class Controller : public Base {};
};

} // namespace qv::sys
