#include "tools/manager_simulator/frames.h"

#include "channel/message_frame.h"

#include "channel/random_generator.h"
#include "tools/manager_simulator/message_encoder.h"

#include <limits>
#include <stdexcept>
#include <utility>

namespace qv::simulator {
namespace {

struct KindName {
    FrameKind kind;
    const char* name;
};

constexpr KindName kindNames[] = {
    {FrameKind::Good, "good"},
    {FrameKind::Short, "short"},
    {FrameKind::ZeroLength, "zero-length"},
    {FrameKind::LongLength, "long-length"},
    {FrameKind::MaxLength, "max-length"},
    {FrameKind::BadBase64, "bad-base64"},
    {FrameKind::WrongKey, "wrong-key"},
    {FrameKind::NotJson, "not-json"},
};

std::string framed(std::uint64_t length, const std::string& payload) {
    return frameHeader(length) + payload;
}

sys::encryption::Key<16> otherKey(const sys::encryption::Key<16>& channelKey) {
    sys::encryption::Key<16> key;
    do {
        sys::encryption::randomFill(key.data(), key.size());
    } while (key == channelKey);
    return key;
}

} // namespace

const char* frameKindName(FrameKind kind) {
    for (const KindName& entry : kindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "unknown";
}

std::string badFrameKindNames() {
    std::string names;
    for (const KindName& entry : kindNames) {
        if (entry.kind != FrameKind::Good) {
            names += names.empty() ? "" : ", ";
            names += entry.name;
        }
    }
    return names;
}

std::vector<FrameKind> parseBadFrameKinds(const std::string& list) {
    std::vector<FrameKind> kinds;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string word =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (const KindName& entry : kindNames) {
            if (entry.kind != FrameKind::Good && word == entry.name) {
                kinds.push_back(entry.kind);
                known = true;
            }
        }
        if (!known) {
            throw std::invalid_argument("unknown bad frame kind '" + word +
                                        "' (kinds: " + badFrameKindNames() + ")");
        }
        if (comma == std::string::npos) {
            return kinds;
        }
        start = comma + 1;
    }
}

std::string frameHeader(std::uint64_t length) {
    std::string header(frameHeaderSize, '\0');
    for (std::size_t i = 0; i < frameHeaderSize; ++i) {
        header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    return header;
}

std::uint64_t frameLength(const std::string& frame) {
    if (frame.size() < frameHeaderSize) {
        throw std::invalid_argument("a frame shorter than its length field has no length");
    }
    return sys::frameLength(reinterpret_cast<const std::uint8_t*>(frame.data()));
}

std::string buildFrame(FrameKind kind, const sys::encryption::Key<16>& channelKey, const std::string& text) {
    switch (kind) {
    case FrameKind::Good: {
        const std::string payload = encipherMessage(channelKey, text);
        return framed(payload.size(), payload);
    }
    case FrameKind::Short:
        // A length field cut off: what a torn write would leave.
        return buildFrame(FrameKind::Good, channelKey, text).substr(0, shortFrameSize);
    case FrameKind::ZeroLength:
        return frameHeader(0);
    case FrameKind::LongLength: {
        const std::string payload = encipherMessage(channelKey, text);
        return framed(payload.size() + longLengthExcess, payload);
    }
    case FrameKind::MaxLength:
        return framed(std::numeric_limits<std::uint64_t>::max(), encipherMessage(channelKey, text));
    case FrameKind::BadBase64: {
        std::string payload = encipherMessage(channelKey, text);
        // One character at the start and one inside, so that neither a
        // prefix nor a suffix of the payload decodes.
        payload[0] = '!';
        payload[payload.size() / 2] = '*';
        return framed(payload.size(), payload);
    }
    case FrameKind::WrongKey: {
        const std::string payload = encipherMessage(otherKey(channelKey), text);
        return framed(payload.size(), payload);
    }
    case FrameKind::NotJson: {
        const std::string payload = encipherMessage(channelKey, notJsonText);
        return framed(payload.size(), payload);
    }
    }
    throw std::invalid_argument("unknown frame kind");
}

FramePlan::FramePlan(std::size_t lineCount, std::uint64_t repeat, std::vector<FrameKind> badKinds,
                     std::uint64_t badEvery)
    : lineCount(lineCount), badKinds(std::move(badKinds)), badEvery(badEvery), goodCount(0), badCount(0) {
    if (lineCount == 0) {
        throw std::invalid_argument("no dock events to send");
    }
    if (repeat == 0 || badEvery == 0) {
        throw std::invalid_argument("the repeat count and the bad frame interval must be at least 1");
    }
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max() / 2;
    if (repeat > most / lineCount) {
        throw std::invalid_argument("too many frames");
    }
    goodCount = lineCount * repeat;
    badCount = this->badKinds.empty() ? 0 : goodCount / badEvery;
    if (badCount == 0) {
        this->badKinds.clear();
    }
}

PlannedFrame FramePlan::at(std::uint64_t index) const {
    if (index >= size()) {
        throw std::out_of_range("frame index beyond the plan");
    }
    PlannedFrame frame;
    if (badKinds.empty()) {
        frame.line = static_cast<std::size_t>(index % lineCount);
        return frame;
    }
    // Groups of badEvery good frames and one bad frame; the tail after the
    // last whole group holds good frames only.
    const std::uint64_t group = index / (badEvery + 1);
    const std::uint64_t position = index % (badEvery + 1);
    if (position < badEvery) {
        frame.line = static_cast<std::size_t>((group * badEvery + position) % lineCount);
    } else {
        frame.kind = badKinds[group % badKinds.size()];
        frame.line = static_cast<std::size_t>((group * badEvery + badEvery - 1) % lineCount);
    }
    return frame;
}

} // namespace qv::simulator
