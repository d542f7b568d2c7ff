#include "tools/dump_reader/minidump.h"

#include <algorithm>

namespace qv::dump {

namespace {

// Stream types and record sizes of the minidump format.
enum : std::uint32_t { kThreadList = 3, kModuleList = 4, kMemoryList = 5, kException = 6, kMemory64List = 9 };
constexpr std::uint32_t kHeaderSize = 32, kDirectoryEntrySize = 12, kThreadSize = 48, kModuleSize = 108,
                        kMemoryDescriptorSize = 16, kExceptionStreamSize = 168;
// The x64 CONTEXT up to and including Rip; Rax..R15 start at 0x78.
constexpr std::uint32_t kContextSize = 256, kContextRax = 0x78, kContextRip = 0xF8;

// UTF-16LE bytes as ASCII, '?' for every other character.
std::string narrow(std::string_view utf16) {
    std::string out;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned c = static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1]) << 8;
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

} // namespace

std::string Module::name() const {
    return path.substr(path.find_last_of("\\/") + 1);
}

Minidump::Minidump(std::string_view data, const std::string& name) : bytes_(data, name, kBadDump) {
    bytes_.need(0, kHeaderSize, "the header");
    if (bytes_.slice(0, 4, "the signature") != "MDMP") {
        bytes_.fail("not a minidump (no MDMP signature)");
    }
    const auto streams = bytes_.get<std::uint32_t>(8, "the stream count");
    const auto directory = bytes_.get<std::uint32_t>(12, "the stream directory offset");
    bytes_.need(directory, std::uint64_t(streams) * kDirectoryEntrySize, "the stream directory");
    for (std::uint32_t i = 0; i < streams; ++i) {
        const std::uint64_t entry = directory + std::uint64_t(i) * kDirectoryEntrySize;
        const auto type = bytes_.get<std::uint32_t>(entry, "a stream type");
        const auto size = bytes_.get<std::uint32_t>(entry + 4, "a stream size");
        const auto at = bytes_.get<std::uint32_t>(entry + 8, "a stream offset");
        if (type != kThreadList && type != kModuleList && type != kMemoryList && type != kException &&
            type != kMemory64List) {
            continue; // a stream the stack does not need is not looked at
        }
        bytes_.need(at, size, ("stream " + std::to_string(type)).c_str());
        switch (type) {
        case kThreadList:
            readThreads(at, size);
            break;
        case kModuleList:
            readModules(at, size);
            break;
        case kMemoryList:
            readMemory(at, size);
            break;
        case kMemory64List:
            readMemory64(at, size);
            break;
        case kException:
            readException(at, size);
            break;
        }
    }
    std::sort(memory_.begin(), memory_.end(),
              [](const Range& a, const Range& b) { return a.start < b.start; });
    std::sort(modules_.begin(), modules_.end(),
              [](const Module& a, const Module& b) { return a.base < b.base; });
}

// A list stream: a count, then `count` records of `recordSize` within the stream.
static std::uint32_t listCount(const Bytes& bytes, std::uint64_t at, std::uint32_t size, std::uint32_t header,
                               std::uint32_t recordSize, const char* what) {
    if (size < header) {
        bytes.fail(std::string(what) + " is shorter than its count");
    }
    const auto count = bytes.get<std::uint32_t>(at, what);
    if (std::uint64_t(count) * recordSize > size - header) {
        bytes.fail(std::string(what) + " holds " + std::to_string(count) + " records but " +
                   std::to_string(size) + " bytes");
    }
    return count;
}

void Minidump::readThreads(std::uint64_t at, std::uint32_t size) {
    const std::uint32_t count = listCount(bytes_, at, size, 4, kThreadSize, "the thread list");
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t record = at + 4 + std::uint64_t(i) * kThreadSize;
        Thread thread;
        thread.id = bytes_.get<std::uint32_t>(record, "a thread id");
        const auto stackStart = bytes_.get<std::uint64_t>(record + 24, "a thread's stack");
        const auto stackSize = bytes_.get<std::uint32_t>(record + 32, "a thread's stack");
        const auto stackAt = bytes_.get<std::uint32_t>(record + 36, "a thread's stack");
        addRange(stackStart, stackSize, stackAt);
        const auto contextSize = bytes_.get<std::uint32_t>(record + 40, "a thread's context");
        const auto contextAt = bytes_.get<std::uint32_t>(record + 44, "a thread's context");
        if (contextSize >= kContextSize) {
            thread.context = readContext(contextAt);
        }
        threads_.push_back(thread);
    }
}

void Minidump::readModules(std::uint64_t at, std::uint32_t size) {
    const std::uint32_t count = listCount(bytes_, at, size, 4, kModuleSize, "the module list");
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t record = at + 4 + std::uint64_t(i) * kModuleSize;
        Module module;
        module.base = bytes_.get<std::uint64_t>(record, "a module's base");
        module.size = bytes_.get<std::uint32_t>(record + 8, "a module's size");
        module.checkSum = bytes_.get<std::uint32_t>(record + 12, "a module's checksum");
        module.timeStamp = bytes_.get<std::uint32_t>(record + 16, "a module's time stamp");
        const auto nameAt = bytes_.get<std::uint32_t>(record + 20, "a module's name");
        const auto nameBytes = bytes_.get<std::uint32_t>(nameAt, "a module's name");
        module.path = narrow(bytes_.slice(nameAt + 4, nameBytes & ~1u, "a module's name"));
        const auto cvSize = bytes_.get<std::uint32_t>(record + 76, "a module's CodeView record");
        const auto cvAt = bytes_.get<std::uint32_t>(record + 80, "a module's CodeView record");
        if (cvSize >= 24 && bytes_.slice(cvAt, 4, "a module's CodeView record") == "RSDS") {
            CodeViewId id;
            const std::string_view guid = bytes_.slice(cvAt + 4, 16, "a module's CodeView record");
            std::copy(guid.begin(), guid.end(), id.guid.begin());
            id.age = bytes_.get<std::uint32_t>(cvAt + 20, "a module's CodeView record");
            module.codeView = id;
        }
        modules_.push_back(module);
    }
}

