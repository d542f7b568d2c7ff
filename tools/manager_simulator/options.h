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

// The texts the simulator sends, each with the line it came from and what the
// agent will make of it.
class EventLines {
public:
    // Texts numbered 1, 2, 3...: the sample cache, or lines made by a test.
    EventLines(std::vector<std::string> texts);
    // `numbers` as long as `texts`.
    EventLines(std::vector<std::string> texts, std::vector<std::size_t> numbers);

    std::size_t size() const { return texts.size(); }
    bool empty() const { return texts.empty(); }
    const std::string& text(std::size_t index) const { return texts.at(index); }
    // The line as an editor numbers it, from 1.
    std::size_t number(std::size_t index) const { return numbers.at(index); }
    // Empty for a dock event the agent decodes; else why it drops the text:
    // "not valid JSON" or "not a dock event: <what is wrong>".
    const std::string& problem(std::size_t index) const { return problems.at(index); }

private:
    std::vector<std::string> texts;
    std::vector<std::size_t> numbers;
    std::vector<std::string> problems;
};

// One dock event text per line: line ends (LF or CRLF) removed, lines of only
// white space skipped (but counted), every other line kept as it is.
EventLines readEventLines(std::istream& in);

// How the report names frame `frame` of a plan over `lines`: "good (line 6)",
// "sent as given, not valid JSON (line 7)", "short (after line 6)".
std::string describeFrame(const PlannedFrame& frame, const EventLines& lines);

// The kinds of `badKinds` that a plan of `badFrames` bad frames never sends
// (the kinds take turns, so only the first badFrames of them come up).
std::vector<FrameKind> kindsNeverSent(const std::vector<FrameKind>& badKinds, std::uint64_t badFrames);

// A small cache as the manager would hold it: docks connecting (event 3) and
// leaving (event 2), stamped a few seconds apart up to `now`.
std::vector<std::string> sampleCache(std::int64_t now);

} // namespace qv::simulator
