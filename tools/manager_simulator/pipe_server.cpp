#include "tools/manager_simulator/pipe_server.h"

#include "channel/key_store.h"
#include "sys/win32/unique_handle.h"
#include "tools/manager_simulator/frames.h"

#include <windows.h>
#include <sddl.h>

#include <ostream>
#include <stdexcept>
#include <utility>

namespace qv::simulator {
namespace {

using sys::win32::UniqueHandle;

// A security descriptor from LocalAlloc.
class LocalSecurityDescriptor {
public:
    explicit LocalSecurityDescriptor(const char* sddl) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                                  nullptr)) {
            const DWORD error = GetLastError();
            throw std::runtime_error(
                "ConvertStringSecurityDescriptorToSecurityDescriptorA failed: win32 error " +
                std::to_string(error));
        }
    }
    LocalSecurityDescriptor(const LocalSecurityDescriptor&) = delete;
    LocalSecurityDescriptor& operator=(const LocalSecurityDescriptor&) = delete;
    ~LocalSecurityDescriptor() { LocalFree(descriptor); }

    PSECURITY_DESCRIPTOR get() const noexcept { return descriptor; }

private:
    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// SYSTEM and administrators all access; signed-in users read and write, which
// is what the client's GENERIC_READ | GENERIC_WRITE maps to. That includes
// creating pipe instances (FILE_APPEND_DATA); the first instance is created
// exclusively, so no other process can have created the name before us.
constexpr const char* pipeSecurity = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12019f;;;AU)";

constexpr DWORD outBufferSize = 64 * 1024;
constexpr DWORD inBufferSize = 4096;

UniqueHandle createEvent() {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.isValid()) {
        const DWORD error = GetLastError();
        throw std::runtime_error("CreateEventA failed: win32 error " + std::to_string(error));
    }
    return event;
}

// The caller's stop event, as a handle of our own; a new event without one.
UniqueHandle stopEventFrom(HANDLE callers) {
    if (callers == nullptr) {
        return createEvent();
    }
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), callers, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("DuplicateHandle of the stop event failed: win32 error " +
                                 std::to_string(error));
    }
    return UniqueHandle(own);
}

class PipeFailure : public std::runtime_error {
public:
    PipeFailure(const std::string& call, DWORD error)
        : std::runtime_error(call + " failed: win32 error " + std::to_string(error)) {}
};

// One overlapped operation; its OVERLAPPED stays put while the call is pending.
struct OverlappedIo {
    OVERLAPPED overlapped{};
    UniqueHandle event = createEvent();
    bool pending = false;

    OVERLAPPED* start() {
        ResetEvent(event.get());
        return startResetting();
    }
    // For ReadFile and WriteFile, which reset the event themselves as they
    // start: one call less per message of a flood.
    OVERLAPPED* startResetting() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.get();
        return &overlapped;
    }
};

// How many messages of a flood (no delay) go out between two looks at the
// stop request and the client's watch read; a write that has to wait looks
// at the stop request anyway.
constexpr std::uint64_t floodLookEvery = 64;