void Minidump::readException(std::uint64_t at, std::uint32_t size) {
    if (size < kExceptionStreamSize) {
        bytes_.fail("the exception stream is " + std::to_string(size) + " bytes, not " +
                    std::to_string(kExceptionStreamSize));
    }
    ExceptionRecord exception;
    exception.threadId = bytes_.get<std::uint32_t>(at, "the exception's thread");
    exception.code = bytes_.get<std::uint32_t>(at + 8, "the exception code");
    exception.address = bytes_.get<std::uint64_t>(at + 24, "the exception address");
    const auto parameters = std::min(bytes_.get<std::uint32_t>(at + 32, "the exception parameters"), 15u);
    for (std::uint32_t i = 0; i < parameters; ++i) {
        exception.parameters.push_back(bytes_.get<std::uint64_t>(at + 40 + 8 * i, "an exception parameter"));
    }
    const auto contextSize = bytes_.get<std::uint32_t>(at + 160, "the exception context");
    const auto contextAt = bytes_.get<std::uint32_t>(at + 164, "the exception context");
    if (contextSize >= kContextSize) {
        exception.context = readContext(contextAt);
    }
    exception_ = exception;
}

void Minidump::readMemory(std::uint64_t at, std::uint32_t size) {
    const std::uint32_t count = listCount(bytes_, at, size, 4, kMemoryDescriptorSize, "the memory list");
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t record = at + 4 + std::uint64_t(i) * kMemoryDescriptorSize;
        addRange(bytes_.get<std::uint64_t>(record, "a memory range"),
                 bytes_.get<std::uint32_t>(record + 8, "a memory range"),
                 bytes_.get<std::uint32_t>(record + 12, "a memory range"));
    }
}

// Full dumps: the ranges' bytes follow each other from one base offset.
void Minidump::readMemory64(std::uint64_t at, std::uint32_t size) {
    if (size < 16) {
        bytes_.fail("the 64-bit memory list is shorter than its header");
    }
    const auto count = bytes_.get<std::uint64_t>(at, "the 64-bit memory list");
    std::uint64_t offset = bytes_.get<std::uint64_t>(at + 8, "the 64-bit memory list");
    if (count > (size - 16) / kMemoryDescriptorSize) {
        bytes_.fail("the 64-bit memory list holds " + std::to_string(count) + " records but " +
                    std::to_string(size) + " bytes");
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t start = bytes_.get<std::uint64_t>(at + 16 + 16 * i, "a memory range");
        const std::uint64_t rangeSize = bytes_.get<std::uint64_t>(at + 24 + 16 * i, "a memory range");
        addRange(start, rangeSize, offset);
        offset += rangeSize; // cannot wrap: addRange checked it against the file
    }
}

void Minidump::addRange(std::uint64_t start, std::uint64_t size, std::uint64_t offset) {
    bytes_.need(offset, size, "a memory range");
    if (size != 0 && start + size - 1 >= start) { // a range wrapping past 2^64 is unusable
        memory_.push_back({start, size, offset});
    }
}

Registers Minidump::readContext(std::uint64_t at) const {
    bytes_.need(at, kContextSize, "a thread context");
    Registers registers;
    for (std::size_t i = 0; i < registers.r.size(); ++i) {
        registers.r[i] = bytes_.get<std::uint64_t>(at + kContextRax + 8 * i, "a register");
    }
    registers.rip = bytes_.get<std::uint64_t>(at + kContextRip, "a register");
    return registers;
}

// Both lists are sorted by start; of overlapping entries (a corrupt dump)
// the last starting at or below the address is taken.
const Module* Minidump::moduleAt(std::uint64_t address) const {
    const auto after = std::upper_bound(modules_.begin(), modules_.end(), address,
                                        [](std::uint64_t a, const Module& m) { return a < m.base; });
    if (after == modules_.begin() || address - std::prev(after)->base >= std::prev(after)->size) {
        return nullptr;
    }
    return &*std::prev(after);
}

const Minidump::Range* Minidump::rangeOf(std::uint64_t address) const {
    const auto after = std::upper_bound(memory_.begin(), memory_.end(), address,
                                        [](std::uint64_t a, const Range& r) { return a < r.start; });
    if (after == memory_.begin() || address - std::prev(after)->start >= std::prev(after)->size) {
        return nullptr;
    }
    return &*std::prev(after);
}

std::optional<std::uint64_t> Minidump::read64(std::uint64_t address) const {
    const Range* range = rangeOf(address);
    if (range == nullptr || range->size - (address - range->start) < 8) {
        return std::nullopt;
    }
    return bytes_.get<std::uint64_t>(range->offset + (address - range->start), "memory");
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> Minidump::rangeAt(std::uint64_t address) const {
    const Range* range = rangeOf(address);
    return range != nullptr ? std::optional(std::make_pair(range->start, range->size)) : std::nullopt;
}

} // namespace qv::dump
