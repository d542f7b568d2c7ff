#pragma once

#include "tools/manager_simulator/options.h"

#include <boost/noncopyable.hpp>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace qv::simulator {

struct RunSummary {
    int status = exitDone;
    std::uint64_t sent = 0; // pipe messages written, good and bad
    std::uint64_t goodSent = 0;
    std::uint64_t badSent = 0;
    std::uint64_t bytes = 0;
    std::uint64_t notDelivered = 0; // failed writes (the message goes to the next client)
    std::uint64_t unsent = 0;       // of the shared plan, when the run ended before its end
    std::uint64_t clients = 0;
    std::string error; // what failed, with exitFailure
};

// The server end of the manager's pipe: one instance at a time, the next one
// created before the current one is closed, so that the name never vanishes
// while clients come and go. Writes the frames of the plan in order and
// reports each on `report`.
// Threads: run() on one thread; requestStop() from any thread. A console
// control handler, which may still run while the server goes away, sets an
// event of its own that the server was given instead.
class PipeServer : boost::noncopyable {
public:
    // `lines` must not be empty. `stopEvent`, when given, is a manual-reset
    // event handle that stops run() once set; the server waits on a duplicate
    // of it and leaves the caller's handle alone. Throws std::runtime_error
    // when the key store does not give the channel key or the stop event
    // cannot be made.
    PipeServer(Options options, EventLines lines, std::ostream& report,
               void* stopEvent = nullptr);
    ~PipeServer();

    RunSummary run();
    void requestStop();

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace qv::simulator
