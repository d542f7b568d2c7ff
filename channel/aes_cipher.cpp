#include "channel/aes_cipher.h"

#include <mbedtls/aes.h>

#include <stdexcept>
#include <string>

namespace qv::sys::encryption {
namespace {

void releaseContext(mbedtls_aes_context* context) noexcept {
    mbedtls_aes_free(context);
    wipeKeyMaterial(context, sizeof *context);
    delete context;
}

} // namespace

AesCipher::AesCipher(const Key<16>& key, bool decrypting)
    : decrypt(decrypting ? 1 : 0), context(new mbedtls_aes_context) {
    mbedtls_aes_init(context);
    const int result = decrypt ? mbedtls_aes_setkey_dec(context, key.data(), 128)
                               : mbedtls_aes_setkey_enc(context, key.data(), 128);
    if (result != 0) {
        releaseContext(context);
        throw std::runtime_error("mbedtls_aes_setkey returned " + std::to_string(result));
    }
}

AesCipher::~AesCipher() {
    releaseContext(context);
}

void AesCipher::crypt(Block<16>& iv, const std::uint8_t* input, std::uint8_t* output,
                      std::size_t length) const {
    if (length % 16 != 0) {
        throw std::invalid_argument("AES-CBC length " + std::to_string(length) +
                                    " is not a whole number of blocks");
    }
    if (length == 0) {
        return;
    }
    const int result = mbedtls_aes_crypt_cbc(context, decrypt ? MBEDTLS_AES_DECRYPT : MBEDTLS_AES_ENCRYPT,
                                             length, iv.data(), input, output);
    if (result != 0) {
        throw std::runtime_error("mbedtls_aes_crypt_cbc returned " + std::to_string(result));
    }
}

} // namespace qv::sys::encryption
