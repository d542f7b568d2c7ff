// Helper of scripts/bench-agent.sh, run under Wine:
//
//   agent_bench run OUTFILE PROGRAM [ARGS...]
//       starts PROGRAM with its standard output in OUTFILE, waits for it and
//       prints "wall_ms=... peak_ws_kib=... user_ms=... kernel_ms=... exit=..."
//       (wall time from CreateProcess to the end of the wait, peak working
//       set sampled every 5 ms while it runs).
//   agent_bench nothing
//       returns at once: the trivial program to compare start-up against.
//   agent_bench wait PIPE
//       returns once \\.\pipe\PIPE exists (exit 1 after 30 s without it);
//       the agent's end-to-end test starts the agent so.
//   agent_bench read PIPE MS
//       a plain blocking ReadFile loop on \\.\pipe\PIPE for MS milliseconds;
//       prints "read=N ms=T".
//   agent_bench events FILE
//       writes dock event lines whose simulator frames are 200 bytes each.
//   agent_bench serve PIPE FILE [COUNT]
//       a plain writer: creates \\.\pipe\PIPE as the simulator does, waits
//       for one client and writes it the events of FILE framed as the
//       simulator frames them, one blocking WriteFile each, COUNT messages
//       (0 or none: until the client goes), then ends. Prints "written=N".
//   agent_bench teardown
//       runs the agent's main body in this process, its document going
//       nowhere, and prints "teardown_ms=...": from the end of its one-second
//       wait to the point where the reader and the writer are gone.

#include "app/app_main.h"
#include "channel/dock_event.h"
#include "channel/key.h"
#include "channel/key_store.h"
#include "sys/win32/unique_handle.h"
#include "tools/manager_simulator/frames.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double fileTimeMs(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 10000.0;
}

// Quotes one argument for CreateProcess' command line (no embedded quotes needed here).
std::string quoted(const std::string& arg) {
    return arg.find_first_of(" \t") == std::string::npos ? arg : "\"" + arg + "\"";
}

int run(int argc, char** argv) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create %s: %lu\n", argv[2], GetLastError());
        return 1;
    }
    std::string commandLine;
    for (int i = 3; i < argc; ++i) {
        commandLine += (i > 3 ? " " : "") + quoted(argv[i]);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const auto start = Clock::now();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        CloseHandle(out);
        return 1;
    }
    // Wine answers the memory counters of a process that has ended with
    // zeros, so the peak is sampled while the child runs (it only grows) and
    // once more after its end, which is what Windows answers best.
    SIZE_T peak = 0;
    auto sample = [&] {
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
            peak = std::max(peak, memory.PeakWorkingSetSize);
        }
    };
    while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
        sample();
    }
    const auto end = Clock::now();
    sample();
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(out);
    std::printf("wall_ms=%.1f peak_ws_kib=%.0f user_ms=%.1f kernel_ms=%.1f exit=%lu\n", ms(end - start),
                static_cast<double>(peak) / 1024.0, fileTimeMs(user), fileTimeMs(kernel), status);
    return 0;
}

