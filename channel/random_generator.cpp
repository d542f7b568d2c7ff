#include "channel/random_generator.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/platform_util.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

namespace qv::sys::encryption {
namespace {

constexpr char personalization[] = "Quorvane Ltd.";

// Set once the generator has been destroyed at process exit. Keys held by
// other static objects may be released after that; they must not touch the
// destroyed generator. Trivially destructible, so it outlives everything.
std::atomic<bool> generatorReleased{false};

class RandomGenerator {
public:
    RandomGenerator() {
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        const int result = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                                 reinterpret_cast<const unsigned char*>(personalization),
                                                 sizeof personalization - 1);
        if (result != 0) {
            release();
            throw std::runtime_error("mbedtls_ctr_drbg_init returned " + std::to_string(result));
        }
    }

    ~RandomGenerator() {
        generatorReleased = true;
        release();
    }

    RandomGenerator(const RandomGenerator&) = delete;
    RandomGenerator& operator=(const RandomGenerator&) = delete;

    void fill(unsigned char* buffer, std::size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        while (length > 0) {
            const std::size_t piece = std::min<std::size_t>(length, MBEDTLS_CTR_DRBG_MAX_REQUEST);
            const int result = mbedtls_ctr_drbg_random(&drbg, buffer, piece);
            if (result != 0) {
                throw std::runtime_error("mbedtls_ctr_drbg_random returned " + std::to_string(result));
            }
            buffer += piece;
            length -= piece;
        }
    }

private:
    void release() noexcept {
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }

    std::mutex mutex;
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
};

RandomGenerator& generator() {
    if (generatorReleased) {
        throw std::runtime_error("random generator used after its release");
    }
    // A function-local static: first use from several threads is safe, and a
    // failed seeding is tried again on the next use.
    static RandomGenerator instance;
    return instance;
}

} // namespace

void randomFill(void* buffer, std::size_t length) {
    if (length == 0) {
        return;
    }
    generator().fill(static_cast<unsigned char*>(buffer), length);
}

std::uint32_t random32() {
    unsigned char bytes[4];
    randomFill(bytes, sizeof bytes);
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

void wipeKeyMaterial(void* buffer, std::size_t length) noexcept {
    try {
        randomFill(buffer, length);
    } catch (...) {
        // A throwing destructor would end the process; zeroes still hide the key.
        mbedtls_platform_zeroize(buffer, length);
    }
}

} // namespace qv::sys::encryption
