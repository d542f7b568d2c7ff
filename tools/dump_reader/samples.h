#pragma once

// Small crafted minidumps and x64 PE images: the fuzzer's seeds and the
// inputs of the reader's tests.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/dump_reader/minidump.h"

namespace qv::dump::sample {

struct DumpThread {
    std::uint32_t id;
    std::uint64_t stackStart;
    std::string stack;
    Registers context;
};
struct DumpModule {
    std::uint64_t base;
    std::uint32_t size, checkSum, timeStamp;
    std::string path;
    std::string codeView = {}; // the record as written
};
struct DumpException {
    std::uint32_t threadId, code;
    std::uint64_t address;
    Registers context;
};

// A dump of a thread list, a module list and an exception stream (when
// given), in that order, each stream's data before the stream.
std::string minidump(const std::vector<DumpThread>& threads, const std::vector<DumpModule>& modules,
                     const std::optional<DumpException>& exception);

// The image of sampleImage(): its base, size and functions (image offsets).
constexpr std::uint64_t kImageBase = 0x140000000;
constexpr std::uint32_t kImageSize = 0x3000;
// [0x1000, 0x1080): push rbp; sub rsp, 32; lea rbp, [rsp+16] (frame register rbp).
// [0x1080, 0x1100): a fragment of it, saving rbx at [rsp+16], chained to the first.
// 0x1200: no unwind entry (a leaf). 0x1305: after "call 0x1000". 0x1406: after "call [rip+x]".
// 0x1500: a jmp [rip+x] import thunk; 0x1605: after "call 0x1500".
// With a build id, a CodeView debug entry holds codeViewRecord(buildId).
std::string image(std::uint32_t checkSum = 0x1234, std::uint32_t timeStamp = 0, char buildId = 0);
// "RSDS", a GUID of 16 times `buildId`, age 1, and a file name.
std::string codeViewRecord(char buildId);

// A little-endian field written into `bytes` at `offset`.
template <typename T>
void put(std::string& bytes, std::size_t offset, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i));
    }
}

} // namespace qv::dump::sample
