#include "tools/manager_simulator/message_encoder.h"

#include "channel/aes_cipher.h"
#include "channel/aes_handler.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::simulator {

std::string encipherMessage(const sys::encryption::Key<16>& key, const std::string& text) {
    const std::size_t blocks = 1 + (text.size() + 15) / 16;
    std::vector<std::uint8_t> plain(16 * blocks, 0);
    sys::encryption::randomFill(plain.data(), 16);
    std::copy(text.begin(), text.end(), plain.begin() + 16);

    const sys::encryption::AesCipher cipher(key, false);
    sys::encryption::Block<16> iv;
    cipher.crypt(iv, plain.data(), plain.data(), plain.size());

    std::string encoded = sys::base64Encode(plain.data(), plain.size());
    if (encoded.empty()) {
        throw std::runtime_error("Base64 encoding failed");
    }
    return encoded;
}

} // namespace qv::simulator
