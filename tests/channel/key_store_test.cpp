#include "channel/key_store.h"
#include "test_bytes.h"

#include <gtest/gtest.h>
#include <mbedtls/sha256.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

using namespace qv::sys::encryption;
using detail::KeyStoreTable;
using namespace qv::test;

TEST(KeyStore, GivesTheSharedKeysAndRefusesMissingKeysOrWrongLengthsWithOutputUntouched) {
    // The keys shared with the manager service.
    for (const auto& [number, expected] : {std::pair(channelKeyNumber, "8c042d6f5a8b020aeeaa69f3accbab0c"),
                                           std::pair(logKeyNumber, "0713312b0dc7b226745fc9097c2bc416")}) {
        std::array<std::uint8_t, 16> key{};
        std::uint32_t tag = 0;
        EXPECT_TRUE(getKey(number, key.data(), key.size(), tag)) << number;
        EXPECT_EQ(toHex(key), expected);
    }

    std::array<std::uint8_t, 32> output;
    output.fill(0xA5);
    const auto untouched = output;
    std::uint32_t tag = 0x12345678;
    const auto& index = detail::keyStoreTable.index;
    const auto missing = std::uint32_t(std::find(index, std::end(index), detail::missingKey) - index);
    for (std::uint32_t keyNumber : {missing, std::uint32_t(detail::keyStoreIndexSize), 0xFFFFFFFFu}) {
        EXPECT_FALSE(getKey(keyNumber, output.data(), 16, tag)) << keyNumber;
    }
    for (std::size_t length : {0u, 15u, 17u, 32u}) {
        EXPECT_FALSE(getKey(channelKeyNumber, output.data(), length, tag)) << length;
    }
    EXPECT_EQ(output, untouched);
    EXPECT_EQ(tag, 0x12345678u);
}

TEST(KeyStore, FlippedBitsInAnEntryOrTheSaltFailTheCheck) {
    const std::size_t offset = detail::keyStoreTable.index[channelKeyNumber];
    // Words 0 to 14: scrambled length, digest, key words and tag (the lowest
    // bit of the length value is spare and not covered; no byte here flips it),
    // then one salt byte.
    for (std::size_t byte = 0; byte <= 15 * 4; ++byte) {
        auto table = std::make_unique<KeyStoreTable>(detail::keyStoreTable);
        const auto bit = static_cast<std::uint8_t>(1u << (byte % 8));
        (byte < 15 * 4 ? table->entries[offset + byte] : table->salt[3]) ^= bit;
        std::array<std::uint8_t, 16> key{};
        std::uint32_t tag = 0;
        EXPECT_FALSE(detail::getKey(*table, channelKeyNumber, key.data(), key.size(), tag))
            << "byte " << byte;
    }
}

TEST(KeyStore, UnscramblesAHandMadeEntryAndRefusesOneCutShortByTheAreaEnd) {
    // A 32-byte key under a mask that is zero but for its first byte, so the
    // mask word of key word 4 wraps round: M(16) = 0x00000100. Its 19 words
    // fit at offset 8 and, tag last, at the very end of the area; one word
    // later the tag would lie in the mask beyond the area.
    const std::size_t lastFit = detail::keyStoreEntryAreaSize - 19 * 4;
    for (const std::size_t offset : {std::size_t{8}, lastFit, lastFit + 4}) {
        auto table = std::make_unique<KeyStoreTable>();
        table->index[0] = static_cast<std::uint32_t>(offset);
        table->mask[0] = 0x01;
        const auto put = [&](std::size_t word, std::array<std::uint8_t, 4> bytes) {
            if (offset + 4 * word < detail::keyStoreEntryAreaSize) {
                std::copy(bytes.begin(), bytes.end(), table->entries + offset + 4 * word);
            }
        };
        put(0, {0x00, 0x01, 0x00, 0x00});  // A = M(0) ^ 0x00000001 = 0
        put(9, {0x00, 0x40, 0x00, 0x00});  // length value 64
        put(18, {0x11, 0x22, 0x33, 0x44}); // tag read as 22 44 11 33
        put(12, {0x78, 0x56, 0x34, 0x12}); // key word 3, rotated by 8
        put(14, {0x00, 0x00, 0x00, 0x80}); // key word 6, rotated by 8
        // The digest covers key, tag and the (zero) salt.
        const std::string expected = "0001000000000000000000001278563400000001000000008000000000000000";
        const std::vector<std::uint8_t> hashed = fromHex(expected + "22441133" + std::string(16, '0'));
        mbedtls_sha256_ret(hashed.data(), hashed.size(), table->entries + offset + 4, 0);

        std::array<std::uint8_t, 32> key{};
        std::uint32_t tag = 0;
        const bool fits = offset != lastFit + 4;
        EXPECT_EQ(detail::getKey(*table, 0, key.data(), key.size(), tag), fits) << offset;
        EXPECT_EQ(tag, fits ? 0x33114422u : 0u);
        EXPECT_EQ(toHex(key), fits ? expected : std::string(64, '0'));
    }
}
