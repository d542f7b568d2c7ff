// The dump reader's parsing and stack walking, which read files from
// customers' machines.
//
// An input starting with "MZ" is an image file: parsed, then every function
// of it unwound on a crafted stack. Anything else is a dump: parsed, then
// reported whole with the crafted image paired with each of its modules (so
// that its stacks are unwound and scanned). Bad input must end in an
// InputError, never in a crash, a sanitizer report or a hang.

#include "tools/dump_reader/report.h"
#include "tools/dump_reader/samples.h"

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

namespace {

using namespace qv::dump;

struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
};

const std::string& sampleImageBytes() {
    static const std::string bytes = sample::image();
    return bytes;
}

const Minidump& sampleDump() {
    static const std::string bytes =
        sample::minidump({{1, 0x10000, std::string(256, '\x41'), Registers{}}},
                         {{sample::kImageBase, sample::kImageSize, 0x1234, 0, "app.exe"}}, std::nullopt);
    static const Minidump dump(bytes, "sample");
    return dump;
}

void readImage(std::string_view data) {
    const PeImage image(data, "fuzz.exe");
    image.mismatch(sampleDump().modules().front());
    Registers registers;
    registers.r[Registers::kRsp] = 0x10000;
    registers.r[5] = 0x10040;
    for (std::uint32_t rva = 0x1000; rva < 0x1400; rva += 0x10) {
        registers.rip = sample::kImageBase + rva;
        unwindFrame(registers, sample::kImageBase, true, image, sampleDump());
    }
}

void readDump(std::string_view data) {
    const Minidump dump(data, "fuzz.dmp");
    static const PeImage image(sampleImageBytes(), "app.exe");
    Images images;
    for (const Module& module : dump.modules()) {
        images[module.base] = &image;
    }
    const Symbolizer symbolizer = [](const PeImage&, const std::vector<std::uint32_t>& rvas) {
        std::map<std::uint32_t, Symbolized> symbols;
        for (std::uint32_t rva : rvas) {
            symbols[rva] = {{"f", "a/../b.cpp:1"}, {"g", ":"}};
        }
        return symbols;
    };
    NullBuffer buffer;
    std::ostream out(&buffer);
    printReport(out, dump, images, symbolizer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        if (input.substr(0, 2) == "MZ") {
            readImage(input);
        } else {
            readDump(input);
        }
    } catch (const InputError&) {
    }
    return 0;
}
