#pragma once

// Names of the structured-exception codes, shared by the translator's
// descriptions and the dump reader (which runs off Windows: no Win32 here).

#include <cstdint>

namespace qv::sys {

struct StructuredExceptionName {
    std::uint32_t code;
    const char* name;
};

inline constexpr StructuredExceptionName kStructuredExceptionNames[] = {
    {0x80000001, "Guard Page"},
    {0x80000002, "Datatype Misalignment"},
    {0x80000003, "Breakpoint"},
    {0x80000004, "Single Step"},
    {0xC0000005, "Access Violation"},
    {0xC0000006, "In Page Error"},
    {0xC0000008, "Invalid Handle"},
    {0xC000001D, "Illegal Instruction"},
    {0xC0000025, "Noncontinuable Exception"},
    {0xC0000026, "Invalid Disposition"},
    {0xC000008C, "Array Bounds Exceeded"},
    {0xC000008D, "Float Denormal Operand"},
    {0xC000008E, "Float Divide By Zero"},
    {0xC000008F, "Float Inexact Result"},
    {0xC0000090, "Float Invalid Operation"},
    {0xC0000091, "Float Overflow"},
    {0xC0000092, "Float Stack Check"},
    {0xC0000093, "Float Underflow"},
    {0xC0000094, "Integer Divide By Zero"},
    {0xC0000095, "Integer Overflow"},
    {0xC0000096, "Private Instruction"},
    {0xC00000FD, "Stack Overflow"},
};

// The code's name, or "Unknown".
inline const char* structuredExceptionName(std::uint32_t code) {
    for (const StructuredExceptionName& entry : kStructuredExceptionNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return "Unknown";
}

} // namespace qv::sys
