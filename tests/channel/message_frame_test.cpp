#include "channel/message_frame.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace qv::sys {
namespace {

std::vector<std::uint8_t> message(std::uint64_t length, const std::string& payload) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    }
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TEST(MessageFrame, LengthBeyondTheMessageDropsThePayload) {
    struct Case {
        std::uint64_t length;
        std::string sent;
        std::string payload;
        bool truncated;
    } cases[] = {
        {5, "abcde", "abcde", false},
        {0, "", "", false},
        {3, "abcde", "abc", false}, // trailing bytes beyond the length are not payload
        {6, "abcde", "", true},
        {4096 + 5, "abcde", "", true},
        {std::numeric_limits<std::uint64_t>::max(), "abcde", "", true},
        {std::numeric_limits<std::uint64_t>::max() - 6, "xy", "", true}, // L + 8 wraps to 1
    };
    for (const Case& c : cases) {
        const auto bytes = message(c.length, c.sent);
        const FramePayload frame = cutFrame(bytes.data(), bytes.size());
        EXPECT_EQ(c.length, frame.declared);
        EXPECT_EQ(c.payload, frame.payload) << c.length;
        EXPECT_EQ(c.truncated, frame.truncated) << c.length;
    }
    // Shorter than its header: nothing is read beyond the seven bytes.
    const std::vector<std::uint8_t> seven(7, 0);
    EXPECT_TRUE(cutFrame(seven.data(), seven.size()).truncated);
}

} // namespace
} // namespace qv::sys
