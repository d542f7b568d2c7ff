#include "tools/manager_simulator/pipe_server.h"

#include "agent_chain.h"

#include <windows.h>

#include <future>
#include <memory>
#include <sstream>

using namespace qv::simulator;
using test::Agent;

namespace {

using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;

// The server loop on its own thread, stopped and waited for also when an
// assertion leaves the test early (the future waits as it goes).
struct ServerThread {
    ServerThread(const Options& options, std::vector<std::string> lines, HANDLE stopEvent = nullptr)
        : server(options, std::move(lines), report, stopEvent),
          run(std::async(std::launch::async, [this] { return server.run(); })) {}
    ~ServerThread() { server.requestStop(); }
    std::ostringstream report;
    PipeServer server;
    std::future<RunSummary> run;
};

Options testOptions() {
    static int counter = 0;
    Options options;
    options.pipeName =
        "qvm_simulator_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    options.waitMs = 10000; // a broken test ends instead of hanging
    return options;
}

// Opens the pipe as the agent does: no sharing, identification-level
// impersonation only, then message read mode. Retries while the server is
// between instances.
Handle connectClient(const Options& options) {
    for (int attempt = 0; attempt < 2000; ++attempt, Sleep(5)) {
        const HANDLE pipe =
            CreateFileA(options.fullPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (pipe != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) << GetLastError();
            return Handle(pipe, &CloseHandle);
        }
    }
    ADD_FAILURE() << "cannot open " << options.fullPipeName() << ": win32 error " << GetLastError();
    return Handle(nullptr, &CloseHandle);
}

// One whole message (all are small here), or "" and the pipe's error. A
// message that never comes shows as the test's time-out.
std::string readMessage(const Handle& pipe, DWORD* error = nullptr) {
    std::string message(4096, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe.get(), &message[0], DWORD(message.size()), &read, nullptr) && error != nullptr)
        *error = GetLastError();
    return message.substr(0, read);
}

} // namespace

TEST(PipeServer, SendsEveryMessageInOrderToTheClientsThatComeWithBadFramesBetween) {
    std::vector<std::string> lines = sampleCache(1700000000);
    lines.back() = "not JSON, sent as it is";
    Options options = testOptions();
    options.delayMs = 100; // the first client is gone before the second message
    options.closeAfter = 5;
    options.badKinds = {FrameKind::MaxLength, FrameKind::Short, FrameKind::BadBase64};
    options.badEvery = 2;
    ServerThread server(options, lines);

    // Per client: g a good frame, M a max-length one, S a short one, B bad
    // Base64 under a right length (an empty text). The first client leaves
    // after one message; the pipe ends after 5 messages and at the end.
    Agent agent;
    for (const std::string messages : {"g", "gMggS", "ggB"}) {
        const Handle client = connectClient(options);
        ASSERT_TRUE(client);
        for (const char kind : messages) {
            const std::string message = readMessage(client);
            if (kind == 'M')
                EXPECT_EQ(message.substr(0, frameHeaderSize), std::string(frameHeaderSize, '\xff'));
            else if (kind == 'S')
                EXPECT_EQ(message.size(), shortFrameSize);
            else
                agent.take(message);
        }
        if (messages.size() > 1) { // the messages written before the close all came; then the pipe ends
            DWORD error = ERROR_SUCCESS;
            EXPECT_EQ(readMessage(client, &error), "");
            EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) << error;
        }
    }
    lines.push_back("");
    EXPECT_EQ(agent.texts, lines);

    EXPECT_EQ(server.run.get().status, exitDone);
    EXPECT_NE(server.report.str().find("client 2 message 6: short (after line 4), 5 bytes"),
              std::string::npos)
        << server.report.str();
}

TEST(PipeServer, EndsAfterItsClientsOnTheWaitTimeOrOnAStopRequest) {
    Options options = testOptions();
    options.eachClient = true; // each client gets the whole set
    options.clients = 2;
    ServerThread each(options, {"first", "second"});
    Agent agent;
    for (int client = 0; client < 2; ++client) {
        const Handle pipe = connectClient(options);
        agent.take(readMessage(pipe));
        agent.take(readMessage(pipe));
    }
    EXPECT_EQ(agent.texts, (std::vector<std::string>{"first", "second", "first", "second"}));
    EXPECT_EQ(each.run.get().status, exitDone);

    options = testOptions();
    options.waitMs = 100;
    ServerThread timedOut(options, {"{}"});
    EXPECT_EQ(timedOut.run.get().status, exitNoClient);

    // The event of a console control handler stops it; it stays the caller's,
    // valid for a handler that comes after the server has gone.
    const Handle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr), &CloseHandle);
    options = testOptions();
    options.waitMs = 0;
    {
        ServerThread stopped(options, {"{}"}, stop.get());
        Sleep(50);
        SetEvent(stop.get());
        EXPECT_EQ(stopped.run.get().status, exitStopped);
        EXPECT_NE(stopped.report.str().find("stopped before done"), std::string::npos);
    }
    EXPECT_TRUE(SetEvent(stop.get())) << GetLastError();
}
