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

// Turns the next fault of the calling thread into a thrown SystemException
// (after logging and writing a dump). Removed again after one translation.
void installStructuredExceptionTranslator();
void removeStructuredExceptionTranslator();

// Writes a dump of the calling thread's current state.
void dumpHere(const Logger::Logged* logged);

// Writes a dump for the given exception context into <debug location><exe>.dmp,
// or a time-stamped unique name when "EnableUniqueDmpFiles" is set.
void writeCrashDump(const Logger::Logged* logged, _EXCEPTION_POINTERS* exceptionPointers);
void writeMiniDump(const Logger::Logged* logged, const std::string& path, _EXCEPTION_POINTERS* exceptionPointers);

// The directory for dumps and the default log file, ending in a backslash;
// empty when no candidate is usable.
std::string debugLocation(bool preferTemp);

// The running executable's file name without directory and extension.
std::string executableBaseName();

// Runtime hooks installed by installErrorHandlers; callable directly.
void invalidParameterHandler(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                             unsigned int line, std::uintptr_t reserved);
void pureCallHandler();

} // namespace qv::sys
