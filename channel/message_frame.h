#pragma once

// One pipe message from the manager: an 8-byte little-endian payload length
// and the payload (Base64 text). The length comes from the peer and is not
// trusted: the payload is cut from what the pipe actually delivered.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::sys {

inline constexpr std::size_t messageHeaderSize = 8;

// The length field of a header of at least 8 bytes.
std::uint64_t frameLength(const std::uint8_t* header);

struct FramePayload {
    std::string payload;        // the first `declared` bytes after the header
    std::uint64_t declared = 0; // the header's length field
    bool truncated = false;     // the header promised more than the message held
};

// Cuts the payload out of a whole message of `size` bytes. A message shorter
// than its header, or than the length it declares, is malformed: it is marked
// truncated and has no payload (the reader drops it rather than decipher a
// fragment). Bytes after the declared payload are not part of it.
FramePayload cutFrame(const std::uint8_t* message, std::size_t size);

} // namespace qv::sys
