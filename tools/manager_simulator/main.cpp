// qvm_simulator: plays the manager service at the server end of its pipe, for
// tests of the telemetry agent and of the message channel. See --help.

#include "tools/manager_simulator/options.h"
#include "tools/manager_simulator/pipe_server.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char* const programName = "qvm_simulator";

// Set by the console control handler to stop the server. Made before the
// handler is installed and never closed: the handler runs on a thread of its
// own and may still be running while main destroys the server or returns.
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        SetEvent(stopEvent);
        return TRUE;
    }
    return FALSE;
}

qv::simulator::EventLines loadLines(const qv::simulator::Options& options) {
    if (options.file.empty()) {
        return qv::simulator::sampleCache(static_cast<std::int64_t>(std::time(nullptr)));
    }
    errno = 0;
    std::ifstream in(options.file, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw qv::simulator::UsageError("cannot open '" + options.file +
                                        "': " + (error != 0 ? std::strerror(error) : "reason unknown"));
    }
    qv::simulator::EventLines lines = qv::simulator::readEventLines(in);
    if (in.bad()) {
        throw qv::simulator::UsageError("cannot read '" + options.file + "'");
    }
    if (lines.empty()) {
        throw qv::simulator::UsageError("'" + options.file + "' holds no dock events");
    }
    return lines;
}

// Says before the run what the run will not do as the user may expect: lines
// the agent will drop, and --bad kinds that never come up.
void warnOfInput(const qv::simulator::Options& options, const qv::simulator::EventLines& lines) {
    using namespace qv::simulator;
    constexpr std::size_t mostNamed = 10;
    std::size_t named = 0;
    std::size_t unnamed = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines.problem(i).empty()) {
            continue;
        }
        if (named == mostNamed) {
            ++unnamed;
            continue;
        }
        ++named;
        std::cerr << programName << ": line " << lines.number(i) << " of '" << options.file
                  << "' is " << lines.problem(i) << "; it is sent as given and the agent drops it\n";
    }
    if (unnamed != 0) {
        std::cerr << programName << ": and " << unnamed << " more such line" << (unnamed == 1 ? "" : "s")
                  << '\n';
    }

    const FramePlan plan(lines.size(), options.repeat, options.badKinds, options.badEvery);
    const std::vector<FrameKind> never = kindsNeverSent(options.badKinds, plan.badFrames());
    if (!never.empty()) {
        std::cerr << programName << ": --bad";
        for (std::size_t i = 0; i < never.size(); ++i) {
            std::cerr << (i == 0 ? " " : ", ") << frameKindName(never[i]);
        }
        std::cerr << ": never sent: " << plan.goodFrames() << " good message"
                  << (plan.goodFrames() == 1 ? "" : "s") << " at --bad-every " << options.badEvery
                  << " leave room for " << plan.badFrames() << " bad frame" << (plan.badFrames() == 1 ? "" : "s")
                  << " (a larger --repeat or a smaller --bad-every sends them)\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace qv::simulator;
    Options options;
    EventLines lines = std::vector<std::string>();
    try {
        options = parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
        if (options.help) {
            std::cout << usageText(programName);
            return exitDone;
        }
        lines = loadLines(options);
        warnOfInput(options, lines);
    } catch (const std::invalid_argument& e) {
        std::cerr << programName << ": " << e.what() << "\n(" << programName << " --help shows the usage)\n";
        return exitUsage;
    } catch (const UsageError& e) {
        std::cerr << programName << ": " << e.what() << "\n(" << programName << " --help shows the usage)\n";
        return exitUsage;
    }

    try {
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (stopEvent == nullptr) {
            throw std::runtime_error("CreateEventA failed: win32 error " + std::to_string(GetLastError()));
        }
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
        PipeServer server(std::move(options), std::move(lines), std::cerr, stopEvent);
        return server.run().status;
    } catch (const std::exception& e) {
        std::cerr << programName << ": " << e.what() << '\n';
        return exitFailure;
    }
}
