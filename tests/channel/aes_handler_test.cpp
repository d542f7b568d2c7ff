#include "channel/aes_handler.h"
#include "test_bytes.h"
#include "tools/manager_simulator/message_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qv::sys;
using qv::simulator::encipherMessage;
using namespace qv::test;

namespace {

const encryption::Key<16> key(fromHex(nistKey).data());

std::string base64(const std::string& hex) {
    const std::vector<std::uint8_t> bytes = fromHex(hex);
    return base64Encode(bytes.data(), bytes.size());
}

// The texts one handler passes on for `payloads`, in order.
std::vector<std::string> handleAll(const std::vector<std::string>& payloads) {
    struct Recorder : MessageHandler {
        void handleMessage(const std::string& text) override { texts.push_back(text); }
        std::vector<std::string> texts;
    } next;
    AesHandler handler(&next, key);
    for (const std::string& payload : payloads) {
        handler.handleMessage(payload);
    }
    return next.texts;
}

} // namespace

TEST(AesHandler, PassesWholeBlocksAfterTheFirstAndEmptyTextsForUndecodablePayloads) {
    // 24 characters: nothing is left after the dropped block. 40 bytes: the last 8 are not a block.
    const std::vector<std::uint8_t> block2 = fromHex(nistPlain.substr(32, 32));
    EXPECT_EQ(
        handleAll({base64(nistCipher.substr(0, 32)), base64(nistCipher.substr(0, 64) + "0102030405060708")}),
        (std::vector<std::string>{"", std::string(block2.begin(), block2.end())}));

    // A foreign character, "=" inside, too short: empty texts, and the next message gets through.
    const std::string valid = encipherMessage(key, "{\"event\":3}");
    EXPECT_EQ(
        handleAll({"", valid.substr(0, 10) + "*" + valid.substr(11),
                   valid.substr(0, 8) + "==" + valid.substr(10), valid.substr(0, 20), "====", "\r\n", valid}),
        (std::vector<std::string>{"", "", "", "", "", "", "{\"event\":3}" + std::string(5, '\0')}));
}
