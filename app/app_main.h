#pragma once

// The application body: banner, adapter snapshot, record writer, dock event
// handler and message reader, then at most one second of collecting.

#include "app/record_writer.h"
#include "channel/message_reader.h"

#include <chrono>
#include <memory>
#include <ostream>

namespace qv::telemetry {

// The short name of the manager's pipe.
extern const std::string pipeName;

// How long the program collects events at most.
inline constexpr std::chrono::milliseconds waitLimit{1000};

// Filled by appMain; main empties it, the reader first.
struct AppState {
    std::unique_ptr<Receiver> writer;
    std::unique_ptr<sys::MessageReader> reader;
};

// The one line that opens standard output.
std::string copyrightBanner();

// Writes the banner and the document to `out`; returns with the reader slot
// empty and the writer alive.
void appMain(AppState& state, std::ostream& out);

} // namespace qv::telemetry
