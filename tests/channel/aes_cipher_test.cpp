#include "channel/aes_cipher.h"
#include "channel/random_generator.h"
#include "test_bytes.h"

#include <gtest/gtest.h>
#include <mbedtls/aes.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

using namespace qv::sys::encryption;
using namespace qv::test;

namespace {
// Copies of the blocks that sized operator delete frees on this thread while set.
thread_local std::vector<std::vector<std::uint8_t>>* freedBlocks = nullptr;
} // namespace

// Out of line, as the deletes: inlined, GCC takes malloc() and free() for a
// mismatch of operator new and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t size) noexcept {
    if (auto* copies = std::exchange(freedBlocks, nullptr); copies != nullptr && block != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        copies->emplace_back(bytes, bytes + size);
        freedBlocks = copies;
    }
    std::free(block);
}

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

TEST(RandomGenerator, FillsRequestsLargerThanOnePieceFromManyThreads) {
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
}

TEST(KeyMaterial, KeyAndCipherHolderOverwriteTheirBytesWhenTheyGoAway) {
    const std::vector<std::uint8_t> material = fromHex(nistKey);
    const auto holds = [](const std::vector<std::uint8_t>& bytes, const std::uint8_t* run, std::size_t size) {
        return std::search(bytes.begin(), bytes.end(), run, run + size) != bytes.end();
    };
    // The barriers keep the compiler from dropping the key's stores as dead
    // or taking the bytes of an ended object for undefined.
    const auto barrier = [](void* bytes) { asm volatile("" : : "r"(bytes) : "memory"); };
    alignas(Key<16>) std::uint8_t storage[sizeof(Key<16>)];
    auto* key = new (storage) Key<16>(material.data());
    barrier(storage);
    key->~Key();
    barrier(storage);
    EXPECT_FALSE(holds(std::vector<std::uint8_t>(storage, storage + sizeof storage), material.data(), 16));

    // The holder's context as operator delete gets it: neither the key
    // schedule nor the zeros that mbedtls_aes_free leaves.
    mbedtls_aes_context schedule;
    mbedtls_aes_init(&schedule);
    mbedtls_aes_setkey_dec(&schedule, material.data(), 128);
    std::vector<std::vector<std::uint8_t>> blocks;
    {
        const AesCipher cipher(Key<16>(material.data()), true);
        freedBlocks = &blocks;
    }
    freedBlocks = nullptr;
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_FALSE(holds(blocks[0], reinterpret_cast<const std::uint8_t*>(schedule.rk) + 16, 32));
    EXPECT_NE(blocks[0], std::vector<std::uint8_t>(blocks[0].size(), 0));
    mbedtls_aes_free(&schedule);
}
