#pragma once

// The command invoker: runs commands one at a time on a dedicated engine
// thread for any number of caller threads, and hands each command's
// exception back to its caller.
//
// Threads: any thread may call Controller::invoke; calls are admitted one at
// a time and their commands run in that order on the engine thread. The
// controller's destructor must not run while an invoke is in progress.

#include <cstdint>
#include <exception>
#include <memory>

#include "sys/concurrency/command.h"
#include "sys/concurrency/critical_section.h"
#include "sys/concurrency/event_fifo.h"
#include "sys/concurrency/squasher.h"
#include "sys/concurrency/thread_engine.h"

namespace qv::sys::CommandInvoker {

// A record of the command FIFO, copied in and out whole.
struct EngineCommand {
    static constexpr std::uint32_t kExecute = 0;
    static constexpr std::uint32_t kStop = 1;

    std::uint32_t kind;
    Command* command;              // null for stop
    std::exception_ptr* exception; // receives what the command threw; null for stop
};

enum State : std::uint32_t { NotStarted = 0, Running = 1, StopSeen = 2, Finished = 3 };

// Events of the engine's second source; none is fired yet.
struct Event {
    std::uint32_t code;
};

using Engines = ThreadEngine<EngineCommand, Event, State, 10, NullSquasher<EngineCommand>>;

// Serves the command FIFO until a stop record reaches its head, then discards
// whatever is still queued: the caller of a discarded command gets an
// InternalError, never a silent success.
class Engine : public Engines::Engine {
public:
    Engine();

protected:
    void run() override;

private:
    bool processCommands(); // false when a stop record is at the head
    void drain();
};

class Controller : public Engines::Controller {
public:
    // Starts the engine thread. Throws SystemError (code 10) when it cannot.
    Controller();
    // Stops the engine, lets it discard what is queued and joins it.
    ~Controller() override;

    // Runs command.execute() on the engine thread and rethrows here whatever
    // it threw. A command must not invoke on its own controller: that is
    // refused with InternalError rather than left to deadlock.
    void invoke(Command& command);

    // Queues one record; false only when a finite total time-out passed with the FIFO full.
    bool sendCommand(const EngineCommand& command, std::int64_t totalTimeout, std::int64_t sliceTimeout);
    // Returns when every queued record was run and removed; false only on a finite time-out.
    bool waitControlFifoEmpty(std::int64_t totalTimeout, std::int64_t sliceTimeout);

    // The engine's state changes, queued as they happen (the newest dropped beyond 100).
    TaggedValueFifo<100>& stateEvents() { return events_; }

private:
    EventFifo1<StateChangeEvent<State>, 100> events_;
    FifoWriter<EngineCommand>* writer_;
    std::unique_ptr<Engine> engine_;
    CriticalSection invokeLock_;
};

// Time-outs of the controller's own waits: no limit, waking every 200 ms.
constexpr std::int64_t kTotalTimeout = kWaitForever;
constexpr std::int64_t kSliceTimeout = 200000;

} // namespace qv::sys::CommandInvoker
