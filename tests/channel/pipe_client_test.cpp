#include "channel/pipe_client.h"

#include <future>
#include <string>
#include <vector>

#include "pipe_test_server.h"
#include "sys/concurrency/waitable.h"
#include "sys/errors/exception.h"

using namespace qv::sys;
using qv::test::LogCapture;
using qv::test::PipeServer;

namespace {

LogCapture& logs = LogCapture::install();

// The Win32 error of the pipe exception that `call` throws; 0 when none.
template <typename Call>
std::uint64_t pipeErrorOf(Call call) {
    try {
        call();
    } catch (const SystemMessageException& e) {
        EXPECT_EQ(e.messageId(), kMessagePipeError);
        return e.systemCode();
    }
    ADD_FAILURE() << "no pipe error";
    return 0;
}

// A client connected to `server`, whose side is accepted.
std::unique_ptr<IpcPipeClient> connectedClient(PipeServer& server) {
    auto client = std::make_unique<IpcPipeClient>(server.name(), "");
    EXPECT_TRUE(client->connect(1000, false));
    server.accept();
    return client;
}

// Waits for the read-ready signal; a generous guard, not a timing check.
void waitForMessage(IpcPipeClient& client) {
    EXPECT_TRUE(client.readWaitable().wait(10000000));
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Wine's GetProcessHandleCount answers 0: then count the handle values in use.
std::size_t openHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    DWORD flags = 0;
    for (std::uintptr_t value = 4; value < (1u << 12); value += 4) {
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

} // namespace

TEST(PipeClient, ConnectToAMissingPipeFailsQuietlyOrWithOneError) {
    IpcPipeClient client("qv_pipe_test_nobody_listens", "");
    EXPECT_FALSE(client.connect(60, true));
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 0u);
    EXPECT_FALSE(client.connect(60, false));
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
    EXPECT_EQ(client.getState(), PipeState::NotConnected); // may try again
}

namespace {

using PipeEvents = EventTemplate<StateChangeEvent<PipeState::Enum>>;

struct Transitions : PipeEvents::Handler {
    void onEvent(const PipeEvents::Source*, const StateChangeEvent<PipeState::Enum>& event) override {
        seen.push_back({event.from, event.to});
    }
    std::vector<std::pair<PipeState::Enum, PipeState::Enum>> seen;
};

} // namespace

TEST(PipeClient, ConnectsOnlyFromNotConnectedAndReportsEveryStateChange) {
    PipeServer server;
    PipeServer spare(server.name()); // a free instance all along
    Transitions transitions;
    {
        IpcPipeClient client(server.name(), "");
        transitions.connect(client);
        EXPECT_TRUE(client.connect(1000, false));
        server.accept();
        EXPECT_TRUE(client.isConnected());
        EXPECT_FALSE(client.connect(1000, false));
        // What the server wrote before it closed is still read, in order.
        server.send("last but one");
        server.send("last message");
        server.close();
        waitForMessage(client);
        std::vector<std::uint8_t> packet;
        ASSERT_TRUE(client.readPacket(packet));
        EXPECT_EQ(text(packet), "last but one");
        ASSERT_TRUE(client.readPacket(packet));
        EXPECT_EQ(text(packet), "last message");
        EXPECT_EQ(pipeErrorOf([&] { client.peek(nullptr, 0); }), ERROR_BROKEN_PIPE);
        EXPECT_EQ(client.getState(), PipeState::Disconnected);
        EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
        EXPECT_FALSE(client.connect(1000, false)); // Disconnected is final
    }
    using S = PipeState;
    EXPECT_EQ(transitions.seen,
              (decltype(transitions.seen){{S::NotConnected, S::Connected}, {S::Connected, S::Disconnected}}));
    EXPECT_TRUE(IpcPipeClient(server.name(), "").connect(1000, false));
}

TEST(PipeClient, QuietConnectReportsAPipeThatRefusesMessageModeOnceAndKeepsNoHandle) {
    const DWORD byteType = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE;
    PipeServer server(byteType);
    PipeServer second(server.name(), byteType); // a free instance for each attempt
    PipeServer third(server.name(), byteType);
    IpcPipeClient client(server.name(), "");
    EXPECT_FALSE(client.connect(60, true));
    const std::size_t handles = openHandleCount();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(client.connect(60, true)); // as the reader tries again every 60 ms
    }
    EXPECT_EQ(openHandleCount(), handles);
    EXPECT_EQ(client.getState(), PipeState::NotConnected);
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
}

