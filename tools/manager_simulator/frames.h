#pragma once

#include "channel/message_frame.h"

#include "channel/key.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::simulator {

// What one pipe message of the simulator is. Every kind but Good breaks one
// rule of the frame or of its payload.
enum class FrameKind {
    Good,       // 8-byte length, Base64 of the text enciphered under the channel key
    Short,      // 5 bytes: less than a length field
    ZeroLength, // a length of 0 and nothing after it
    LongLength, // a good payload under a length 4096 bytes larger than it
    MaxLength,  // a good payload under the length 2^64-1
    BadBase64,  // right length, payload with characters outside Base64
    WrongKey,   // right length, enciphered under a random key
    NotJson,    // right length and key, the plain text is not JSON
};

inline constexpr std::size_t frameHeaderSize = sys::messageHeaderSize;
inline constexpr std::size_t shortFrameSize = 5;
inline constexpr std::uint64_t longLengthExcess = 4096;
// The plain text of a NotJson frame.
inline constexpr const char* notJsonText = "this is not a dock event";

// "good", "short", "zero-length", "long-length", "max-length", "bad-base64",
// "wrong-key", "not-json".
const char* frameKindName(FrameKind kind);
// The bad kinds' names joined by ", ", for the usage text.
std::string badFrameKindNames();
// A comma-separated list of bad kinds ("short,not-json"). Throws
// std::invalid_argument naming the first word that is not a bad kind.
std::vector<FrameKind> parseBadFrameKinds(const std::string& list);

// The 8-byte little-endian length field.
std::string frameHeader(std::uint64_t length);
// The length field of a frame of at least 8 bytes.
std::uint64_t frameLength(const std::string& frame);

// The bytes of one pipe message of `kind`. Good, LongLength, MaxLength,
// BadBase64 and WrongKey carry `text`; every enciphered payload starts with a
// fresh random block, so no two frames are alike.
std::string buildFrame(FrameKind kind, const sys::encryption::Key<16>& channelKey, const std::string& text);

struct PlannedFrame {
    FrameKind kind = FrameKind::Good;
    // Index of the text line: the line a good frame sends, or the line of the
    // good frame that a bad one follows (its text, for the kinds that carry one).
    std::size_t line = 0;
};

// The order of the frames of one run, computed on demand so that floods of
// millions of messages cost no memory: the lines `repeat` times over, and
// after every `badEvery`-th good frame one bad frame, the bad kinds taking
// turns in the order given.
class FramePlan {
public:
    // Throws std::invalid_argument for no lines, a repeat or badEvery of 0, or
    // more frames than a 64-bit count holds.
    FramePlan(std::size_t lineCount, std::uint64_t repeat, std::vector<FrameKind> badKinds,
              std::uint64_t badEvery);

    std::uint64_t size() const { return goodCount + badCount; }
    std::uint64_t goodFrames() const { return goodCount; }
    std::uint64_t badFrames() const { return badCount; }
    // Frame `index` (0 <= index < size()).
    PlannedFrame at(std::uint64_t index) const;

private:
    std::size_t lineCount;
    std::vector<FrameKind> badKinds;
    std::uint64_t badEvery;
    std::uint64_t goodCount;
    std::uint64_t badCount;
};

} // namespace qv::simulator
