#include "channel/key_store.h"

#include <mbedtls/sha256.h>

namespace qv::sys::encryption {
namespace detail {
namespace {

constexpr std::size_t wordSize = 4;
constexpr std::size_t digestWord = 1;
constexpr std::size_t digestSize = 32;
constexpr std::size_t lengthWord = 9;
constexpr std::size_t firstKeyWord = 10;

std::uint32_t loadWord(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

void storeWord(std::uint8_t* bytes, std::uint32_t value) {
    for (std::size_t i = 0; i < wordSize; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Stored bytes b0..b3 (lowest first) read as b1, b3, b0, b2.
std::uint32_t rearranged(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[1]} | std::uint32_t{bytes[3]} << 8 | std::uint32_t{bytes[0]} << 16 |
           std::uint32_t{bytes[2]} << 24;
}

std::uint32_t rotateLeft(std::uint32_t value, unsigned bits) {
    return value << bits | value >> (32 - bits);
}

class Entry {
public:
    Entry(const KeyStoreTable& table, const std::uint8_t* words) : table(table), words(words) {}

    const std::uint8_t* word(std::size_t i) const { return words + wordSize * i; }

    // The mask as a repeating sequence: bytes p..p+3, each taken modulo its length.
    std::uint32_t mask(std::size_t p) const {
        std::uint8_t bytes[wordSize];
        for (std::size_t i = 0; i < wordSize; ++i) {
            bytes[i] = table.mask[(p + i) % keyStoreMaskSize];
        }
        return loadWord(bytes);
    }

private:
    const KeyStoreTable& table;
    const std::uint8_t* words;
};

} // namespace

bool getKey(const KeyStoreTable& table, std::uint32_t keyNumber, std::uint8_t* output, std::size_t length,
            std::uint32_t& tag) {
    if (keyNumber >= keyStoreIndexSize || table.index[keyNumber] == missingKey) {
        return false;
    }
    const std::size_t offset = table.index[keyNumber];
    if (offset > keyStoreEntryAreaSize || keyStoreEntryAreaSize - offset < wordSize * (firstKeyWord + 1)) {
        return false;
    }
    const Entry entry(table, table.entries + offset);

    const std::uint32_t a = entry.mask(0) ^ rearranged(entry.word(0));
    const std::uint32_t lengthValue = entry.mask(4) ^ rearranged(entry.word(lengthWord)) ^ a;
    if ((lengthValue >> 1) != length) {
        return false;
    }
    const std::size_t n = lengthValue >> 3;
    // Key words are stored in groups of four; the tag follows the last key word.
    const std::size_t lastWord = firstKeyWord + ((n + 3) / 4) * 4;
    if ((keyStoreEntryAreaSize - offset) / wordSize < lastWord + 1) {
        return false;
    }

    tag = entry.mask(8) ^ rearranged(entry.word(firstKeyWord + n)) ^ a;

    static constexpr std::size_t order[4] = {1, 3, 0, 2};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t stored = loadWord(entry.word(firstKeyWord + 4 * (i / 4) + order[i % 4]));
        storeWord(output + wordSize * i, rotateLeft(stored ^ entry.mask(4 * i), 8 * (i % 3 + 1)));
    }

    std::uint8_t tagBytes[wordSize];
    storeWord(tagBytes, tag);
    std::uint8_t digest[digestSize];
    mbedtls_sha256_context sha;
    mbedtls_sha256_init(&sha);
    const bool hashed = mbedtls_sha256_starts_ret(&sha, 0) == 0 &&
                        mbedtls_sha256_update_ret(&sha, output, wordSize * n) == 0 &&
                        mbedtls_sha256_update_ret(&sha, tagBytes, sizeof tagBytes) == 0 &&
                        mbedtls_sha256_update_ret(&sha, table.salt, sizeof table.salt) == 0 &&
                        mbedtls_sha256_finish_ret(&sha, digest) == 0;
    mbedtls_sha256_free(&sha);
    if (!hashed) {
        return false;
    }
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < digestSize; ++i) {
        difference |= static_cast<std::uint8_t>(digest[i] ^ entry.word(digestWord)[i]);
    }
    return difference == 0;
}

} // namespace detail

bool getKey(std::uint32_t keyNumber, std::uint8_t* output, std::size_t length, std::uint32_t& tag) {
    return detail::getKey(detail::keyStoreTable, keyNumber, output, length, tag);
}

} // namespace qv::sys::encryption
