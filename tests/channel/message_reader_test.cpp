#include "channel/message_reader.h"

#include "tools/manager_simulator/pipe_server.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

namespace qv::sys {
namespace {

using simulator::FrameKind;

// What reached the application's handler, kept beyond the reader's life.
struct Received {
    std::mutex lock;
    std::vector<std::string> texts;

    std::vector<std::string> waitFor(std::size_t count) {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (texts.size() >= count) {
                    return texts;
                }
            }
            Sleep(10);
        }
        std::lock_guard<std::mutex> guard(lock);
        return texts;
    }
};

class Recorder : public MessageHandler {
public:
    explicit Recorder(std::shared_ptr<Received> received) : received(std::move(received)) {}
    void handleMessage(const std::string& text) override {
        std::lock_guard<std::mutex> guard(received->lock);
        received->texts.push_back(text.substr(0, text.find('\0'))); // without the fill bytes
    }

private:
    std::shared_ptr<Received> received;
};

std::string uniquePipeName() {
    static int counter = 0;
    return "qv_reader_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

struct Server {
    Server(simulator::Options options, std::vector<std::string> lines)
        : server(std::move(options), std::move(lines), report),
          run(std::async(std::launch::async, [this] { return server.run(); })) {}
    ~Server() { server.requestStop(); }
    std::ostringstream report;
    simulator::PipeServer server;
    std::future<simulator::RunSummary> run;
};

simulator::Options serverOptions(const std::string& pipeName) {
    simulator::Options options;
    options.pipeName = pipeName;
    options.waitMs = 10000;
    options.lingerMs = simulator::lingerUntilClientCloses;
    return options;
}

TEST(MessageReader, WithoutAServerItKeepsTryingStopsPromptlyAndConnectsLater) {
    const std::string pipe = uniquePipeName();
    auto received = std::make_shared<Received>();
    auto reader = std::make_unique<MessageReader>(std::make_unique<Recorder>(received), pipe);
    Sleep(300);
    EXPECT_TRUE(received->texts.empty());
    {
        Server server(serverOptions(pipe), {"late"});
        EXPECT_EQ(std::vector<std::string>{"late"}, received->waitFor(1));
    }
    Sleep(200); // trying again, with no server
    const auto stopping = std::chrono::steady_clock::now();
    reader.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2)); // one attempt is 60 ms
}

TEST(MessageReader, MalformedFramesCostNothingButThemselves) {
    const std::string pipe = uniquePipeName();
    simulator::Options options = serverOptions(pipe);
    // After each good frame one bad one: an empty payload, lying lengths, undecipherable text.
    options.badKinds = {FrameKind::ZeroLength, FrameKind::LongLength, FrameKind::MaxLength, FrameKind::WrongKey};
    const std::vector<std::string> lines = {"first", "second", "third", "fourth"};
    Server server(options, lines);

    auto received = std::make_shared<Received>();
    MessageReader reader(std::make_unique<Recorder>(received), pipe);
    const std::vector<std::string> texts = received->waitFor(6);
    // A zero length hands on an empty text; lying lengths are dropped whole;
    // the wrong key still reaches the handler, which rejects what it deciphers to.
    ASSERT_EQ(6u, texts.size());
    EXPECT_EQ((std::vector<std::string>{"first", "", "second", "third", "fourth"}),
              std::vector<std::string>(texts.begin(), texts.begin() + 5));
    EXPECT_NE("fourth", texts[5]);
}

TEST(MessageReader, ReconnectsAfterTheServerCloses) {
    const std::string pipe = uniquePipeName();
    simulator::Options options = serverOptions(pipe);
    options.closeAfter = 2;
    options.lingerMs = 0;
    Server server(options, {"one", "two", "three", "four", "five"});

    auto received = std::make_shared<Received>();
    MessageReader reader(std::make_unique<Recorder>(received), pipe);
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three", "four", "five"}), received->waitFor(5));
}

TEST(MessageReader, StopsWhileTheManagerFloods) {
    const std::string pipe = uniquePipeName();
    simulator::Options options = serverOptions(pipe);
    options.repeat = 1000000;
    Server server(options, {"flood"});

    auto received = std::make_shared<Received>();
    auto reader = std::make_unique<MessageReader>(std::make_unique<Recorder>(received), pipe);
    ASSERT_GE(received->waitFor(20).size(), 20u);
    reader.reset(); // hangs here if the reading loop ignores the stop
}

} // namespace
} // namespace qv::sys
