#pragma once

#include "channel/key.h"

#include <boost/noncopyable.hpp>

#include <cstddef>
#include <cstdint>

struct mbedtls_aes_context;

namespace qv::sys::encryption {

// AES-128 in CBC mode in one fixed direction. The key schedule lives on the
// heap and is overwritten with random bytes before it is freed.
class AesCipher : boost::noncopyable {
public:
    AesCipher(const Key<16>& key, bool decrypting);
    ~AesCipher();

    // CBC over `length` bytes (a whole number of blocks; std::invalid_argument
    // otherwise). `iv` is left holding the chaining value after the last block,
    // so that a following call continues the chain. Input and output may be the
    // same buffer.
    void crypt(Block<16>& iv, const std::uint8_t* input, std::uint8_t* output, std::size_t length) const;

    bool isDecrypting() const noexcept { return decrypt != 0; }

private:
    std::uint32_t decrypt;
    mbedtls_aes_context* context;
};

} // namespace qv::sys::encryption
