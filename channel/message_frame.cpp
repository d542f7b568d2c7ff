#include "channel/message_frame.h"

namespace qv::sys {

std::uint64_t frameLength(const std::uint8_t* header) {
    std::uint64_t length = 0;
    for (std::size_t i = messageHeaderSize; i-- > 0;) {
        length = (length << 8) | header[i];
    }
    return length;
}

FramePayload cutFrame(const std::uint8_t* message, std::size_t size) {
    FramePayload frame;
    if (size < messageHeaderSize) {
        frame.truncated = true;
        return frame;
    }
    frame.declared = frameLength(message);
    const std::size_t received = size - messageHeaderSize;
    if (frame.declared > received) {
        frame.truncated = true;
        return frame;
    }
    frame.payload.assign(reinterpret_cast<const char*>(message + messageHeaderSize),
                         static_cast<std::size_t>(frame.declared));
    return frame;
}

} // namespace qv::sys
