#include "channel/aes_cipher.h"
#include "channel/random_generator.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace qv::sys::encryption;
using namespace qv::test;

TEST(AesCipher, NistCbcVectorsInBothDirectionsLeaveTheLastCipherBlockAsIv) {
    const Key<16> key(fromHex(nistKey).data());
    const AesCipher encrypting(key, false), decrypting(key, true);
    for (const AesCipher* cipher : {&encrypting, &decrypting}) {
        const std::vector<std::uint8_t> input = fromHex(cipher == &encrypting ? nistPlain : nistCipher);
        std::vector<std::uint8_t> output(input.size());
        // Two calls of two blocks each: the chaining value has to carry over.
        Block<16> iv(fromHex(nistIv).data());
        cipher->crypt(iv, input.data(), output.data(), 32);
        cipher->crypt(iv, input.data() + 32, output.data() + 32, 32);
        EXPECT_EQ(toHex(output), cipher == &encrypting ? nistCipher : nistPlain);
        EXPECT_EQ(toHex(iv), nistCipher.substr(96));
    }

    // A partial block is refused with the chaining value untouched.
    std::array<std::uint8_t, 32> buffer{};
    Block<16> iv;
    EXPECT_THROW(decrypting.crypt(iv, buffer.data(), buffer.data(), 17), std::invalid_argument);
    EXPECT_EQ(iv, Block<16>());
}

TEST(RandomGenerator, FillsRequestsLargerThanOnePieceFromManyThreadsAndWipes) {
    // Three pieces and a bit on four threads at once: every buffer is filled
    // to its end and no two are the same.
    std::vector<std::vector<std::uint8_t>> buffers(4, std::vector<std::uint8_t>(3 * 1024 + 5, 0));
    std::vector<std::thread> threads;
    for (auto& buffer : buffers) {
        threads.emplace_back([&buffer] { randomFill(buffer.data(), buffer.size()); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& buffer : buffers) {
        EXPECT_NE(std::vector<std::uint8_t>(buffer.end() - 16, buffer.end()),
                  std::vector<std::uint8_t>(16, 0));
    }
    EXPECT_EQ(std::set<std::vector<std::uint8_t>>(buffers.begin(), buffers.end()).size(), buffers.size());

    // What a Key or AesCipher does to its bytes on release, seen on live storage.
    std::array<std::uint8_t, 16> material{};
    wipeKeyMaterial(material.data(), material.size());
    EXPECT_NE(material, (std::array<std::uint8_t, 16>{}));
}
