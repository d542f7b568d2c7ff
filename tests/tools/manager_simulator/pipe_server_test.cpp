#include "tools/manager_simulator/pipe_server.h"

#include "channel/aes_handler.h"
#include "channel/key_store.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace qv::simulator;

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The server loop on its own thread, stopped and joined also when an
// assertion leaves the test early.
class ServerThread {
public:
    ServerThread(Options options, std::vector<std::string> lines)
        : server(std::move(options), std::move(lines), report), thread([this] { summary = server.run(); }) {}
    ~ServerThread() {
        server.requestStop();
        finish();
    }
    const RunSummary& finish() {
        if (thread.joinable()) {
            thread.join();
        }
        return summary;
    }
    std::ostringstream report;
    PipeServer server;

private:
    RunSummary summary;
    std::thread thread;
};

Options testOptions() {
    static std::atomic<int> counter{0};
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
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const HANDLE pipe =
            CreateFileA(options.fullPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            EXPECT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) << GetLastError();
            return Handle(pipe);
        }
        Sleep(5);
    }
    ADD_FAILURE() << "cannot open " << options.fullPipeName() << ": win32 error " << GetLastError();
    return nullptr;
}

struct Received {
    DWORD error = ERROR_SUCCESS; // the pipe's answer when no message came
    std::string bytes;
};

// One whole pipe message: peeked for its size, then read.
Received readMessage(const Handle& pipe) {
    Received received;
    for (int attempt = 0; attempt < 5000; ++attempt) {
        char header[frameHeaderSize];
        DWORD peeked = 0;
        DWORD left = 0;
        if (!PeekNamedPipe(pipe.get(), header, sizeof header, &peeked, nullptr, &left)) {
            received.error = GetLastError();
            return received;
        }
        if (peeked > 0) {
            received.bytes.resize(peeked + left);
            DWORD read = 0;
            EXPECT_TRUE(ReadFile(pipe.get(), &received.bytes[0], peeked + left, &read, nullptr))
                << GetLastError();
            EXPECT_EQ(read, peeked + left);
            return received;
        }
        Sleep(2);
    }
    received.error = WAIT_TIMEOUT;
    return received;
}

bool isPipeEnd(const Received& received) {
    return received.error == ERROR_BROKEN_PIPE || received.error == ERROR_PIPE_NOT_CONNECTED;
}

// The agent's side: each good frame's length is what arrived after it, and
// its payload goes through the decrypting handler.
class Agent : public qv::sys::MessageHandler {
public:
    Agent() : chain(this, channelKey()) {}
    void handleMessage(const std::string& text) override { texts.push_back(text.substr(0, text.find('\0'))); }
    void takeGoodFrame(const Received& message) {
        ASSERT_EQ(message.error, static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_GE(message.bytes.size(), frameHeaderSize);
        EXPECT_EQ(frameLength(message.bytes), message.bytes.size() - frameHeaderSize);
        chain.handleMessage(message.bytes.substr(frameHeaderSize));
    }
    std::vector<std::string> texts;

private:
    static qv::sys::encryption::Key<16> channelKey() {
        qv::sys::encryption::Key<16> key;
        std::uint32_t tag = 0;
        qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag);
        return key;
    }
    qv::sys::AesHandler chain;
};

std::string daclText(const Handle& pipe) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    char* sddl = nullptr;
    if (GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, &descriptor) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        return "none";
    }
    const std::string text = sddl;
    LocalFree(sddl);
    LocalFree(descriptor);
    return text;
}

} // namespace

TEST(PipeServer, SendsTheLinesInOrderThenClosesAfterNAndServesTheNextClient) {
    std::vector<std::string> lines = sampleCache(1700000000);
    lines.resize(4);
    lines.push_back("not JSON, sent as it is");
    Options options = testOptions();
    options.closeAfter = 3;
    ServerThread server(options, lines);

    Agent agent;
    for (const std::size_t expected : {3u, 2u}) {
        const Handle client = connectClient(options);
        ASSERT_TRUE(client);
        // Signed-in users may read and write (FILE_GENERIC_READ | FILE_GENERIC_WRITE).
        EXPECT_NE(daclText(client).find("(A;;0x12019f;;;AU)"), std::string::npos) << daclText(client);
        for (std::size_t i = 0; i < expected; ++i) {
            agent.takeGoodFrame(readMessage(client));
        }
        // Messages written before the close are all there; then the pipe ends.
        EXPECT_TRUE(isPipeEnd(readMessage(client)));
    }
    EXPECT_EQ(agent.texts, lines);

    const RunSummary& summary = server.finish();
    EXPECT_EQ(summary.status, exitDone) << server.report.str();
    EXPECT_EQ(summary.clients, 2u);
    EXPECT_EQ(summary.sent, 5u);
    const std::string report = server.report.str();
    EXPECT_NE(report.find("client 2 message 5: good (line 5), "), std::string::npos) << report;
    EXPECT_NE(report.find("summary: 5 messages sent (5 good, 0 bad)"), std::string::npos) << report;
}

