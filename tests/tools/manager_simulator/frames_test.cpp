#include "tools/manager_simulator/frames.h"

#include "agent_chain.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using namespace qv::simulator;
using test::Agent;

namespace {

const std::string dockJson =
    R"({"deviceId":"QV-DOCK-0001","event":3,"fwVersion":[1,2,3],"timestamp":1700000000,)"
    R"("updMacAddress":"a0:ce:c8:01:02:03"})";

std::string payloadOf(const std::string& frame) {
    return frame.substr(frameHeaderSize);
}

} // namespace

TEST(Frames, GoodFramesCarryTheirLengthAndDecodeToTheTextWithAFreshFirstBlock) {
    Agent agent;
    // Lengths around the block size, and a text far over the pipe buffer.
    const std::vector<std::string> texts = {dockJson, std::string(15, ' ') + "{}", std::string(16, 'x'),
                                            std::string(100000, 'y')};
    for (const std::string& text : texts) {
        agent.take(buildFrame(FrameKind::Good, agent.key, text));
    }
    EXPECT_EQ(agent.texts, texts);
    EXPECT_EQ(agent.events.front(), dockJson);
    // The first block is random: the same text never gives the same frame.
    EXPECT_NE(buildFrame(FrameKind::Good, agent.key, dockJson),
              buildFrame(FrameKind::Good, agent.key, dockJson));
    EXPECT_EQ(frameHeader(0x0102030405060708ull), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
}

TEST(Frames, EachBadKindBreaksWhatItSaysAndNothingElse) {
    Agent agent;
    const auto frame = [&](FrameKind kind) { return buildFrame(kind, agent.key, dockJson); };
    const std::string good = frame(FrameKind::Good);
    EXPECT_EQ(frame(FrameKind::Short), good.substr(0, shortFrameSize));
    EXPECT_EQ(frame(FrameKind::ZeroLength), std::string(frameHeaderSize, '\0'));

    // Lengths that lie over a good payload.
    const std::string longLength = frame(FrameKind::LongLength);
    const std::string maxLength = frame(FrameKind::MaxLength);
    EXPECT_EQ(frameLength(longLength), payloadOf(longLength).size() + longLengthExcess);
    EXPECT_EQ(frameLength(maxLength), std::numeric_limits<std::uint64_t>::max());
    agent.chain.handleMessage(payloadOf(longLength));
    agent.chain.handleMessage(payloadOf(maxLength));

    // Payloads that lie under a right length: not Base64, or whole blocks under another key.
    const std::string badBase64 = frame(FrameKind::BadBase64);
    const std::string wrongKey = frame(FrameKind::WrongKey);
    EXPECT_EQ(payloadOf(badBase64).size(), payloadOf(good).size());
    EXPECT_TRUE(qv::sys::base64DecodeBlocks(payloadOf(badBase64)).empty());
    EXPECT_EQ(qv::sys::base64DecodeBlocks(payloadOf(wrongKey)).size(),
              qv::sys::base64DecodeBlocks(payloadOf(good)).size());
    for (const std::string& received : {badBase64, wrongKey, frame(FrameKind::NotJson), good}) {
        agent.take(received);
    }
    // The chaining value left by the bad ones does not matter to the next good one.
    const std::string failed = "not decoded";
    EXPECT_EQ(agent.events, (std::vector<std::string>{dockJson, dockJson, failed, failed, failed, dockJson}));
    EXPECT_EQ(agent.texts[4], notJsonText);
}

TEST(FramePlan, PutsBadKindsInTurnAfterEveryKthGoodFrameAcrossRepeats) {
    const FramePlan plan(3, 2, {FrameKind::Short, FrameKind::NotJson}, 2);
    std::vector<std::string> order;
    for (std::uint64_t i = 0; i < plan.size(); ++i) {
        order.push_back(frameKindName(plan.at(i).kind) + std::to_string(plan.at(i).line));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"good0", "good1", "short1", "good2", "good0", "not-json0",
                                               "good1", "good2", "short2"}));
    EXPECT_THROW(plan.at(9), std::out_of_range);

    // An interval beyond the good frames: no bad frames (and no division by badEvery + 1).
    EXPECT_EQ(FramePlan(2, 1, {FrameKind::Short}, std::numeric_limits<std::uint64_t>::max()).size(), 2u);
    // A flood is computed, not stored.
    const FramePlan flood(1000, 1000000000, {FrameKind::ZeroLength}, 1);
    EXPECT_EQ(flood.size(), 2000000000000ull);
    EXPECT_EQ(flood.at(flood.size() - 1).line, 999u);
    EXPECT_EQ(flood.at(flood.size() - 1).kind, FrameKind::ZeroLength);

    EXPECT_THROW(FramePlan(0, 1, {}, 1), std::invalid_argument);
    EXPECT_THROW(FramePlan(1, 0, {}, 1), std::invalid_argument);
    EXPECT_THROW(FramePlan(4, std::numeric_limits<std::uint64_t>::max() / 4, {}, 1), std::invalid_argument);
}
