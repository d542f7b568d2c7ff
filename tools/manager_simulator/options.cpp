#include "tools/manager_simulator/options.h"

#include "channel/dock_event.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <istream>
#include <limits>
#include <numeric>

namespace qv::simulator {
namespace {

std::uint64_t parseCount(const std::string& option, const std::string& text) {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    if (text.empty()) {
        throw UsageError(option + ": a number is missing");
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            throw UsageError(option + ": '" + text + "' is not a whole number");
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (most - digit) / 10) {
            throw UsageError(option + ": '" + text + "' is too large");
        }
        value = value * 10 + digit;
    }
    return value;
}

// Milliseconds for the Win32 waits: below INFINITE.
std::uint64_t parseMilliseconds(const std::string& option, const std::string& text) {
    const std::uint64_t value = parseCount(option, text);
    if (value >= 0xFFFFFFFFull) {
        throw UsageError(option + ": '" + text + "' milliseconds is too long");
    }
    return value;
}

std::string shortPipeName(const std::string& text) {
    std::string name = text;
    if (name.compare(0, std::string(pipePrefix).size(), pipePrefix) == 0) {
        name.erase(0, std::string(pipePrefix).size());
    }
    // Windows takes up to 256 characters after the prefix, no backslash.
    if (name.empty() || name.size() > 247 || name.find('\\') != std::string::npos) {
        throw UsageError("--pipe: '" + text + "' is not a pipe name");
    }
    return name;
}

// Words of `text` in lines of at most `width` columns, each line indented.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width) {
    std::string out;
    std::string line(indent, ' ');
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string word = text.substr(start, end - start);
        if (line.size() > indent && line.size() + word.size() > width) {
            line.pop_back(); // the space after the last word
            out += line + "\n";
            line.assign(indent, ' ');
        }
        line += word;
        start = end;
    }
    return out + line + "\n";
}

bool isBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

} // namespace

Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool inlineValue = false;
        const std::size_t equals = option.find('=');
        if (option.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.erase(equals);
            inlineValue = true;
        }
        auto takeValue = [&]() -> const std::string& {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    throw UsageError(option + ": a value is missing");
                }
                value = args[++i];
            }
            return value;
        };
        auto noValue = [&]() {
            if (inlineValue) {
                throw UsageError(option + " takes no value");
            }
        };

        if (option == "-h" || option == "--help") {
            noValue();
            options.help = true;
        } else if (option == "-f" || option == "--file") {
            options.file = takeValue();
            if (options.file.empty()) {
                throw UsageError(option + ": the file name is empty");
            }
        } else if (option == "-p" || option == "--pipe") {
            options.pipeName = shortPipeName(takeValue());
        } else if (option == "-n" || option == "--repeat") {
            options.repeat = parseCount(option, takeValue());
            if (options.repeat == 0) {
                throw UsageError(option + ": the set must be sent at least once");
            }
        } else if (option == "-d" || option == "--delay") {
            options.delayMs = parseMilliseconds(option, takeValue());
        } else if (option == "--bad") {
            try {
                options.badKinds = parseBadFrameKinds(takeValue());
            } catch (const std::invalid_argument& e) {
                throw UsageError(option + ": " + e.what());
            }
        } else if (option == "--bad-every") {
            options.badEvery = parseCount(option, takeValue());
            if (options.badEvery == 0) {
                throw UsageError(option + ": the interval must be at least 1");
            }
        } else if (option == "--close-after") {
            options.closeAfter = parseCount(option, takeValue());
        } else if (option == "--clients") {
            options.clients = parseCount(option, takeValue());
        } else if (option == "--each-client") {
            noValue();
            options.eachClient = true;
        } else if (option == "--wait") {
            options.waitMs = parseMilliseconds(option, takeValue());
        } else if (option == "--linger") {
            const std::string& text = takeValue();
            options.lingerMs = text == "client" ? lingerUntilClientCloses
                                                : static_cast<std::int64_t>(parseMilliseconds(option, text));
        } else if (option == "-q" || option == "--quiet") {
            noValue();
            options.quiet = true;
        } else {
            throw UsageError("unknown argument '" + args[i] + "'");
        }
    }
    return options;
}