TEST(PipeServer, BadFramesArriveBetweenGoodOnesWithoutDisturbingThem) {
    const std::vector<std::string> lines = sampleCache(1700000000);
    Options options = testOptions();
    options.repeat = 1;
    options.badKinds = {FrameKind::MaxLength, FrameKind::Short, FrameKind::BadBase64};
    options.badEvery = 2;
    ServerThread server(options, {lines[0], lines[1], lines[2], lines[3], lines[4], lines[5]});

    const Handle client = connectClient(options);
    ASSERT_TRUE(client);
    Agent agent;
    for (int good = 0; good < 2; ++good) {
        agent.takeGoodFrame(readMessage(client));
    }
    const Received maxLength = readMessage(client);
    EXPECT_EQ(frameLength(maxLength.bytes), std::numeric_limits<std::uint64_t>::max());
    for (int good = 0; good < 2; ++good) {
        agent.takeGoodFrame(readMessage(client));
    }
    EXPECT_EQ(readMessage(client).bytes.size(), shortFrameSize);
    for (int good = 0; good < 2; ++good) {
        agent.takeGoodFrame(readMessage(client));
    }
    agent.takeGoodFrame(readMessage(client)); // bad Base64 under a right length: an empty text
    EXPECT_TRUE(isPipeEnd(readMessage(client)));

    EXPECT_EQ(agent.texts,
              (std::vector<std::string>{lines[0], lines[1], lines[2], lines[3], lines[4], lines[5], ""}));
    const RunSummary& summary = server.finish();
    EXPECT_EQ(summary.goodSent, 6u);
    EXPECT_EQ(summary.badSent, 3u);
    EXPECT_NE(server.report.str().find("message 6: short (after line 4), 5 bytes"), std::string::npos)
        << server.report.str();
}

TEST(PipeServer, AClientLeavingMidwayCostsNoMessageAndEachClientCanGetTheWholeSet) {
    const std::vector<std::string> lines = sampleCache(1700000000);
    {
        Options options = testOptions();
        options.delayMs = 100;
        ServerThread server(options, lines);
        Agent agent;
        agent.takeGoodFrame(readMessage(connectClient(options))); // and gone
        const Handle second = connectClient(options);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            agent.takeGoodFrame(readMessage(second));
        }
        EXPECT_EQ(agent.texts, lines);
        EXPECT_EQ(server.finish().clients, 2u);
    }
    Options options = testOptions();
    options.eachClient = true;
    options.clients = 2;
    ServerThread server(options, {lines[0], lines[1]});
    for (int client = 0; client < 2; ++client) {
        const Handle pipe = connectClient(options);
        Agent agent;
        agent.takeGoodFrame(readMessage(pipe));
        agent.takeGoodFrame(readMessage(pipe));
        EXPECT_EQ(agent.texts, (std::vector<std::string>{lines[0], lines[1]}));
    }
    EXPECT_EQ(server.finish().status, exitDone);
}

TEST(PipeServer, EndsOnTheWaitTimeOrAStopRequestWithoutAClient) {
    Options options = testOptions();
    options.waitMs = 100;
    ServerThread timedOut(options, sampleCache(0));
    EXPECT_EQ(timedOut.finish().status, exitNoClient);

    options = testOptions();
    options.waitMs = 0;
    ServerThread stopped(options, sampleCache(0));
    Sleep(50);
    stopped.server.requestStop();
    EXPECT_EQ(stopped.finish().status, exitStopped);
    EXPECT_NE(stopped.report.str().find("stopped before done"), std::string::npos);
}
