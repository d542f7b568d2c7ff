#pragma once

#include "tools/manager_simulator/frames.h"

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::simulator {

inline constexpr const char* defaultPipeName = "qvm_message_server";
inline constexpr const char* pipePrefix = "\\\\.\\pipe\\";
// --linger value that holds the connection until the client closes it.
inline constexpr std::int64_t lingerUntilClientCloses = -1;

// Exit statuses of the program.
enum ExitStatus : int {
    exitDone = 0,
    exitFailure = 1,
    exitUsage = 2,
    exitNoClient = 3,
    exitStopped = 4,
};

// A bad command line or unusable input; the text says what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string pipeName = defaultPipeName; // short name
    std::string file;                       // empty: the built-in sample cache
    std::uint64_t repeat = 1;
    std::uint64_t delayMs = 0;
    std::vector<FrameKind> badKinds;
    std::uint64_t badEvery = 1;
    std::uint64_t closeAfter = 0; // 0: never
    std::uint64_t clients = 0;    // 0: no limit
    bool eachClient = false;
    std::uint64_t waitMs = 0; // 0: no limit
    std::int64_t lingerMs = 0;
    bool quiet = false;
    bool help = false;

    std::string fullPipeName() const { return pipePrefix + pipeName; }
};

// The arguments after the program name. Throws UsageError.
Options parseOptions(const std::vector<std::string>& args);
std::string usageText(const std::string& program);

// One dock event text per line: line ends (LF or CRLF) removed, lines of only
// white space skipped, every other line kept as it is.
std::vector<std::string> readEventLines(std::istream& in);

// A small cache as the manager would hold it: docks connecting (event 3) and
// leaving (event 2), stamped a few seconds apart up to `now`.
std::vector<std::string> sampleCache(std::int64_t now);

} // namespace qv::simulator
