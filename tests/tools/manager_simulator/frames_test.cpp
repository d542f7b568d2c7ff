#include "tools/manager_simulator/frames.h"

#include "channel/aes_handler.h"
#include "channel/dock_event.h"
#include "channel/key_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using namespace qv::simulator;
using qv::sys::encryption::Key;
using qv::telemetry::decodeDockEvent;
using qv::telemetry::encodeDockEvent;

namespace {

Key<16> channelKey() {
    Key<16> key;
    std::uint32_t tag = 0;
    EXPECT_TRUE(
        qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag));
    return key;
}

// What the agent's chain does with a payload: decipher, then decode; a
// failure to decode is kept as a text.
class DecodingHandler : public qv::sys::MessageHandler {
public:
    void handleMessage(const std::string& text) override {
        texts.push_back(text.substr(0, text.find('\0')));
        try {
            events.push_back(encodeDockEvent(decodeDockEvent(text)));
        } catch (const std::exception& e) {
            events.push_back(std::string("failed: ") + e.what());
        }
    }
    std::vector<std::string> texts;
    std::vector<std::string> events;
};

std::string payloadOf(const std::string& frame) {
    return frame.substr(frameHeaderSize);
}

const std::string dockJson =
    R"({"deviceId":"QV-DOCK-0001","event":3,"fwVersion":[1,2,3],"timestamp":1700000000,)"
    R"("updMacAddress":"a0:ce:c8:01:02:03"})";

} // namespace

TEST(Frames, GoodFramesCarryTheirLengthAndDecipherToTheTextWithAFreshFirstBlock) {
    const Key<16> key = channelKey();
    DecodingHandler decoded;
    qv::sys::AesHandler chain(&decoded, key);

    // Lengths around the block size, and a text far over the pipe buffer.
    const std::vector<std::string> texts = {dockJson, std::string(15, ' ') + "{}", std::string(16, 'x'),
                                            std::string(100000, 'y')};
    for (const std::string& text : texts) {
        const std::string frame = buildFrame(FrameKind::Good, key, text);
        ASSERT_GE(frame.size(), frameHeaderSize);
        const std::string payload = payloadOf(frame);
        EXPECT_EQ(frameLength(frame), payload.size());
        EXPECT_EQ(payload.size() % 4, 0u);
        EXPECT_EQ(qv::sys::base64DecodeBlocks(payload).size(), 16 * (1 + (text.size() + 15) / 16));
        chain.handleMessage(payload);
    }
    EXPECT_EQ(decoded.texts, texts);
    EXPECT_EQ(decoded.events.front(), dockJson);

    // The first block is random: the same text never gives the same frame.
    EXPECT_NE(buildFrame(FrameKind::Good, key, dockJson), buildFrame(FrameKind::Good, key, dockJson));
    EXPECT_EQ(frameHeader(0x0102030405060708ull), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
}

TEST(Frames, EachBadKindBreaksWhatItSaysAndNothingElse) {
    const Key<16> key = channelKey();
    DecodingHandler decoded;
    qv::sys::AesHandler chain(&decoded, key);
    const std::string good = buildFrame(FrameKind::Good, key, dockJson);

    const std::string shortFrame = buildFrame(FrameKind::Short, key, dockJson);
    EXPECT_EQ(shortFrame, good.substr(0, shortFrameSize));

    EXPECT_EQ(buildFrame(FrameKind::ZeroLength, key, dockJson), std::string(frameHeaderSize, '\0'));

    // Lengths that lie: the payload itself is good.
    const std::string longLength = buildFrame(FrameKind::LongLength, key, dockJson);
    EXPECT_EQ(frameLength(longLength), payloadOf(longLength).size() + longLengthExcess);
    const std::string maxLength = buildFrame(FrameKind::MaxLength, key, dockJson);
    EXPECT_EQ(frameLength(maxLength), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(payloadOf(maxLength).size(), payloadOf(good).size());
    chain.handleMessage(payloadOf(longLength));
    chain.handleMessage(payloadOf(maxLength));

    // Payloads that lie: the length is right.
    const std::string badBase64 = buildFrame(FrameKind::BadBase64, key, dockJson);
    const std::string wrongKey = buildFrame(FrameKind::WrongKey, key, dockJson);
    const std::string notJson = buildFrame(FrameKind::NotJson, key, dockJson);
    for (const std::string* frame : {&badBase64, &wrongKey, &notJson}) {
        EXPECT_EQ(frameLength(*frame), payloadOf(*frame).size());
    }
    EXPECT_EQ(payloadOf(badBase64).size(), payloadOf(good).size());
    EXPECT_TRUE(qv::sys::base64DecodeBlocks(payloadOf(badBase64)).empty());
    EXPECT_EQ(qv::sys::base64DecodeBlocks(payloadOf(wrongKey)).size(),
              16 * (1 + (dockJson.size() + 15) / 16));
    chain.handleMessage(payloadOf(badBase64));
    chain.handleMessage(payloadOf(wrongKey));
    chain.handleMessage(payloadOf(notJson));
    chain.handleMessage(payloadOf(good));

    ASSERT_EQ(decoded.events.size(), 6u);
    EXPECT_EQ(decoded.events[0], dockJson);
    EXPECT_EQ(decoded.events[1], dockJson);
    EXPECT_EQ(decoded.texts[2], "");
    EXPECT_NE(decoded.texts[3], dockJson);
    EXPECT_EQ(decoded.events[3].rfind("failed: ", 0), 0u) << decoded.events[3];
    EXPECT_EQ(decoded.texts[4], notJsonText);
    EXPECT_EQ(decoded.events[4].rfind("failed: [json.exception.parse_error", 0), 0u) << decoded.events[4];
    // The chaining value left by the bad ones does not matter to the next good one.
    EXPECT_EQ(decoded.events[5], dockJson);
}

TEST(FramePlan, PutsBadKindsInTurnAfterEveryKthGoodFrameAcrossRepeats) {
    const FramePlan plan(3, 2, {FrameKind::Short, FrameKind::NotJson}, 2);
    ASSERT_EQ(plan.size(), 9u);
    EXPECT_EQ(plan.goodFrames(), 6u);
    EXPECT_EQ(plan.badFrames(), 3u);
    std::vector<std::string> order;
    for (std::uint64_t i = 0; i < plan.size(); ++i) {
        const PlannedFrame frame = plan.at(i);
        order.push_back(std::string(frameKindName(frame.kind)) + std::to_string(frame.line));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"good0", "good1", "short1", "good2", "good0", "not-json0",
                                               "good1", "good2", "short2"}));
    EXPECT_THROW(plan.at(9), std::out_of_range);

    // An interval beyond the good frames: no bad frames (and no division by badEvery + 1).
    const FramePlan sparse(2, 1, {FrameKind::Short}, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(sparse.size(), 2u);
    EXPECT_EQ(sparse.at(1).kind, FrameKind::Good);

    // A flood is computed, not stored.
    const FramePlan flood(1000, 1000000000, {FrameKind::ZeroLength}, 1);
    EXPECT_EQ(flood.size(), 2000000000000ull);
    EXPECT_EQ(flood.at(flood.size() - 1).kind, FrameKind::ZeroLength);
    EXPECT_EQ(flood.at(flood.size() - 1).line, 999u);

    EXPECT_THROW(FramePlan(0, 1, {}, 1), std::invalid_argument);
    EXPECT_THROW(FramePlan(1, 0, {}, 1), std::invalid_argument);
    EXPECT_THROW(FramePlan(4, std::numeric_limits<std::uint64_t>::max() / 4, {}, 1), std::invalid_argument);
}
