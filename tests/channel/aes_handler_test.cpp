#include "channel/aes_handler.h"
#include "channel/dock_event.h"
#include "channel/message_encoder.h"
#include "test_bytes.h"

#include <gtest/gtest.h>
#include <mbedtls/base64.h>

#include <string>
#include <vector>

using namespace qv::sys;
using qv::sys::encryption::Key;
using qv::test::fromHex;

namespace {

class RecordingHandler : public MessageHandler {
public:
    void handleMessage(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

std::string base64(const std::vector<std::uint8_t>& bytes) {
    std::string text(4 * (bytes.size() / 3 + 1) + 1, '\0');
    std::size_t length = 0;
    mbedtls_base64_encode(reinterpret_cast<unsigned char*>(&text[0]), text.size(), &length, bytes.data(),
                          bytes.size());
    text.resize(length);
    return text;
}

const Key<16> testKey(fromHex("2b7e151628aed2a6abf7158809cf4f3c").data());

// The NIST CBC-AES128 ciphertext blocks 1 and 2 and the plain text of block 2.
const std::string twoCipherBlocks = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2";
const std::string secondPlainBlock = "ae2d8a571e03ac9c9eb76fac45af8e51";

std::string bytesText(const std::string& hex) {
    const std::vector<std::uint8_t> bytes = fromHex(hex);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(Base64DecodeBlocks, CutsToWholeBlocksAndFollowsTheLibrarysLineBreakRules) {
    const std::vector<std::uint8_t> forty(40, 7);
    std::string broken = base64(forty);
    broken.insert(20, " \r\n");
    broken.insert(8, "\n");
    EXPECT_EQ(base64DecodeBlocks(broken), std::vector<std::uint8_t>(32, 7));

    std::string innerSpace = base64(forty);
    innerSpace[30] = ' ';
    for (const std::string& bad : {innerSpace, std::string("===="), std::string("\r\n")}) {
        EXPECT_TRUE(base64DecodeBlocks(bad).empty()) << '"' << bad << '"';
    }
}

TEST(AesHandler, DropsTheFirstBlockAndUsesOnlyWholeBlocks) {
    RecordingHandler next;
    AesHandler handler(&next, testKey);

    // 24 characters, one block: nothing is left after the dropped block.
    handler.handleMessage(base64(fromHex(twoCipherBlocks.substr(0, 32))));
    // 40 bytes: the last 8 are not a block and are ignored.
    handler.handleMessage(base64(fromHex(twoCipherBlocks + "0102030405060708")));

    ASSERT_EQ(next.texts.size(), 2u);
    EXPECT_EQ(next.texts[0], "");
    EXPECT_EQ(next.texts[1], bytesText(secondPlainBlock));
}

TEST(AesHandler, UndecodablePayloadsPassEmptyTextsAndDoNotDisturbLaterMessages) {
    RecordingHandler next;
    AesHandler handler(&next, testKey);
    const std::string valid = encipherMessage(testKey, "{\"event\":3}");

    std::string foreign = valid;
    foreign[10] = '*';
    std::string twoFills = valid;
    twoFills.replace(8, 2, "==");
    for (const std::string& payload : {std::string(), foreign, twoFills, valid.substr(0, 20), valid}) {
        handler.handleMessage(payload);
    }

    ASSERT_EQ(next.texts.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(next.texts[i], "") << i;
    }
    EXPECT_EQ(next.texts[4], std::string("{\"event\":3}") + std::string(5, '\0'));
}

TEST(AesHandler, IndependentlyEncipheredMessagesAllDecryptAndReachTheDecoder) {
    RecordingHandler next;
    AesHandler handler(&next, testKey);
    const std::string event = R"({"deviceId":"DOCK-7","event":3,"fwVersion":[1,2,3],"timestamp":1700000000,)"
                              R"("updMacAddress":"a0:ce:c8:01:02:03"})";
    const std::vector<std::string> texts = {event, "", std::string(16, 'x'), std::string(17, 'y'), event};
    for (const std::string& text : texts) {
        handler.handleMessage(encipherMessage(testKey, text));
    }

    ASSERT_EQ(next.texts.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::size_t filled = (texts[i].size() + 15) / 16 * 16;
        EXPECT_EQ(next.texts[i], texts[i] + std::string(filled - texts[i].size(), '\0')) << i;
    }
    const qv::telemetry::DockEventMessage decoded = qv::telemetry::decodeDockEvent(next.texts.back());
    EXPECT_EQ(decoded.deviceId, "DOCK-7");
    EXPECT_EQ(decoded.event, 3);
    EXPECT_EQ(decoded.timestamp, 1700000000);
    EXPECT_EQ(decoded.macAddress.toText(), "a0:ce:c8:01:02:03");

    // Every message starts with a fresh random block.
    EXPECT_NE(encipherMessage(testKey, event), encipherMessage(testKey, event));
}
