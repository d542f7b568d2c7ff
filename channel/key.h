#pragma once

#include "channel/random_generator.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv::sys::encryption {

// A fixed-size run of bytes; the CBC chaining value is one. Starts all zero.
template <std::size_t N>
class Block {
public:
    Block() noexcept : bytes{} {}
    explicit Block(const std::uint8_t* source) noexcept { std::memcpy(bytes, source, N); }
    Block(const Block&) = default;
    Block& operator=(const Block&) = default;
    virtual ~Block() = default;

    static constexpr std::size_t size() noexcept { return N; }
    std::uint8_t* data() noexcept { return bytes; }
    const std::uint8_t* data() const noexcept { return bytes; }
    std::uint8_t& operator[](std::size_t i) noexcept { return bytes[i]; }
    std::uint8_t operator[](std::size_t i) const noexcept { return bytes[i]; }

    friend bool operator==(const Block& a, const Block& b) noexcept {
        return std::memcmp(a.bytes, b.bytes, N) == 0;
    }
    friend bool operator!=(const Block& a, const Block& b) noexcept { return !(a == b); }

protected:
    std::uint8_t bytes[N];
};

// Key material: overwritten before its storage goes away.
template <std::size_t N>
class Key : public Block<N> {
public:
    using Block<N>::Block;
    Key() noexcept = default;
    Key(const Key&) = default;
    Key& operator=(const Key&) = default;
    ~Key() override { wipeKeyMaterial(this->bytes, N); }
};

} // namespace qv::sys::encryption
