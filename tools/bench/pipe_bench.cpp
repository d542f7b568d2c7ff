// Messages per second that IpcPipeClient reads (wait on readWaitable, then
// peek + readPacket while messages are queued) from a server flooding
// 200-byte messages, against a plain blocking ReadFile loop on the same kind
// of pipe from the same server, in one run. The server counts what it writes
// while each reader runs, so the figures show whether it is the limit; the
// client's time is split between its waits, peeks and reads. A third reader
// arms a zero-byte read for every message with direct Win32 calls, the
// pattern the client avoids while messages are queued.
//
//   pipe_bench [milliseconds per phase] [rounds]

#include "channel/pipe_client.h"
#include "sys/concurrency/waitable.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* shortName = "qv_pipe_bench";
constexpr const char* fullName = "\\\\.\\pipe\\qv_pipe_bench";
constexpr DWORD messageSize = 200;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One pipe instance per phase; writes 200-byte messages until the reader
// goes away. `written` counts the messages the reader could have taken.
class FloodServer {
public:
    FloodServer() {
        pipe_ = CreateNamedPipeA(fullName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 64 * 1024,
                                 64 * 1024, 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "CreateNamedPipeA failed: %lu\n", GetLastError());
            std::exit(1);
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~FloodServer() {
        thread_.join();
        CloseHandle(pipe_);
    }
    FloodServer(const FloodServer&) = delete;
    FloodServer& operator=(const FloodServer&) = delete;

    std::uint64_t written() const { return written_.load(); }

private:
    void serve() {
        // A client that connected before this call is reported with 535.
        if (!ConnectNamedPipe(pipe_, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            return;
        }
        std::vector<char> message(messageSize, 'x');
        const std::uint64_t length = messageSize - 8;
        for (int i = 0; i < 8; ++i) {
            message[i] = static_cast<char>(length >> (8 * i));
        }
        DWORD done = 0;
        // Ends when the reader closes its end (232 or 109).
        while (WriteFile(pipe_, message.data(), messageSize, &done, nullptr)) {
            written_.fetch_add(1, std::memory_order_relaxed);
        }
        DisconnectNamedPipe(pipe_);
    }

    HANDLE pipe_;
    std::thread thread_;
    std::atomic<std::uint64_t> written_{0};
};

HANDLE openPlain() {
    WaitNamedPipeA(fullName, 5000);
    HANDLE h =
        CreateFileA(fullName, GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "CreateFileA failed: %lu\n", GetLastError());
        std::exit(1);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
    return h;
}

struct Phase {
    std::uint64_t read = 0;
    std::uint64_t written = 0; // by the server during the phase
    double seconds = 0;
    double waitSeconds = 0; // client only: the split of its time
    double peekSeconds = 0;
    double readSeconds = 0;
    std::uint64_t waits = 0;
    std::uint64_t peeks = 0;
};

Phase plainPhase(Clock::duration length) {
    FloodServer server;
    HANDLE h = openPlain();
    std::vector<char> buffer(64 * 1024);
    Phase phase;
    const auto start = Clock::now();
    const auto end = start + length;
    DWORD got = 0;
    const std::uint64_t before = server.written();
    while (Clock::now() < end &&
           ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        if (got != messageSize) {
            std::fprintf(stderr, "plain read of %lu bytes\n", got);
            std::exit(1);
        }
        ++phase.read;
    }
    phase.seconds = seconds(Clock::now() - start);
    phase.written = server.written() - before;
    CloseHandle(h);
    return phase;
}

// A zero-byte read armed for every message, with direct calls on this thread
// and no command engine: arm, ask its result, peek the header, read the
// message.
Phase patternPhase(Clock::duration length) {
    FloodServer server;
    WaitNamedPipeA(fullName, 5000);
    HANDLE h = CreateFileA(fullName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "CreateFileA (overlapped) failed: %lu\n", GetLastError());
        std::exit(1);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> buffer(64 * 1024);
    char header[8];
    Phase phase;
    const std::uint64_t before = server.written();
    const auto start = Clock::now();
    const auto end = start + length;
    while (Clock::now() < end) {
        OVERLAPPED armed{};
        armed.hEvent = ready;
        DWORD got = 0;
        if (!ReadFile(h, nullptr, 0, nullptr, &armed) && GetLastError() == ERROR_IO_PENDING) {
            WaitForSingleObject(ready, INFINITE);
        }
        GetOverlappedResult(h, &armed, &got, FALSE);
        DWORD peeked = 0, available = 0, left = 0;
        if (!PeekNamedPipe(h, header, sizeof header, &peeked, &available, &left)) {
            break;
        }
        OVERLAPPED reading{};
        reading.hEvent = done;
        const DWORD total = peeked + left;
        if (!ReadFile(h, buffer.data(), total, nullptr, &reading) && GetLastError() != ERROR_IO_PENDING) {
            break;
        }
        if (!GetOverlappedResult(h, &reading, &got, TRUE) || got != messageSize) {
            std::fprintf(stderr, "overlapped read of %lu bytes\n", got);
            std::exit(1);
        }
        ++phase.read;
    }
    phase.seconds = seconds(Clock::now() - start);
    phase.written = server.written() - before;
    CloseHandle(h);
    CloseHandle(ready);
    CloseHandle(done);
    return phase;
}

Phase clientPhase(Clock::duration length) {
    FloodServer server;
    Phase phase;
    {
        qv::sys::IpcPipeClient client(shortName, "");
        if (!client.connect(5000, false)) {
            std::fprintf(stderr, "IpcPipeClient::connect failed\n");
            std::exit(1);
        }
        std::uint8_t header[8];
        std::vector<std::uint8_t> message;
        const std::uint64_t before = server.written();
        const auto start = Clock::now();
        const auto end = start + length;
        Clock::time_point now = start;
        while (now < end && client.isConnected()) {
            client.readWaitable().wait(1000);
            const auto waited = Clock::now();
            phase.waitSeconds += seconds(waited - now);
            ++phase.waits;
            now = waited;
            for (;;) {
                const std::uint64_t size = client.peek(header, sizeof header);
                const auto peeked = Clock::now();
                phase.peekSeconds += seconds(peeked - now);
                ++phase.peeks;
                now = peeked;
                if (size < sizeof header) {
                    break;
                }
                const bool ok = client.readPacket(message);
                const auto readDone = Clock::now();
                phase.readSeconds += seconds(readDone - now);
                now = readDone;
                if (!ok || message.size() != messageSize) {
                    std::fprintf(stderr, "readPacket gave %d, %zu bytes\n", ok ? 1 : 0, message.size());
                    std::exit(1);
                }
                ++phase.read;
                if (now >= end) {
                    break;
                }
            }
        }
        phase.seconds = seconds(now - start);
        phase.written = server.written() - before;
    }
    return phase;
}

double rate(std::uint64_t count, double secs) {
    return secs > 0 ? static_cast<double>(count) / secs : 0;
}

} // namespace

int main(int argc, char** argv) {
    const long ms = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    const auto length = std::chrono::milliseconds(ms > 0 ? ms : 2000);

    Phase plain, pattern, client;
    auto add = [](Phase& total, const Phase& p) {
        total.read += p.read;
        total.written += p.written;
        total.seconds += p.seconds;
        total.waitSeconds += p.waitSeconds;
        total.peekSeconds += p.peekSeconds;
        total.readSeconds += p.readSeconds;
        total.waits += p.waits;
        total.peeks += p.peeks;
    };
    // Alternating phases so that a drift of the machine's load hits both.
    for (int round = 0; round < rounds; ++round) {
        add(plain, plainPhase(length));
        add(pattern, patternPhase(length));
        add(client, clientPhase(length));
    }

    const double plainRate = rate(plain.read, plain.seconds);
    const double clientRate = rate(client.read, client.seconds);
    std::printf("200-byte messages, %d x %ld ms per reader\n", rounds, ms);
    std::printf("plain blocking ReadFile loop   %10.0f msg/s   (server wrote %.0f/s meanwhile)\n", plainRate,
                rate(plain.written, plain.seconds));
    const double patternRate = rate(pattern.read, pattern.seconds);
    std::printf("arming per message, no engine  %10.0f msg/s   (server wrote %.0f/s meanwhile)\n",
                patternRate, rate(pattern.written, pattern.seconds));
    std::printf("IpcPipeClient peek+readPacket  %10.0f msg/s   (server wrote %.0f/s meanwhile)\n", clientRate,
                rate(client.written, client.seconds));
    std::printf("ratio client / plain           %10.2f   (arming per message / plain %.2f)\n",
                plainRate > 0 ? clientRate / plainRate : 0.0, plainRate > 0 ? patternRate / plainRate : 0.0);
    const double n = static_cast<double>(client.read);
    if (n > 0) {
        std::printf("client time per message: wait %.1f us, peek %.1f us, readPacket %.1f us "
                    "(%.2f waits and %.2f peeks per message)\n",
                    client.waitSeconds / n * 1e6, client.peekSeconds / n * 1e6, client.readSeconds / n * 1e6,
                    static_cast<double>(client.waits) / n, static_cast<double>(client.peeks) / n);
    }
    if (client.peeks > 0) {
        std::printf("one peek: %.1f us\n", client.peekSeconds / static_cast<double>(client.peeks) * 1e6);
    }
    std::printf("per message: plain ReadFile %.1f us, arming per message %.1f us, client %.1f us\n",
                plain.read ? plain.seconds / plain.read * 1e6 : 0.0,
                pattern.read ? pattern.seconds / pattern.read * 1e6 : 0.0,
                client.read ? client.seconds / client.read * 1e6 : 0.0);
    return plain.read > 0 && client.read > 0 ? 0 : 1;
}
