#include "tools/dump_reader/samples.h"

namespace qv::dump::sample {

namespace {

std::size_t append(std::string& out, const std::string& data) {
    const std::size_t at = out.size();
    out += data;
    return at;
}

std::size_t appendContext(std::string& out, const Registers& registers) {
    std::string context(1232, '\0');
    for (std::size_t i = 0; i < registers.r.size(); ++i) {
        put(context, 0x78 + 8 * i, registers.r[i]);
    }
    put(context, 0xF8, registers.rip);
    return append(out, context);
}

} // namespace

std::string minidump(const std::vector<DumpThread>& threads, const std::vector<DumpModule>& modules,
                     const std::optional<DumpException>& exception) {
    const std::uint32_t streams = exception ? 3 : 2;
    std::string out(32 + 12 * streams, '\0');
    out.replace(0, 4, "MDMP");
    put(out, 4, 0xA793u);
    put(out, 8, streams);
    put(out, 12, 32u);
    const auto directory = [&](std::uint32_t index, std::uint32_t type, const std::string& stream) {
        put(out, 32 + 12 * index, type);
        put(out, 36 + 12 * index, static_cast<std::uint32_t>(stream.size()));
        put(out, 40 + 12 * index, static_cast<std::uint32_t>(append(out, stream)));
    };

    std::string list(4 + 48 * threads.size(), '\0');
    put(list, 0, static_cast<std::uint32_t>(threads.size()));
    for (std::size_t i = 0; i < threads.size(); ++i) {
        const std::size_t record = 4 + 48 * i;
        put(list, record, threads[i].id);
        put(list, record + 24, threads[i].stackStart);
        put(list, record + 32, static_cast<std::uint32_t>(threads[i].stack.size()));
        put(list, record + 36, static_cast<std::uint32_t>(append(out, threads[i].stack)));
        put(list, record + 40, 1232u);
        put(list, record + 44, static_cast<std::uint32_t>(appendContext(out, threads[i].context)));
    }
    directory(0, 3, list);

    list.assign(4 + 108 * modules.size(), '\0');
    put(list, 0, static_cast<std::uint32_t>(modules.size()));
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const std::size_t record = 4 + 108 * i;
        std::string name(4, '\0');
        put(name, 0, static_cast<std::uint32_t>(2 * modules[i].path.size()));
        for (char c : modules[i].path) {
            name += c;
            name += '\0';
        }
        put(list, record, modules[i].base);
        put(list, record + 8, modules[i].size);
        put(list, record + 12, modules[i].checkSum);
        put(list, record + 16, modules[i].timeStamp);
        put(list, record + 20, static_cast<std::uint32_t>(append(out, name)));
        put(list, record + 76, static_cast<std::uint32_t>(modules[i].codeView.size()));
        put(list, record + 80, static_cast<std::uint32_t>(append(out, modules[i].codeView)));
    }
    directory(1, 4, list);

    if (exception) {
        std::string stream(168, '\0');
        put(stream, 0, exception->threadId);
        put(stream, 8, exception->code);
        put(stream, 24, exception->address);
        put(stream, 32, 2u);
        put(stream, 40, 1u); // written
        put(stream, 160, 1232u);
        put(stream, 164, static_cast<std::uint32_t>(appendContext(out, exception->context)));
        directory(2, 6, stream);
    }
    return out;
}

std::string codeViewRecord(char buildId) {
    return "RSDS" + std::string(16, buildId) + std::string("\1\0\0\0app.pdb\0", 11);
}

std::string image(std::uint32_t checkSum, std::uint32_t timeStamp, char buildId) {
    // Headers, then one section from file offset 0x200 holding image offsets 0x1000-0x2fff.
    std::string out(0x200 + 0x2000, '\0');
    out.replace(0, 2, "MZ");
    put(out, 0x3C, 0x40u);
    out.replace(0x40, 4, std::string("PE\0\0", 4));
    put(out, 0x44, std::uint16_t(0x8664));
    put(out, 0x46, std::uint16_t(1));
    put(out, 0x48, timeStamp);
    put(out, 0x54, std::uint16_t(240));
    const std::size_t optional = 0x58;
    put(out, optional, std::uint16_t(0x20B));
    put(out, optional + 24, kImageBase);
    put(out, optional + 56, kImageSize);
    put(out, optional + 64, checkSum);
    put(out, optional + 108, 16u);
    put(out, optional + 112 + 8 * 3, 0x2000u); // the unwind table: two entries
    put(out, optional + 116 + 8 * 3, 24u);
    if (buildId != 0) { // one debug entry at 0x2200, its record at 0x2300
        put(out, optional + 112 + 8 * 6, 0x2200u);
        put(out, optional + 116 + 8 * 6, 28u);
        put(out, 0x200 + 0x1200 + 12, 2u);
        const std::string record = codeViewRecord(buildId);
        put(out, 0x200 + 0x1200 + 16, static_cast<std::uint32_t>(record.size()));
        put(out, 0x200 + 0x1200 + 24, 0x200u + 0x1300);
        out.replace(0x200 + 0x1300, record.size(), record);
    }
    const std::size_t section = optional + 240;
    out.replace(section, 5, ".text");
    put(out, section + 8, 0x2000u);
    put(out, section + 12, 0x1000u);
    put(out, section + 16, 0x2000u);
    put(out, section + 20, 0x200u);

    const auto at = [](std::uint32_t rva) { return 0x200 + (rva - 0x1000); };
    const std::uint32_t table[] = {0x1000, 0x1080, 0x2100, 0x1080, 0x1100, 0x2120};
    for (std::size_t i = 0; i < 6; ++i) {
        put(out, at(0x2000) + 4 * i, table[i]);
    }
    // Version 1, prologue 9 bytes, 3 codes, frame register rbp at offset 16;
    // the codes in reverse order: lea rbp (at 9), sub rsp 32 (at 5), push rbp (at 1).
    const std::uint16_t first[] = {0x0901, 0x1503, 0x0309, 0x3205, 0x5001, 0};
    for (std::size_t i = 0; i < 6; ++i) {
        put(out, at(0x2100) + 2 * i, first[i]);
    }
    // Chained, no prologue, 2 slots: save rbx at [rsp + 2*8]; then the parent entry.
    const std::uint16_t fragment[] = {0x0021, 0x0002, 0x3404, 0x0002, 0x1000, 0, 0x1080, 0, 0x2100, 0};
    for (std::size_t i = 0; i < 10; ++i) {
        put(out, at(0x2120) + 2 * i, fragment[i]);
    }
    const auto code = [&](std::uint32_t rva, const std::string& bytes) {
        out.replace(at(rva), bytes.size(), bytes);
    };
    code(0x1300, std::string("\xE8\xFB\xFC\xFF\xFF", 5));     // call 0x1000
    code(0x1400, std::string("\xFF\x15\x00\x10\x00\x00", 6)); // call [rip+0x1000]
    code(0x1500, std::string("\xFF\x25\x00\x10\x00\x00", 6)); // jmp [rip+0x1000]
    code(0x1600, std::string("\xE8\xFB\xFE\xFF\xFF", 5));     // call 0x1500
    return out;
}

} // namespace qv::dump::sample