TEST(PipeClient, PeeksAndReadsWholeMessagesOneAfterAnother) {
    PipeServer server;
    auto client = connectedClient(server);
    EXPECT_EQ(client->peek(nullptr, 0), 0u); // nothing yet

    const std::string first = "0123456789abcdefghijklmnopqrst"; // 30 bytes
    server.send(first);
    waitForMessage(*client);
    char header[8] = {};
    EXPECT_EQ(client->peek(header, 8), 30u);
    EXPECT_EQ(std::string(header, 8), "01234567");
    std::vector<std::uint8_t> packet(100, 0xEE);
    ASSERT_TRUE(client->readPacket(packet));
    EXPECT_EQ(text(packet), first);
    EXPECT_EQ(client->peek(header, 8), 0u);
    EXPECT_FALSE(client->readPacket(packet));

    // Messages waiting at once are read in order, each its own size, without
    // waiting again; a second peek answers the same message.
    server.send("second message");
    server.send("third one");
    server.send("and a fourth one");
    waitForMessage(*client);
    std::vector<std::uint8_t> peeked(6);
    EXPECT_TRUE(client->peekPacket(peeked));
    EXPECT_EQ(text(peeked), "second");
    ASSERT_TRUE(client->readPacket(packet));
    EXPECT_EQ(text(packet), "second message");
    EXPECT_EQ(client->peek(header, 8), 9u);
    EXPECT_EQ(client->peek(header, 8), 9u);
    ASSERT_TRUE(client->readPacket(packet));
    EXPECT_EQ(text(packet), "third one");
    ASSERT_TRUE(client->readPacket(packet));
    EXPECT_EQ(text(packet), "and a fourth one");
    EXPECT_FALSE(client->readPacket(packet));
    // Nothing queued any more: the read is armed again and signals the next one.
    server.send("fifth");
    waitForMessage(*client);
    ASSERT_TRUE(client->readPacket(packet));
    EXPECT_EQ(text(packet), "fifth");
    EXPECT_EQ(client->peek(header, 8), 0u);

    // Bigger than any pipe buffer: the server's write ends only as the client reads.
    std::string big(1 << 20, 'b');
    big[12345] = 'x';
    auto sending = std::async(std::launch::async, [&] { server.send(big); });
    waitForMessage(*client);
    ASSERT_TRUE(client->readPacket(packet));
    sending.get();
    EXPECT_TRUE(text(packet) == big);
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 0u);
}

TEST(PipeClient, ServerClosingWhileTheClientWaitsEndsTheConnection) {
    PipeServer server;
    auto client = connectedClient(server);
    EXPECT_EQ(client->peek(nullptr, 0), 0u); // armed, nothing queued
    server.close();
    waitForMessage(*client); // the armed read ends with an error
    EXPECT_EQ(pipeErrorOf([&] { client->peek(nullptr, 0); }), ERROR_BROKEN_PIPE);
    EXPECT_EQ(client->getState(), PipeState::Disconnected);
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
}

TEST(PipeClient, ShortOrEmptyMessageEndsTheConnectionWithEndOfFile) {
    // An empty message also when the reader asks for no header first, and
    // one queued between good messages.
    for (const auto& [message, header] : {std::pair("12345", 8), std::pair("", 8), std::pair("", 0)}) {
        PipeServer server;
        auto client = connectedClient(server);
        if (header == 0) {
            server.send("good message");
            server.send("");
            server.send("good again");
        }
        server.send(message);
        waitForMessage(*client);
        if (header == 0) {
            std::vector<std::uint8_t> good;
            ASSERT_TRUE(client->readPacket(good));
        }
        std::vector<std::uint8_t> packet(header);
        EXPECT_EQ(pipeErrorOf([&] { header ? client->peekPacket(packet) : client->readPacket(packet); }),
                  ERROR_HANDLE_EOF)
            << message << header;
        EXPECT_EQ(client->getState(), PipeState::Disconnected);
        EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
    }
}

TEST(PipeClient, WritesOnlyNonEmptyPacketsAndFailsOnABrokenPipe) {
    PipeServer server;
    auto client = connectedClient(server);
    EXPECT_FALSE(client->writePacket({}));
    EXPECT_EQ(server.available(), 0u);
    EXPECT_TRUE(client->writePacket({'h', 'i'}));
    EXPECT_EQ(server.receive(), "hi");

    server.close();
    EXPECT_EQ(pipeErrorOf([&] { client->writePacket({'x'}); }), ERROR_BROKEN_PIPE);
    EXPECT_EQ(client->getState(), PipeState::Disconnected);
    EXPECT_EQ(logs.take("IpcPipeClientImpl", "ERROR"), 1u);
}

TEST(PipeClient, DestructionWithAnArmedReadReleasesEveryHandle) {
    PipeServer server;
    connectedClient(server).reset(); // one-time allocations of the process happen here
    PipeServer second;
    const std::size_t before = openHandleCount();
    {
        auto client = connectedClient(second);
        EXPECT_EQ(client->peek(nullptr, 0), 0u); // the read is armed and pending
        EXPECT_GT(openHandleCount(), before);
    }
    EXPECT_EQ(openHandleCount(), before);
}
