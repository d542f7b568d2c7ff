// qvm_simulator: plays the manager service at the server end of its pipe, for
// tests of the telemetry agent and of the message channel. See --help.

#include "tools/manager_simulator/options.h"
#include "tools/manager_simulator/pipe_server.h"

#include <windows.h>

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

std::vector<std::string> loadLines(const qv::simulator::Options& options) {
    if (options.file.empty()) {
        return qv::simulator::sampleCache(static_cast<std::int64_t>(std::time(nullptr)));
    }
    std::ifstream in(options.file, std::ios::binary);
    if (!in) {
        throw qv::simulator::UsageError("cannot open '" + options.file + "'");
    }
    std::vector<std::string> lines = qv::simulator::readEventLines(in);
    if (in.bad()) {
        throw qv::simulator::UsageError("cannot read '" + options.file + "'");
    }
    if (lines.empty()) {
        throw qv::simulator::UsageError("'" + options.file + "' holds no dock events");
    }
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    using namespace qv::simulator;
    Options options;
    std::vector<std::string> lines;
    try {
        options = parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
        if (options.help) {
            std::cout << usageText(programName);
            return exitDone;
        }
        lines = loadLines(options);
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