std::string usageText(const std::string& program) {
    return "usage: " + program +
           " [options]\n"
           "\n"
           "Plays the manager service: creates the named pipe \\\\.\\pipe\\" +
           defaultPipeName +
           ",\n"
           "waits for a client and sends it dock events, one enciphered frame per pipe\n"
           "message. Reports every message and a summary on standard error.\n"
           "\n"
           "Events:\n"
           "  -f, --file PATH       dock events, one JSON text per line (see below);\n"
           "                        blank lines are skipped, every other line is sent as\n"
           "                        it is, valid or not (default: a built-in cache of\n"
           "                        docks connecting and leaving)\n"
           "  -n, --repeat N        send the whole set N times (default 1)\n"
           "  -d, --delay MS        pause between messages (default 0)\n"
           "  --bad KIND[,KIND...]  after every good message (or every K-th) send one bad\n"
           "                        frame, the kinds taking turns; kinds:\n" +
           wrapped(badFrameKindNames(), 24, 80) +
           "  --bad-every K         bad frames after every K-th good message (default 1)\n"
           "\n"
           "Connections:\n"
           "  -p, --pipe NAME       pipe name, short or \\\\.\\pipe\\NAME\n"
           "                        (default " +
           defaultPipeName +
           ")\n"
           "  --close-after N       close the connection after N messages (good and bad)\n"
           "                        and serve the next client (default 0: never)\n"
           "  --clients N           serve at most N clients (default 0: no limit)\n"
           "  --each-client         send the whole set to every client rather than\n"
           "                        sharing one run of it among them\n"
           "  --wait MS             give up when no client connects within MS\n"
           "                        (default 0: wait without limit)\n"
           "  --linger MS|client    after the last message keep the connection open MS\n"
           "                        milliseconds, or until the client closes it (default 0)\n"
           "  -q, --quiet           report clients and the summary only\n"
           "  -h, --help            show this text\n"
           "\n"
           "Event file: one JSON object per line, as the manager sends it:\n"
           "  \"timestamp\"      required  seconds since 1970-01-01 00:00 UTC\n"
           "  \"event\"          required  event code: 3 dock connected (the agent writes a\n"
           "                             record), 2 dock disconnected; the agent decodes\n"
           "                             other codes and ignores them\n"
           "  \"deviceId\"       required  the dock's id, a string\n"
           "  \"updMacAddress\"  optional  the dock's MAC address, \"00:1a:2b:3c:4d:5e\"; a\n"
           "                             dock connected without one writes no record\n"
           "  \"fwVersion\"      optional  firmware version, three numbers: [1,2,3]\n"
           "For example, a dock connecting and leaving five seconds later:\n"
           "  {\"timestamp\":1700000000,\"event\":3,\"deviceId\":\"QV-DOCK-0001\",\n"
           "   \"updMacAddress\":\"00:1a:2b:3c:4d:5e\",\"fwVersion\":[1,2,3]}\n"
           "  {\"timestamp\":1700000005,\"event\":2,\"deviceId\":\"QV-DOCK-0001\"}\n"
           "(each object on one line in the file). Lines that are not such an event are\n"
           "named before the run starts and sent all the same: the agent drops them.\n"
           "The report numbers lines as an editor does, blank lines included.\n"
           "\n"
           "A message that cannot be delivered is sent again to the next client. The\n"
           "program ends when everything is sent (with --each-client: when --clients\n"
           "clients are served), on --wait, or on Ctrl+C.\n"
           "Exit status: 0 done, 1 pipe failure, 2 bad arguments or input, 3 no client\n"
           "within the --wait time, 4 stopped before done.\n";
}

