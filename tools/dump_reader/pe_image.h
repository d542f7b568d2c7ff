#pragma once

// An x64 PE image file (an unstripped executable or its debug file): the
// identity that pairs it with a dump's module, its code bytes and its unwind
// table. Errors throw an InputError with status kBadDebugFile.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/dump_reader/bytes.h"
#include "tools/dump_reader/minidump.h"

namespace qv::dump {

struct RuntimeFunction {
    std::uint32_t begin = 0, end = 0, unwindInfo = 0; // image offsets (RVAs)
};

class PeImage {
public:
    // `bytes` must outlive the image; `name` labels the errors.
    PeImage(std::string_view bytes, std::string name);

    const std::string& name() const { return name_; }
    std::uint64_t imageBase() const { return imageBase_; }
    std::uint32_t sizeOfImage() const { return sizeOfImage_; }
    std::uint32_t checkSum() const { return checkSum_; }
    std::uint32_t timeStamp() const { return timeStamp_; }
    const std::optional<CodeViewId>& codeView() const { return codeView_; }

    // Copies `size` bytes at `rva` from the sections' file data; false where they have none.
    bool read(std::uint32_t rva, void* out, std::uint32_t size) const;
    // The unwind table entry whose range holds `rva`.
    std::optional<RuntimeFunction> functionAt(std::uint32_t rva) const;

    // Why the image does not belong to `module`, or empty when it does: the
    // CodeView ids decide when both have one; else non-zero time stamps;
    // else the image size and checksum.
    std::string mismatch(const Module& module) const;

private:
    struct Section {
        std::uint32_t rva, virtualSize, fileOffset, fileSize;
    };
    std::optional<std::uint64_t> fileOffset(std::uint32_t rva, std::uint32_t size) const;

    Bytes bytes_;
    std::string name_;
    std::uint64_t imageBase_ = 0;
    std::uint32_t sizeOfImage_ = 0, checkSum_ = 0, timeStamp_ = 0;
    std::optional<CodeViewId> codeView_;
    std::vector<Section> sections_;
    std::vector<RuntimeFunction> functions_; // sorted by begin
};

} // namespace qv::dump
