#pragma once

// Walks a thread's stack from a register context: with the x64 unwind data
// of the images given, and by scanning the stack memory for return addresses
// into those images where a frame lies in a module without one.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "tools/dump_reader/minidump.h"
#include "tools/dump_reader/pe_image.h"

namespace qv::dump {

struct Frame {
    enum class Found { kContext, kUnwound, kScanned };
    std::uint64_t rip = 0, rsp = 0;
    Found found = Found::kContext;
    // The address that names the frame's call site: a return address less one.
    std::uint64_t site() const { return found == Found::kContext ? rip : rip - 1; }
};

// The images paired with the dump's modules (by module base).
using Images = std::map<std::uint64_t, const PeImage*>;

// Undoes the prologue of the function holding `registers.rip` (an offset of
// `image`): the caller's registers, or nothing when the stack memory or the
// unwind data needed is missing.
std::optional<Registers> unwindFrame(const Registers& registers, std::uint64_t moduleBase, bool topFrame,
                                     const PeImage& image, const Minidump& dump);

std::vector<Frame> walkStack(const Minidump& dump, const Images& images, const Registers& start,
                             std::size_t maxFrames = 64);

} // namespace qv::dump
