#include "tools/dump_reader/pe_image.h"

#include <algorithm>

namespace qv::dump {

namespace {
constexpr std::uint16_t kMachineAmd64 = 0x8664, kPe32Plus = 0x20B;
constexpr std::uint32_t kExceptionDirectory = 3, kDebugDirectory = 6, kCodeView = 2;
} // namespace

PeImage::PeImage(std::string_view data, std::string name) : bytes_(data, name, kBadDebugFile), name_(name) {
    if (bytes_.slice(0, 2, "the DOS header") != "MZ") {
        bytes_.fail("not a PE image (no MZ signature)");
    }
    const auto pe = bytes_.get<std::uint32_t>(0x3C, "the DOS header");
    if (bytes_.slice(pe, 4, "the PE signature") != std::string_view("PE\0\0", 4)) {
        bytes_.fail("not a PE image (no PE signature)");
    }
    if (bytes_.get<std::uint16_t>(pe + 4, "the COFF header") != kMachineAmd64) {
        bytes_.fail("not an x64 image");
    }
    const auto sectionCount = bytes_.get<std::uint16_t>(pe + 6, "the COFF header");
    timeStamp_ = bytes_.get<std::uint32_t>(pe + 8, "the COFF header");
    const auto optionalSize = bytes_.get<std::uint16_t>(pe + 20, "the COFF header");
    const std::uint64_t optional = pe + 24;
    if (bytes_.get<std::uint16_t>(optional, "the optional header") != kPe32Plus || optionalSize < 112) {
        bytes_.fail("not a PE32+ image");
    }
    imageBase_ = bytes_.get<std::uint64_t>(optional + 24, "the optional header");
    sizeOfImage_ = bytes_.get<std::uint32_t>(optional + 56, "the optional header");
    checkSum_ = bytes_.get<std::uint32_t>(optional + 64, "the optional header");
    const auto directories =
        std::min(bytes_.get<std::uint32_t>(optional + 108, "the optional header"), (optionalSize - 112u) / 8);
    auto directory = [&](std::uint32_t index) {
        return index < directories
                   ? std::make_pair(bytes_.get<std::uint32_t>(optional + 112 + 8 * index, "a data directory"),
                                    bytes_.get<std::uint32_t>(optional + 116 + 8 * index, "a data directory"))
                   : std::make_pair(0u, 0u);
    };

    const std::uint64_t sectionTable = optional + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = sectionTable + 40 * i;
        Section section{bytes_.get<std::uint32_t>(header + 12, "a section header"),
                        bytes_.get<std::uint32_t>(header + 8, "a section header"),
                        bytes_.get<std::uint32_t>(header + 20, "a section header"),
                        bytes_.get<std::uint32_t>(header + 16, "a section header")};
        bytes_.need(section.fileOffset, section.fileSize, "a section's data");
        sections_.push_back(section);
    }

    const auto [unwindAt, unwindSize] = directory(kExceptionDirectory);
    // Each table is read until an entry lies outside the sections' data, so
    // that a size of 4 GB in a small file costs nothing.
    for (std::uint64_t at = 0; at + 12 <= unwindSize; at += 12) {
        RuntimeFunction function;
        if (!read(static_cast<std::uint32_t>(unwindAt + at), &function, 12)) {
            bytes_.fail("the unwind table lies outside the sections' data");
        }
        functions_.push_back(function);
    }
    std::sort(functions_.begin(), functions_.end(),
              [](const RuntimeFunction& a, const RuntimeFunction& b) { return a.begin < b.begin; });

    const auto [debugAt, debugSize] = directory(kDebugDirectory);
    for (std::uint64_t at = 0; at + 28 <= debugSize; at += 28) {
        std::uint32_t entry[7];
        if (!read(static_cast<std::uint32_t>(debugAt + at), entry, sizeof entry)) {
            break;
        }
        if (entry[3] == kCodeView && entry[4] >= 24) {
            const std::string_view record = bytes_.slice(entry[6], 24, "the CodeView record");
            if (record.substr(0, 4) == "RSDS") {
                CodeViewId id;
                std::copy(record.begin() + 4, record.begin() + 20, id.guid.begin());
                id.age = bytes_.get<std::uint32_t>(entry[6] + 20, "the CodeView record");
                codeView_ = id;
            }
        }
    }
}

std::optional<std::uint64_t> PeImage::fileOffset(std::uint32_t rva, std::uint32_t size) const {
    for (const Section& section : sections_) {
        const std::uint64_t inSection = std::uint64_t(rva) - section.rva;
        if (rva >= section.rva && inSection + size <= std::min(section.virtualSize, section.fileSize)) {
            return section.fileOffset + inSection;
        }
    }
    return std::nullopt;
}

bool PeImage::read(std::uint32_t rva, void* out, std::uint32_t size) const {
    const auto at = fileOffset(rva, size);
    if (!at) {
        return false;
    }
    // Little-endian host assumed for the raw copy, as for the x64 images read.
    const std::string_view data = bytes_.slice(*at, size, "section data");
    std::copy(data.begin(), data.end(), static_cast<char*>(out));
    return true;
}

std::optional<RuntimeFunction> PeImage::functionAt(std::uint32_t rva) const {
    auto after =
        std::upper_bound(functions_.begin(), functions_.end(), rva,
                         [](std::uint32_t value, const RuntimeFunction& f) { return value < f.begin; });
    if (after == functions_.begin() || rva >= std::prev(after)->end) {
        return std::nullopt;
    }
    return *std::prev(after);
}

std::string PeImage::mismatch(const Module& module) const {
    const std::string pair = name_ + " does not belong to " + module.path + " of the dump: ";
    if (module.codeView && codeView_) {
        return *module.codeView == *codeView_ ? std::string() : pair + "their build ids differ";
    }
    if (module.timeStamp != 0 || timeStamp_ != 0) {
        return module.timeStamp == timeStamp_
                   ? std::string()
                   : pair + "time stamp " + hex(timeStamp_) + ", the module's " + hex(module.timeStamp);
    }
    if (module.size != sizeOfImage_ || module.checkSum != checkSum_) {
        return pair + "image size " + hex(sizeOfImage_) + " and checksum " + hex(checkSum_) +
               ", the module's " + hex(module.size) + " and " + hex(module.checkSum);
    }
    return std::string();
}

} // namespace qv::dump