namespace {

// What the agent will make of `text`: empty when it decodes a dock event.
std::string problemOf(const std::string& text) {
    try {
        telemetry::decodeDockEvent(text);
        return std::string();
    } catch (const nlohmann::json::parse_error&) {
        return "not valid JSON";
    } catch (const std::exception& e) {
        return std::string("not a dock event: ") + e.what();
    }
}

std::vector<std::size_t> countingFromOne(std::size_t size) {
    std::vector<std::size_t> numbers(size);
    std::iota(numbers.begin(), numbers.end(), std::size_t{1});
    return numbers;
}

} // namespace

EventLines::EventLines(std::vector<std::string> texts) : EventLines(texts, countingFromOne(texts.size())) {}

EventLines::EventLines(std::vector<std::string> texts, std::vector<std::size_t> numbers)
    : texts(std::move(texts)), numbers(std::move(numbers)) {
    if (this->numbers.size() != this->texts.size()) {
        throw std::invalid_argument("a line number for every text is needed");
    }
    problems.reserve(this->texts.size());
    for (const std::string& text : this->texts) {
        problems.push_back(problemOf(text));
    }
}

EventLines readEventLines(std::istream& in) {
    std::vector<std::string> texts;
    std::vector<std::size_t> numbers;
    std::string line;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!isBlank(line)) {
            texts.push_back(line);
            numbers.push_back(number);
        }
    }
    return EventLines(std::move(texts), std::move(numbers));
}

std::string describeFrame(const PlannedFrame& frame, const EventLines& lines) {
    const std::string number = std::to_string(lines.number(frame.line));
    if (frame.kind != FrameKind::Good) {
        return std::string(frameKindName(frame.kind)) + " (after line " + number + ")";
    }
    const std::string& problem = lines.problem(frame.line);
    if (problem.empty()) {
        return "good (line " + number + ")";
    }
    // The reason in full is told once, before the run; here only what it is.
    return "sent as given, " + problem.substr(0, problem.find(':')) + " (line " + number + ")";
}

std::vector<FrameKind> kindsNeverSent(const std::vector<FrameKind>& badKinds, std::uint64_t badFrames) {
    // A kind given twice is sent when its first turn comes up: the kinds
    // never sent are those first given at a turn beyond the bad frames.
    std::vector<FrameKind> never;
    for (std::size_t i = 0; i < badKinds.size(); ++i) {
        const auto first = badKinds.begin() + static_cast<std::ptrdiff_t>(i);
        if (i >= badFrames && std::find(badKinds.begin(), first, badKinds[i]) == first) {
            never.push_back(badKinds[i]);
        }
    }
    return never;
}

std::vector<std::string> sampleCache(std::int64_t now) {
    using telemetry::DockEventMessage;
    using telemetry::FirmwareVersion;
    using telemetry::MacAddress;
    struct Sample {
        std::uint16_t event;
        const char* deviceId;
        MacAddress mac;
        FirmwareVersion firmware;
    };
    const MacAddress first({0xa0, 0xce, 0xc8, 0x01, 0x02, 0x03});
    const MacAddress second({0xa0, 0xce, 0xc8, 0x1f, 0x7a, 0x44});
    const MacAddress third({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e});
    const Sample samples[] = {
        {3, "QV-DOCK-0001", first, {1, 2, 3}},   {3, "QV-DOCK-0002", second, {2, 0, 14}},
        {2, "QV-DOCK-0001", first, {1, 2, 3}},   {3, "QV-DOCK-0003", third, {2, 1, 0}},
        {2, "QV-DOCK-0002", second, {2, 0, 14}}, {3, "QV-DOCK-0001", first, {1, 2, 3}},
    };
    const std::int64_t count = static_cast<std::int64_t>(sizeof samples / sizeof samples[0]);
    std::vector<std::string> lines;
    std::int64_t index = 0;
    for (const Sample& sample : samples) {
        DockEventMessage message(sample.event, sample.deviceId, sample.mac, sample.firmware);
        message.timestamp = now - 5 * (count - 1 - index++);
        lines.push_back(telemetry::encodeDockEvent(message));
    }
    return lines;
}

} // namespace qv::simulator
