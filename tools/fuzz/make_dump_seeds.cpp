// Writes the seed corpus of qv_fuzz_minidump into the given folder: the
// crafted image, and crafted dumps whose stacks unwind through it and need
// the stack scan.

#include "tools/dump_reader/samples.h"

#include "tools/fuzz/seed_corpus.h"

#include <cstdio>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    using namespace qv::dump;
    const auto registers = [](std::uint64_t rip, std::uint64_t rsp, std::uint64_t rbp) {
        Registers r;
        r.rip = rip;
        r.r[Registers::kRsp] = rsp;
        r.r[5] = rbp;
        return r;
    };
    std::string stack(0x70, '\0');
    sample::put(stack, 0x58, sample::kImageBase + 0x1205);
    sample::put(stack, 0x60, std::uint64_t(0x170000010));
    std::string scan(0x28, '\0');
    sample::put(scan, 0x8, sample::kImageBase + 0x1305);
    sample::put(scan, 0x10, sample::kImageBase + 0x1406);
    sample::put(scan, 0x18, std::uint64_t(0x170000100));
    const std::vector<sample::DumpModule> modules{
        {sample::kImageBase, sample::kImageSize, 0x1234, 0, "C:\\q\\app.exe"},
        {0x170000000, 0x1000, 0, 1, "C:\\windows\\system32\\ntdll.dll"}};
    const Registers unwound = registers(sample::kImageBase + 0x1090, 0x10000, 0x10040);
    const Registers scanned = registers(0x170000020, 0x20000, 0);
    const std::string seeds[] = {
        sample::image(),
        sample::minidump({{7, 0x10000, stack, unwound}}, modules,
                         sample::DumpException{7, 0xC0000005, unwound.rip, unwound}),
        sample::minidump({{7, 0x20000, scan, scanned}, {8, 0x10000, stack, unwound}}, modules,
                         sample::DumpException{7, 1, scanned.rip, scanned}),
        sample::minidump({}, {}, std::nullopt),
    };
    return qv::fuzz::writeSeeds(argv[1], "dump-seed-", {std::begin(seeds), std::end(seeds)});
}