// One server instance of the pipe and the I/O on it.
class Connection {
public:
    Connection(const std::string& fullName, bool first, SECURITY_ATTRIBUTES& security) {
        const DWORD openMode =
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        pipe.reset(CreateNamedPipeA(fullName.c_str(), openMode,
                                    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                        PIPE_REJECT_REMOTE_CLIENTS,
                                    PIPE_UNLIMITED_INSTANCES, outBufferSize, inBufferSize, 0, &security));
        if (!pipe.isValid()) {
            throw PipeFailure("CreateNamedPipeA(" + fullName + ")", GetLastError());
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Pending calls still write into the OVERLAPPED blocks: cancel them and
    // wait for them before anything goes away.
    ~Connection() {
        CancelIo(pipe.get());
        for (OverlappedIo* io : {&connectIo, &writeIo, &watchIo}) {
            finish(*io);
        }
    }

    HANDLE handle() const noexcept { return pipe.get(); }

    void finish(OverlappedIo& io) {
        if (io.pending) {
            DWORD count = 0;
            GetOverlappedResult(pipe.get(), &io.overlapped, &count, TRUE);
            io.pending = false;
        }
    }

    OverlappedIo connectIo;
    OverlappedIo writeIo;
    // A read that only tells when the client goes away (the client never
    // writes; if it does, the bytes are reported and dropped).
    OverlappedIo watchIo;
    char watchBuffer[inBufferSize];

private:
    UniqueHandle pipe;
};

enum class Wait { Done, TimedOut, Stopped };

enum class ClientEnd { PlanDone, ClosedAfterLimit, ClientGone, Stopped };

const char* describe(ClientEnd end) {
    switch (end) {
    case ClientEnd::PlanDone:
        return "all messages sent";
    case ClientEnd::ClosedAfterLimit:
        return "closed by the --close-after limit";
    case ClientEnd::ClientGone:
        return "the client went away";
    case ClientEnd::Stopped:
        return "stopped";
    }
    return "?";
}

} // namespace

class PipeServer::Impl {
public:
    Impl(Options options, EventLines lines, std::ostream& report, HANDLE stopEvent)
        : options(std::move(options)), lines(std::move(lines)), report(report),
          plan(this->lines.size(), this->options.repeat, this->options.badKinds, this->options.badEvery),
          stopEvent(stopEventFrom(stopEvent)), descriptor(pipeSecurity) {
        std::uint32_t tag = 0;
        if (!sys::encryption::getKey(sys::encryption::channelKeyNumber, key.data(), key.size(), tag)) {
            throw std::runtime_error("the key store does not give the channel key");
        }
        security.nLength = sizeof security;
        security.lpSecurityDescriptor = descriptor.get();
        security.bInheritHandle = FALSE;
    }

    void requestStop() { SetEvent(stopEvent.get()); }

    RunSummary run() {
        RunSummary summary;
        nextFrame = 0;
        report << "serving " << options.fullPipeName() << ": " << plan.size() << " messages ("
               << plan.goodFrames() << " good, " << plan.badFrames() << " bad)"
               << (options.eachClient ? " to each client" : "") << " from "
               << (options.file.empty() ? "the sample cache" : options.file) << std::endl;
        try {
            serve(summary);
        } catch (const std::exception& e) {
            summary.status = exitFailure;
            summary.error = e.what();
            report << "error: " << e.what() << std::endl;
        }
        if (!options.eachClient) {
            summary.unsent = plan.size() - nextFrame;
        }
        report << "summary: " << summary.sent << " messages sent (" << summary.goodSent << " good, "
               << summary.badSent << " bad), " << summary.bytes << " bytes, " << summary.clients << " client"
               << (summary.clients == 1 ? "" : "s") << ", " << summary.notDelivered << " not delivered; "
               << (summary.unsent != 0 ? std::to_string(summary.unsent) + " left unsent; " : std::string())
               << statusText(summary.status) << std::endl;
        return summary;
    }

private:
    static const char* statusText(int status) {
        switch (status) {
        case exitDone:
            return "done";
        case exitNoClient:
            return "no client within the wait time";
        case exitStopped:
            return "stopped before done";
        default:
            return "failed";
        }
    }

    bool stopRequested() const { return WaitForSingleObject(stopEvent.get(), 0) == WAIT_OBJECT_0; }

    bool limitReached(const RunSummary& summary) const {
        return (options.clients != 0 && summary.clients >= options.clients) ||
               (!options.eachClient && nextFrame >= plan.size());
    }

    void serve(RunSummary& summary) {
        auto listening = std::make_unique<Connection>(options.fullPipeName(), true, security);
        for (;;) {
            const Wait wait = waitForClient(*listening);
            if (wait == Wait::TimedOut) {
                report << "no client within " << options.waitMs << " ms" << std::endl;
                // Serving every client that comes has no other natural end.
                const bool open = options.eachClient && options.clients == 0 && summary.clients > 0;
                summary.status = open ? exitDone : exitNoClient;
                return;
            }
            if (wait == Wait::Stopped) {
                summary.status = exitStopped;
                return;
            }
            ++summary.clients;
            const std::uint64_t client = summary.clients;
            report << "client " << client << ": connected" << std::endl;

            std::uint64_t position = options.eachClient ? 0 : nextFrame;
            std::uint64_t sentHere = 0;
            const ClientEnd end = serveClient(*listening, client, position, sentHere, summary);
            if (!options.eachClient) {
                nextFrame = position;
            }
            report << "client " << client << ": " << describe(end) << ", closing after " << sentHere
                   << " message" << (sentHere == 1 ? "" : "s") << std::endl;

            const bool done = limitReached(summary);
            const bool more = !done && end != ClientEnd::Stopped && !stopRequested();
            auto current = std::move(listening);
            if (more) {
                listening = std::make_unique<Connection>(options.fullPipeName(), false, security);
            }
            current.reset();
            if (!more) {
                summary.status = done ? exitDone : exitStopped;
                return;
            }
        }
    }

