#pragma once

// Structured exceptions (hardware faults) turned into C++ throws, and the
// minidumps that serious failures leave behind.

#include <cstdint>
#include <string>

#include "sys/errors/exception.h"

struct _EXCEPTION_POINTERS;

namespace qv::sys {

namespace Logger {
class Logged;
}

// "Structured Exception XXXXXXXX <name>"; "Unknown" for codes outside the table.
std::string structuredExceptionDescription(std::uint32_t code);

// Turns the next hardware fault of the calling thread (access violation,
// division by zero, illegal instruction and the like) into a thrown
// SystemException, after logging it and writing a dump once the error
// handlers are installed. Removed again by its first translation. Code that
// faults must be built with -fnon-call-exceptions (the qv_errors target
// passes it on) for the throw to leave the faulting frame.
void installStructuredExceptionTranslator();
void removeStructuredExceptionTranslator();

// Writes a dump of the calling thread's current state.
void dumpHere(const Logger::Logged* logged);

// Writes a dump for the given exception context into <debug location><exe>.dmp,
// or a time-stamped unique name when "EnableUniqueDmpFiles" is set or this
// process has already written <exe>.dmp.
void writeCrashDump(const Logger::Logged* logged, _EXCEPTION_POINTERS* exceptionPointers);
void writeMiniDump(const Logger::Logged* logged, const std::string& path,
                   _EXCEPTION_POINTERS* exceptionPointers);

// Local time of a dump, to the millisecond.
struct DumpTime {
    std::uint16_t year, month, day, hour, minute, second, milliseconds;
};

// The dump file for `base` (directory and executable name): base + ".dmp";
// with unique names base + "20240305-091500_042.dmp", and on a collision
// "-1" up to "-10" before ".dmp", the last used even when taken. A unique
// name is claimed by creating the file, so two threads never pick the same.
std::string crashDumpPath(const std::string& base, bool uniqueNames, const DumpTime& now);

// The directory for dumps and the default log file, ending in a backslash;
// empty when no candidate is usable.
std::string debugLocation(bool preferTemp);

// The running executable's file name without directory and extension.
std::string executableBaseName();

// Runtime hooks installed by installErrorHandlers; callable directly.
[[noreturn]] void invalidParameterHandler(const wchar_t* expression, const wchar_t* function,
                                          const wchar_t* file, unsigned int line, std::uintptr_t reserved);
[[noreturn]] void pureCallHandler();

} // namespace qv::sys
