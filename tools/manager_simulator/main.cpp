// qvm_simulator: plays the manager service at the server end of its pipe, for
// tests of the telemetry agent and of the message channel. See --help.

#include "tools/manager_simulator/options.h"
#include "tools/manager_simulator/pipe_server.h"

#include <windows.h>

#include <atomic>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const programName = "qvm_simulator";

std::atomic<qv::simulator::PipeServer*> runningServer{nullptr};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        if (qv::simulator::PipeServer* server = runningServer.load()) {
            server->requestStop();
            return TRUE;
        }
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
        PipeServer server(std::move(options), std::move(lines), std::cerr);
        runningServer = &server;
        SetConsoleCtrlHandler(onConsoleControl, TRUE);
        const RunSummary summary = server.run();
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        runningServer = nullptr;
        return summary.status;
    } catch (const std::exception& e) {
        std::cerr << programName << ": " << e.what() << '\n';
        return exitFailure;
    }
}
