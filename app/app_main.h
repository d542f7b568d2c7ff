#pragma once

// The application body: banner, adapter snapshot, record writer, dock event
// handler and message reader, then at most one second of collecting.

#include "app/record_writer.h"
#include "channel/message_reader.h"

#include <chrono>
#include <functional>
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

// Makes the message reader; the program's own starts the real one.
using ReaderFactory = std::function<std::unique_ptr<sys::MessageReader>(std::unique_ptr<sys::MessageHandler>,
                                                                        const std::string& pipeName)>;
std::unique_ptr<sys::MessageReader> startMessageReader(std::unique_ptr<sys::MessageHandler> handler,
                                                       const std::string& pipeName);

// The one line that opens standard output.
std::string copyrightBanner();

// Writes the banner and the document to `out`; returns with the reader slot
// empty and the writer alive.
void appMain(AppState& state, std::ostream& out, const ReaderFactory& makeReader = startMessageReader);

// Everything the process entry does once the logger runs: error handlers,
// working directory, thread name, appMain and the teardown. Returns 0; a
// failure ends the process through fatalError (exit status 3).
int runAgent(std::ostream& out, const ReaderFactory& makeReader = startMessageReader);

} // namespace qv::telemetry
