#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

inline std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Anything with data() and size(): a vector, an array, a Block.
template <typename Bytes>
std::string toHex(const Bytes& bytes) {
    std::string hex;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        hex += "0123456789abcdef"[bytes.data()[i] >> 4];
        hex += "0123456789abcdef"[bytes.data()[i] & 15];
    }
    return hex;
}

// NIST SP 800-38A, F.2.1 and F.2.2 (CBC-AES128).
inline const std::string nistKey = "2b7e151628aed2a6abf7158809cf4f3c";
inline const std::string nistIv = "000102030405060708090a0b0c0d0e0f";
inline const std::string nistPlain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
inline const std::string nistCipher = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";

} // namespace qv::test
