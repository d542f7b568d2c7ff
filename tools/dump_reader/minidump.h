#pragma once

// The parts of a Windows x64 minidump that a stack needs: the exception,
// the threads with their contexts, the modules and the captured memory.
// Every offset and size is checked against the file: a bad one throws an
// InputError with status kBadDump.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/dump_reader/bytes.h"

namespace qv::dump {

// The integer registers Rax..R15 in the order of the x64 register numbers
// (Rax 0, Rcx 1, Rdx 2, Rbx 3, Rsp 4, Rbp 5, ...), and Rip.
struct Registers {
    enum { kRsp = 4 };
    std::array<std::uint64_t, 16> r{};
    std::uint64_t rip = 0;
    std::uint64_t rsp() const { return r[kRsp]; }
};

// A CodeView (RSDS) record's build identity.
struct CodeViewId {
    std::array<std::uint8_t, 16> guid{};
    std::uint32_t age = 0;
    bool operator==(const CodeViewId& other) const { return guid == other.guid && age == other.age; }
};

struct Module {
    std::uint64_t base = 0;
    std::uint32_t size = 0, checkSum = 0, timeStamp = 0;
    std::string path; // as the dump names it (a Windows path)
    std::optional<CodeViewId> codeView;
    std::string name() const; // the file name alone
};

struct Thread {
    std::uint32_t id = 0;
    std::optional<Registers> context;
};

struct ExceptionRecord {
    std::uint32_t threadId = 0, code = 0;
    std::uint64_t address = 0;
    std::vector<std::uint64_t> parameters;
    std::optional<Registers> context;
};

class Minidump {
public:
    // Parses a dump held in `bytes` (which must outlive this object);
    // `name` labels the errors.
    Minidump(std::string_view bytes, const std::string& name);

    const std::vector<Module>& modules() const { return modules_; }
    const std::vector<Thread>& threads() const { return threads_; }
    const std::optional<ExceptionRecord>& exception() const { return exception_; }
    const Module* moduleAt(std::uint64_t address) const;
    // Eight bytes of the captured memory at `address`, if the dump holds them.
    std::optional<std::uint64_t> read64(std::uint64_t address) const;
    // The captured range holding `address`: its start and its size.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> rangeAt(std::uint64_t address) const;

private:
    struct Range {
        std::uint64_t start, size, offset; // offset of its bytes in the file
    };
    void readThreads(std::uint64_t at, std::uint32_t size);
    void readModules(std::uint64_t at, std::uint32_t size);
    void readException(std::uint64_t at, std::uint32_t size);
    void readMemory(std::uint64_t at, std::uint32_t size);
    void readMemory64(std::uint64_t at, std::uint32_t size);
    void addRange(std::uint64_t start, std::uint64_t size, std::uint64_t offset);
    Registers readContext(std::uint64_t at) const;
    const Range* rangeOf(std::uint64_t address) const;

    Bytes bytes_;
    std::vector<Module> modules_;
    std::vector<Thread> threads_;
    std::optional<ExceptionRecord> exception_;
    std::vector<Range> memory_;
};

} // namespace qv::dump