    Wait waitForClient(Connection& connection) {
        if (ConnectNamedPipe(connection.handle(), connection.connectIo.start())) {
            return Wait::Done;
        }
        const DWORD error = GetLastError();
        // ERROR_NO_DATA: a client came and already closed; the first write says so.
        if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            return Wait::Done;
        }
        if (error != ERROR_IO_PENDING) {
            throw PipeFailure("ConnectNamedPipe", error);
        }
        connection.connectIo.pending = true;
        const HANDLE handles[] = {stopEvent.get(), connection.connectIo.event.get()};
        const DWORD timeout = options.waitMs == 0 ? INFINITE : static_cast<DWORD>(options.waitMs);
        const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (woken == WAIT_OBJECT_0 + 1) {
            DWORD count = 0;
            const BOOL connected =
                GetOverlappedResult(connection.handle(), &connection.connectIo.overlapped, &count, FALSE);
            const DWORD connectError = GetLastError();
            connection.connectIo.pending = false;
            if (!connected) {
                throw PipeFailure("ConnectNamedPipe", connectError);
            }
            return Wait::Done;
        }
        if (woken == WAIT_FAILED) {
            throw PipeFailure("WaitForMultipleObjects", GetLastError());
        }
        CancelIo(connection.handle());
        connection.finish(connection.connectIo);
        return woken == WAIT_TIMEOUT ? Wait::TimedOut : Wait::Stopped;
    }

