#include "channel/aes_handler.h"

#include <mbedtls/base64.h>

#include <stdexcept>

namespace qv::sys {

std::vector<std::uint8_t> base64DecodeBlocks(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const auto* source = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t length = 0;
    if (mbedtls_base64_decode(nullptr, 0, &length, source, text.size()) !=
            MBEDTLS_ERR_BASE64_BUFFER_TOO_SMALL ||
        length == 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes(length);
    if (mbedtls_base64_decode(bytes.data(), bytes.size(), &length, source, text.size()) != 0) {
        return {};
    }
    bytes.resize(length - length % 16);
    return bytes;
}

std::string base64Encode(const std::uint8_t* bytes, std::size_t length) {
    std::size_t size = 0;
    mbedtls_base64_encode(nullptr, 0, &size, bytes, length);
    std::string text(size, '\0');
    if (mbedtls_base64_encode(reinterpret_cast<unsigned char*>(text.data()), text.size(), &size, bytes,
                              length) != 0) {
        return std::string();
    }
    text.resize(size);
    return text;
}

AesHandler::AesHandler(MessageHandler* next, const encryption::Key<16>& key) : next(next), cipher(key, true) {
    if (next == nullptr) {
        throw std::invalid_argument("AesHandler needs a handler for the plain text");
    }
}

void AesHandler::handleMessage(const std::string& payload) {
    const std::vector<std::uint8_t> ciphertext = base64DecodeBlocks(payload);
    if (ciphertext.empty()) {
        next->handleMessage(std::string());
        return;
    }
    // Deciphered straight into the text; the sender's first block is then dropped.
    std::string text(ciphertext.size(), '\0');
    cipher.crypt(iv, ciphertext.data(), reinterpret_cast<std::uint8_t*>(&text[0]), text.size());
    text.erase(0, 16);
    next->handleMessage(text);
}

} // namespace qv::sys
