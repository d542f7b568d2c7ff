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
using qv::test::fromHex;
using qv::test::toHex;

namespace {

// NIST SP 800-38A, F.2.1 and F.2.2 (CBC-AES128).
const std::string nistKey = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string nistIv = "000102030405060708090a0b0c0d0e0f";
const std::string nistPlain = "6bc1bee22e409f96e93d7e117393172a"
                              "ae2d8a571e03ac9c9eb76fac45af8e51"
                              "30c81c46a35ce411e5fbc1191a0a52ef"
                              "f69f2445df4f9b17ad2b417be66c3710";
const std::string nistCipher = "7649abac8119b246cee98e9b12e9197d"
                               "5086cb9b507219ee95db113a917678b2"
                               "73bed6b8e3c1743b7116e69e22229516"
                               "3ff1caa1681fac09120eca307586e1a7";

template <typename T>
T blockOf(const std::string& hex) {
    return T(fromHex(hex).data());
}

// Runs the four NIST blocks through `cipher` as two calls of two blocks each,
// so that the chaining value has to carry over between the calls.
std::vector<std::uint8_t> cryptInTwoCalls(const AesCipher& cipher, const std::string& inputHex,
                                          Block<16>& iv) {
    const std::vector<std::uint8_t> input = fromHex(inputHex);
    std::vector<std::uint8_t> output(input.size());
    cipher.crypt(iv, input.data(), output.data(), 32);
    cipher.crypt(iv, input.data() + 32, output.data() + 32, 32);
    return output;
}

} // namespace

TEST(AesCipher, NistCbcVectorsInBothDirectionsLeaveTheLastCipherBlockAsIv) {
    const auto key = blockOf<Key<16>>(nistKey);

    const AesCipher encrypting(key, false);
    auto iv = blockOf<Block<16>>(nistIv);
    EXPECT_EQ(toHex(cryptInTwoCalls(encrypting, nistPlain, iv)), nistCipher);
    EXPECT_EQ(toHex(iv.data(), 16), nistCipher.substr(96));

    const AesCipher decrypting(key, true);
    iv = blockOf<Block<16>>(nistIv);
    EXPECT_EQ(toHex(cryptInTwoCalls(decrypting, nistCipher, iv)), nistPlain);
    EXPECT_EQ(toHex(iv.data(), 16), nistCipher.substr(96));

    // In place, in one call.
    std::vector<std::uint8_t> buffer = fromHex(nistCipher);
    iv = blockOf<Block<16>>(nistIv);
    decrypting.crypt(iv, buffer.data(), buffer.data(), buffer.size());
    EXPECT_EQ(toHex(buffer), nistPlain);
}

TEST(AesCipher, PartialBlockIsRefusedWithTheIvUnchanged) {
    const AesCipher cipher(Key<16>(), true);
    std::array<std::uint8_t, 32> buffer{};
    Block<16> iv;
    EXPECT_THROW(cipher.crypt(iv, buffer.data(), buffer.data(), 17), std::invalid_argument);
    EXPECT_EQ(iv, Block<16>());
}

TEST(RandomGenerator, FillsRequestsLargerThanOnePieceFromManyThreads) {
    // Three pieces and a bit, on four threads at once: every buffer is filled
    // to its end and no two are the same.
    constexpr std::size_t length = 3 * 1024 + 5;
    std::vector<std::vector<std::uint8_t>> buffers(4, std::vector<std::uint8_t>(length, 0));
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
    EXPECT_NE(random32() | std::uint64_t{random32()} << 32, 0u);
}

TEST(RandomGenerator, WipeOverwritesKeyMaterial) {
    // What a Key or AesCipher does to its bytes on release, seen on live storage.
    std::array<std::uint8_t, 16> material{};
    wipeKeyMaterial(material.data(), material.size());
    EXPECT_NE(material, (std::array<std::uint8_t, 16>{}));
}