    // Arms the read that notices the client going away. False when it is gone.
    bool armWatch(Connection& connection, std::uint64_t client, DWORD& error) {
        for (;;) {
            OVERLAPPED* overlapped = connection.watchIo.start();
            if (!ReadFile(connection.handle(), connection.watchBuffer, sizeof connection.watchBuffer, nullptr,
                          overlapped)) {
                error = GetLastError();
                if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
                    return false;
                }
            }
            connection.watchIo.pending = true;
            if (WaitForSingleObject(connection.watchIo.event.get(), 0) != WAIT_OBJECT_0) {
                return true;
            }
            if (!takeWatchResult(connection, client, error)) {
                return false;
            }
        }
    }

    // The watch read finished: the client wrote something (reported, dropped)
    // or went away (false).
    bool takeWatchResult(Connection& connection, std::uint64_t client, DWORD& error) {
        DWORD count = 0;
        const BOOL read =
            GetOverlappedResult(connection.handle(), &connection.watchIo.overlapped, &count, FALSE);
        error = read ? ERROR_SUCCESS : GetLastError();
        connection.watchIo.pending = false;
        if (!read && error != ERROR_MORE_DATA) {
            return false;
        }
        report << "client " << client << ": sent " << count << " bytes to the server; dropped" << std::endl;
        return true;
    }

    // Waits up to `milliseconds` (INFINITE allowed) for the stop request or
    // the client going away.
    ClientEnd pause(Connection& connection, std::uint64_t client, DWORD milliseconds, ClientEnd otherwise) {
        const HANDLE handles[] = {stopEvent.get(), connection.watchIo.event.get()};
        for (;;) {
            const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, milliseconds);
            if (woken == WAIT_OBJECT_0) {
                return ClientEnd::Stopped;
            }
            if (woken == WAIT_TIMEOUT) {
                return otherwise;
            }
            if (woken != WAIT_OBJECT_0 + 1) {
                throw PipeFailure("WaitForMultipleObjects", GetLastError());
            }
            DWORD error = 0;
            if (!takeWatchResult(connection, client, error) || !armWatch(connection, client, error)) {
                report << "client " << client << ": gone (win32 error " << error << ")" << std::endl;
                return ClientEnd::ClientGone;
            }
        }
    }

    enum class Write { Written, Failed, Stopped };

    Write write(Connection& connection, const std::string& frame, DWORD& error) {
        OVERLAPPED* overlapped = connection.writeIo.startResetting();
        const auto size = static_cast<DWORD>(frame.size());
        Write outcome = Write::Written;
        if (!WriteFile(connection.handle(), frame.data(), size, nullptr, overlapped)) {
            error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return Write::Failed;
            }
            // The pipe is full: wait for the client to read, or for a stop.
            connection.writeIo.pending = true;
            const HANDLE handles[] = {stopEvent.get(), connection.writeIo.event.get()};
            if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
                CancelIo(connection.handle());
                outcome = Write::Stopped;
            }
        }
        // Finished already unless cancelled just now: then this waits for its end.
        DWORD written = 0;
        const BOOL finished = GetOverlappedResult(connection.handle(), overlapped, &written, TRUE);
        error = finished ? ERROR_SUCCESS : GetLastError();
        connection.writeIo.pending = false;
        if (finished && written == size) {
            return Write::Written; // also when the stop came too late to cancel it
        }
        if (finished) {
            error = ERROR_WRITE_FAULT;
        }
        return outcome == Write::Stopped && error == ERROR_OPERATION_ABORTED ? Write::Stopped : Write::Failed;
    }

    ClientEnd serveClient(Connection& connection, std::uint64_t client, std::uint64_t& position,
                          std::uint64_t& sentHere, RunSummary& summary) {
        DWORD error = 0;
        if (!armWatch(connection, client, error)) {
            report << "client " << client << ": gone (win32 error " << error << ")" << std::endl;
            return ClientEnd::ClientGone;
        }
        while (position < plan.size()) {
            if (options.closeAfter != 0 && sentHere == options.closeAfter) {
                return ClientEnd::ClosedAfterLimit;
            }
            const DWORD delay = sentHere == 0 ? 0 : static_cast<DWORD>(options.delayMs);
            if (delay != 0 || sentHere % floodLookEvery == 0) {
                const ClientEnd paused = pause(connection, client, delay, ClientEnd::PlanDone);
                if (paused != ClientEnd::PlanDone) {
                    return paused;
                }
            }

            const PlannedFrame planned = plan.at(position);
            const std::string frame = buildFrame(planned.kind, key, lines.text(planned.line));
            const Write outcome = write(connection, frame, error);
            if (outcome == Write::Failed) {
                // A client that went away during a flood, unseen by the looks
                // skipped above: reported as gone, as a look would have.
                const ClientEnd paused = pause(connection, client, 0, ClientEnd::PlanDone);
                if (paused != ClientEnd::PlanDone) {
                    return paused;
                }
            }
            if (!options.quiet || outcome != Write::Written) {
                report << "client " << client << " message " << position + 1 << ": "
                       << describeFrame(planned, lines) << ", " << frame.size() << " bytes";
                if (outcome == Write::Failed) {
                    report << ": not delivered (win32 error " << error << ")";
                } else if (outcome == Write::Stopped) {
                    report << ": not sent, stopped";
                }
                report << std::endl;
            }
            if (outcome == Write::Stopped) {
                return ClientEnd::Stopped;
            }
            if (outcome == Write::Failed) {
                ++summary.notDelivered;
                return ClientEnd::ClientGone;
            }
            ++position;
            ++sentHere;
            ++summary.sent;
            ++(planned.kind == FrameKind::Good ? summary.goodSent : summary.badSent);
            summary.bytes += frame.size();
        }
        if (options.lingerMs == 0) {
            return ClientEnd::PlanDone;
        }
        const DWORD linger = options.lingerMs < 0 ? INFINITE : static_cast<DWORD>(options.lingerMs);
        const ClientEnd lingered = pause(connection, client, linger, ClientEnd::PlanDone);
        // Stopping while lingering stops nothing that was asked for.
        return lingered == ClientEnd::Stopped ? ClientEnd::PlanDone : lingered;
    }

    const Options options;
    const EventLines lines;
    std::ostream& report;
    const FramePlan plan;
    std::uint64_t nextFrame = 0; // of the plan shared by the clients
    UniqueHandle stopEvent;
    LocalSecurityDescriptor descriptor;
    SECURITY_ATTRIBUTES security{};
    sys::encryption::Key<16> key;
};

PipeServer::PipeServer(Options options, EventLines lines, std::ostream& report, void* stopEvent)
    : impl(std::make_unique<Impl>(std::move(options), std::move(lines), report, stopEvent)) {}

PipeServer::~PipeServer() = default;

RunSummary PipeServer::run() {
    return impl->run();
}

void PipeServer::requestStop() {
    impl->requestStop();
}

} // namespace qv::simulator
