#include "tools/manager_simulator/options.h"

#include "channel/dock_event.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace qv::simulator;

TEST(SimulatorOptions, ReadsValuesInBothSpellingsAndRefusesBadArgumentsByName) {
    const Options options =
        parseOptions({"-p", "\\\\.\\pipe\\qvm_test_1", "-n", "3", "--delay=25", "--bad", "short,wrong-key",
                      "--bad-every=2", "--linger", "client", "--each-client"});
    EXPECT_EQ(options.fullPipeName(), "\\\\.\\pipe\\qvm_test_1");
    EXPECT_EQ((std::vector<std::uint64_t>{options.repeat, options.delayMs, options.badEvery}),
              (std::vector<std::uint64_t>{3, 25, 2}));
    EXPECT_EQ(options.badKinds, (std::vector<FrameKind>{FrameKind::Short, FrameKind::WrongKey}));
    EXPECT_EQ(options.lingerMs, lingerUntilClientCloses);
    EXPECT_TRUE(options.eachClient);
    EXPECT_EQ(parseOptions({}).fullPipeName(), "\\\\.\\pipe\\qvm_message_server");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"--delay"}, "--delay: a value is missing"},
        {{"-n", "0"}, "at least once"},
        {{"--close-after", "-1"}, "'-1' is not a whole number"},
        {{"--clients", "99999999999999999999"}, "too large"},
        {{"--wait", "4294967295"}, "too long"},
        {{"--bad", "short,,not-json"}, "unknown bad frame kind ''"},
        {{"--bad", "good"}, "unknown bad frame kind 'good'"},
        {{"--pipe", "a\\b"}, "not a pipe name"},
        {{"--pipe", "\\\\.\\pipe\\"}, "not a pipe name"},
        {{"--each-client=yes"}, "takes no value"}};
    for (const auto& [args, expected] : refused) {
        EXPECT_THAT([&args = args] { parseOptions(args); },
                    testing::ThrowsMessage<UsageError>(testing::HasSubstr(expected)))
            << args.front();
    }
}

TEST(SimulatorInput, FileLinesAreKeptAsTheyAreNumberedAsEditorsDoAndNamedForWhatTheyAre) {
    const std::string dock = R"({"timestamp":1,"event":3,"deviceId":"D"})";
    std::istringstream in(dock + "\r\n\n   \t\r\nnot json at all\n  {\"b\":2}  \n" + dock);
    const EventLines lines = readEventLines(in);
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        seen.push_back(std::to_string(lines.number(i)) + " " + lines.text(i) + " | " + lines.problem(i));
    }
    EXPECT_THAT(seen, testing::ElementsAre("1 " + dock + " | ", "4 not json at all | not valid JSON",
                                           testing::StartsWith("5   {\"b\":2}   | not a dock event: "),
                                           "6 " + dock + " | "));

    // Frames name the line an editor shows, and say what a line that is no dock event is.
    EXPECT_EQ(describeFrame({FrameKind::Good, 3}, lines), "good (line 6)");
    EXPECT_EQ(describeFrame({FrameKind::Good, 1}, lines), "sent as given, not valid JSON (line 4)");
    EXPECT_EQ(describeFrame({FrameKind::Good, 2}, lines), "sent as given, not a dock event (line 5)");
    EXPECT_EQ(describeFrame({FrameKind::WrongKey, 3}, lines), "wrong-key (after line 6)");

    std::int64_t previous = 0;
    for (const std::string& line : sampleCache(1700000000)) {
        EXPECT_GE(qv::telemetry::decodeDockEvent(line).timestamp, previous) << line;
        previous = qv::telemetry::decodeDockEvent(line).timestamp;
    }
    EXPECT_EQ(previous, 1700000000);
}

TEST(SimulatorInput, BadKindsBeyondTheBadFramesOfThePlanAreNamedAsNeverSent) {
    const std::vector<FrameKind> kinds = {FrameKind::Short, FrameKind::NotJson, FrameKind::Short,
                                          FrameKind::WrongKey};
    EXPECT_EQ(kindsNeverSent(kinds, 2), (std::vector<FrameKind>{FrameKind::WrongKey}));
    EXPECT_EQ(kindsNeverSent(kinds, 1), (std::vector<FrameKind>{FrameKind::NotJson, FrameKind::WrongKey}));
    EXPECT_TRUE(kindsNeverSent(kinds, 4).empty());
    // The plan's own count: 3 good frames, a bad one after every 2nd.
    EXPECT_EQ(kindsNeverSent(kinds, FramePlan(3, 1, kinds, 2).badFrames()).size(), 2u);
}
