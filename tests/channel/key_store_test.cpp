#include "channel/key_store.h"
#include "test_bytes.h"

#include <gtest/gtest.h>
#include <mbedtls/sha256.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

using namespace qv::sys::encryption;
using qv::sys::encryption::detail::KeyStoreTable;
using qv::test::toHex;

namespace {

// The keys shared with the manager service.
const std::string channelKey = "8c042d6f5a8b020aeeaa69f3accbab0c";
const std::string logKey = "0713312b0dc7b226745fc9097c2bc416";

bool channelKeyPasses(const KeyStoreTable& table) {
    std::array<std::uint8_t, 16> key{};
    std::uint32_t tag = 0;
    return detail::getKey(table, channelKeyNumber, key.data(), key.size(), tag);
}

void putBytes(KeyStoreTable& table, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), table.entries + offset);
}

} // namespace

TEST(KeyStore, ChannelAndLogKeysComeBackWithTheirDigests) {
    std::array<std::uint8_t, 16> key{};
    std::uint32_t tag = 0;
    ASSERT_TRUE(getKey(channelKeyNumber, key.data(), key.size(), tag));
    EXPECT_EQ(toHex(key.data(), key.size()), channelKey);

    ASSERT_TRUE(getKey(logKeyNumber, key.data(), key.size(), tag));
    EXPECT_EQ(toHex(key.data(), key.size()), logKey);
}

TEST(KeyStore, MissingKeyOrWrongLengthFailsWithOutputUntouched) {
    std::array<std::uint8_t, 32> output;
    output.fill(0xA5);
    const auto untouched = output;
    std::uint32_t tag = 0x12345678;

    const auto missing = std::find(std::begin(detail::keyStoreTable.index),
                                   std::end(detail::keyStoreTable.index), detail::missingKey) -
                         std::begin(detail::keyStoreTable.index);
    for (std::uint32_t keyNumber :
         {std::uint32_t(missing), std::uint32_t(detail::keyStoreIndexSize), 0xFFFFFFFFu}) {
        EXPECT_FALSE(getKey(keyNumber, output.data(), 16, tag)) << keyNumber;
    }
    for (std::size_t length : {0u, 15u, 17u, 32u}) {
        EXPECT_FALSE(getKey(channelKeyNumber, output.data(), length, tag)) << length;
    }
    EXPECT_EQ(output, untouched);
    EXPECT_EQ(tag, 0x12345678u);
}

TEST(KeyStore, FlippedBitsInAnEntryFailTheCheck) {
    const std::size_t offset = detail::keyStoreTable.index[channelKeyNumber];
    // Words 0 to 14: scrambled length, digest, key words and tag. (The lowest
    // bit of the length value is spare and not covered; no byte here flips it.)
    for (std::size_t byte = 0; byte < 15 * 4; ++byte) {
        auto table = std::make_unique<KeyStoreTable>(detail::keyStoreTable);
        table->entries[offset + byte] ^= static_cast<std::uint8_t>(1u << (byte % 8));
        EXPECT_FALSE(channelKeyPasses(*table)) << "byte " << byte;
    }
    auto table = std::make_unique<KeyStoreTable>(detail::keyStoreTable);
    table->salt[3] ^= 0x10;
    EXPECT_FALSE(channelKeyPasses(*table));
}

TEST(KeyStore, UnscramblesAHandMadeEntry) {
    // A 32-byte key at offset 8 under a mask that is zero but for its first
    // byte, so the mask word of key word 4 wraps round: M(16) = 0x00000100.
    auto table = std::make_unique<KeyStoreTable>();
    std::fill(std::begin(table->index), std::end(table->index), detail::missingKey);
    table->index[0] = 8;
    table->mask[0] = 0x01;
    putBytes(*table, 8 + 0 * 4, {0x00, 0x01, 0x00, 0x00});  // A = M(0) ^ 0x00000001 = 0
    putBytes(*table, 8 + 9 * 4, {0x00, 0x40, 0x00, 0x00});  // length value 64
    putBytes(*table, 8 + 18 * 4, {0x11, 0x22, 0x33, 0x44}); // tag read as 22 44 11 33
    putBytes(*table, 8 + 12 * 4, {0x78, 0x56, 0x34, 0x12}); // key word 3, rotated by 8
    putBytes(*table, 8 + 14 * 4, {0x00, 0x00, 0x00, 0x80}); // key word 6, rotated by 8

    std::array<std::uint8_t, 32> key{};
    std::uint32_t tag = 0;
    EXPECT_FALSE(detail::getKey(*table, 0, key.data(), key.size(), tag)); // no digest yet
    EXPECT_EQ(tag, 0x33114422u);
    EXPECT_EQ(toHex(key.data(), key.size()), "00010000"
                                             "00000000"
                                             "00000000"
                                             "12785634"
                                             "00000001"
                                             "00000000"
                                             "80000000"
                                             "00000000");

    std::uint8_t hashed[32 + 4 + 8] = {};
    std::memcpy(hashed, key.data(), 32);
    std::memcpy(hashed + 32, "\x22\x44\x11\x33", 4);
    mbedtls_sha256_ret(hashed, sizeof hashed, table->entries + 8 + 4, 0);
    key.fill(0);
    EXPECT_TRUE(detail::getKey(*table, 0, key.data(), key.size(), tag));
}
