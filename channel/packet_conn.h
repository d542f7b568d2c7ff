#pragma once

#include <cstdint>
#include <vector>

namespace qv::sys {

class IWaitable;

// A connection that carries whole messages (packets).
class PacketConn {
public:
    // Reads the next whole message into `buffer` (resized to it); false when
    // none is ready.
    virtual bool readPacket(std::vector<std::uint8_t>& buffer) = 0;
    // Writes `data` as one message; false for an empty one.
    virtual bool writePacket(const std::vector<std::uint8_t>& data) = 0;
    // Copies the first buffer.size() bytes of the next message without taking
    // it; false when none is ready.
    virtual bool peekPacket(std::vector<std::uint8_t>& buffer) = 0;
    // Signalled when a message may be ready to read.
    virtual IWaitable& readWaitable() = 0;
    virtual ~PacketConn() = default;
};

} // namespace qv::sys
