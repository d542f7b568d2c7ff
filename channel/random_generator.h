#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::sys::encryption {

// The process-wide random generator (CTR_DRBG seeded from the platform's
// entropy source). Created on first use from any thread; requests are
// serialised. Failures throw std::runtime_error.
void randomFill(void* buffer, std::size_t length);
std::uint32_t random32();

// Overwrites key material before its storage is released: random bytes when
// the generator can deliver them, zero bytes otherwise. Never throws, so that
// it is safe in destructors.
void wipeKeyMaterial(void* buffer, std::size_t length) noexcept;

} // namespace qv::sys::encryption