// Waits up to 30 s for the pipe to exist with a free instance: a simulator
// starting under a loaded Wine takes seconds.
bool waitForPipe(const std::string& full) {
    for (int i = 0; i < 1500; ++i) {
        if (WaitNamedPipeA(full.c_str(), 1)) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

int read(const std::string& name, long limitMs) {
    const std::string full = "\\\\.\\pipe\\" + name;
    waitForPipe(full);
    HANDLE h = CreateFileA(full.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %lu\n", full.c_str(), GetLastError());
        return 1;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
    std::vector<char> buffer(64 * 1024);
    std::uint64_t count = 0;
    DWORD got = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(limitMs);
    // The flood keeps the pipe full, so a blocking read never outlives the deadline by much.
    while (Clock::now() < end &&
           ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        ++count;
    }
    const double elapsed = ms(Clock::now() - start);
    CloseHandle(h);
    std::printf("read=%llu ms=%.1f\n", static_cast<unsigned long long>(count), elapsed);
    return 0;
}

// Docks connecting, so that every message makes one record. Pads the device
// id until the frame (8-byte length, Base64 of random block + text + zero
// fill) is 200 bytes, as the flood of the pipe benchmark.
int events(const char* path) {
    // Only the frame's length matters here, and that does not depend on the key.
    qv::sys::encryption::Key<16> key{};
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < 8; ++i) {
        std::string line;
        for (std::string id = "QV-DOCK-" + std::to_string(i); id.size() < 200; id += "X") {
            qv::telemetry::DockEventMessage event(
                3, id,
                qv::telemetry::MacAddress({0xa0, 0xce, 0xc8, 0x01, 0x02, static_cast<std::uint8_t>(i)}),
                qv::telemetry::FirmwareVersion{1, 2, 3});
            event.timestamp = 1700000000 + i;
            line = qv::telemetry::encodeDockEvent(event);
            if (qv::simulator::buildFrame(qv::simulator::FrameKind::Good, key, line).size() == 200) {
                break;
            }
            line.clear();
        }
        if (line.empty()) {
            std::fprintf(stderr, "no dock event gives a 200-byte frame\n");
            return 1;
        }
        file << line << "\n";
    }
    return file ? 0 : 1;
}

int serve(const std::string& name, const char* path, std::uint64_t count) {
    qv::sys::encryption::Key<16> key;
    std::uint32_t tag = 0;
    if (!qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag)) {
        std::fprintf(stderr, "no channel key\n");
        return 1;
    }
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> frames;
    // Frames made beforehand, each line several times over with its own
    // random first block, so that writing costs nothing but the write.
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    for (int round = 0; round < 32 && !lines.empty(); ++round) {
        for (const std::string& line : lines) {
            frames.push_back(qv::simulator::buildFrame(qv::simulator::FrameKind::Good, key, line));
        }
    }
    if (frames.empty()) {
        std::fprintf(stderr, "no events in %s\n", path);
        return 1;
    }
    const std::string full = "\\\\.\\pipe\\" + name;
    const qv::sys::win32::UniqueHandle h(CreateNamedPipeA(full.c_str(), PIPE_ACCESS_DUPLEX,
                                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                                          1, 64 * 1024, 4096, 0, nullptr));
    if (!h) {
        std::fprintf(stderr, "cannot create %s: %lu\n", full.c_str(), GetLastError());
        return 1;
    }
    if (!ConnectNamedPipe(h.get(), nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_CONNECTED) {
            std::fprintf(stderr, "ConnectNamedPipe failed: %lu\n", error);
            return 1;
        }
    }
    std::uint64_t written = 0;
    DWORD done = 0;
    for (std::size_t i = 0; count == 0 || written < count; i = (i + 1) % frames.size()) {
        if (!WriteFile(h.get(), frames[i].data(), static_cast<DWORD>(frames[i].size()), &done, nullptr)) {
            break;
        }
        ++written;
    }
    FlushFileBuffers(h.get());
    std::printf("written=%llu\n", static_cast<unsigned long long>(written));
    return 0;
}

// The wait begins as soon as the reader is made, so it ends one second after
// the factory returns (the factory is called once).
int teardown() {
    Clock::time_point waitStart;
    auto factory = [&](std::unique_ptr<qv::sys::MessageHandler> handler, const std::string& pipe) {
        auto reader = qv::telemetry::startMessageReader(std::move(handler), pipe);
        waitStart = Clock::now();
        return reader;
    };
    std::ostream nowhere(nullptr);
    qv::telemetry::AppState state;
    qv::telemetry::appMain(state, nowhere, factory);
    state.writer.reset();
    const auto end = Clock::now();
    std::printf("teardown_ms=%.1f\n", ms(end - waitStart) - std::chrono::duration<double, std::milli>(
                                                                   qv::telemetry::waitLimit)
                                                                   .count());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "nothing") {
        return 0;
    }
    if (mode == "run" && argc > 3) {
        return run(argc, argv);
    }
    if (mode == "read" && argc > 3) {
        return read(argv[2], std::strtol(argv[3], nullptr, 10));
    }
    if (mode == "events" && argc > 2) {
        return events(argv[2]);
    }
    if (mode == "wait" && argc > 2) {
        return waitForPipe("\\\\.\\pipe\\" + std::string(argv[2])) ? 0 : 1;
    }
    if (mode == "serve" && argc > 3) {
        return serve(argv[2], argv[3], argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0);
    }
    if (mode == "teardown") {
        return teardown();
    }
    std::fprintf(stderr,
                 "usage: agent_bench run OUTFILE PROGRAM [ARGS...] | nothing | read PIPE MS | events FILE | "
                 "wait PIPE | serve PIPE FILE [COUNT] | teardown\n");
    return 2;
}
