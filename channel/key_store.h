#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::sys::encryption {

// Key numbers of the store (see channel/keys.txt).
inline constexpr std::uint32_t channelKeyNumber = 2;
inline constexpr std::uint32_t logKeyNumber = 5;

// Fills `output` with the `length` bytes of key `keyNumber` and `tag` with the
// entry's tag. True when the entry exists, its length is `length` and its
// digest matches. A missing key or a wrong length leaves `output` untouched;
// a failed digest check still writes it.
bool getKey(std::uint32_t keyNumber, std::uint8_t* output, std::size_t length, std::uint32_t& tag);

namespace detail {

inline constexpr std::size_t keyStoreIndexSize = 8;
inline constexpr std::size_t keyStoreEntryAreaSize = 2016;
inline constexpr std::size_t keyStoreMaskSize = 17;
inline constexpr std::size_t keyStoreSaltSize = 8;
inline constexpr std::uint32_t missingKey = 0xFFFFFFFF;

// The scrambled store. Its data are generated at build time from channel/keys.txt.
struct KeyStoreTable {
    std::uint32_t index[keyStoreIndexSize]; // byte offsets into entries, or missingKey
    std::uint8_t entries[keyStoreEntryAreaSize];
    std::uint8_t mask[keyStoreMaskSize];
    std::uint8_t salt[keyStoreSaltSize];
};

extern const KeyStoreTable keyStoreTable;

bool getKey(const KeyStoreTable& table, std::uint32_t keyNumber, std::uint8_t* output, std::size_t length,
            std::uint32_t& tag);

} // namespace detail
} // namespace qv::sys::encryption
