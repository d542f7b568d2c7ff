#pragma once

// Process-wide error handling: installed once by the process entry, first
// thing. Fatal paths claim one process-wide flag so that of several threads
// failing at once exactly one logs and dumps.

#include <string>

namespace qv::sys {

namespace Logger {
class Logged;
}

// Installs the runtime hooks, the terminate and abort-signal handlers and the
// calling thread's structured-exception translator. Safe to call again.
void installErrorHandlers();

// The "ErrorHandler" identity the handlers log with; null before installErrorHandlers.
const Logger::Logged* defaultErrorIdentity();

// One atomic exchange: true for the first caller in the process only.
bool claimFatal();

// Logs `text` and the exception being handled at level 1 (with `logged`, or
// the default identity when null) unless a fatal error is already in
// progress, then aborts. Call from inside a catch block.
[[noreturn]] void fatalError(const std::string& text, const Logger::Logged* logged);

} // namespace qv::sys
