#pragma once

// Function names and source lines from an image's DWARF, through binutils'
// addr2line for PE files (x86_64-w64-mingw32-addr2line, or $QV_ADDR2LINE).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qv::dump {

struct SourceLocation {
    std::string function; // "??" when unknown
    std::string place;    // "file:line", "??:0" when unknown
};

// Innermost first: the function at the address, then the functions it was inlined into.
using Symbolized = std::vector<SourceLocation>;

// Every address is an image offset (RVA) of the image file `path`, whose
// preferred base is `imageBase`. An empty map when the tool cannot run.
std::map<std::uint32_t, Symbolized> symbolize(const std::string& path, std::uint64_t imageBase,
                                              const std::vector<std::uint32_t>& rvas, std::string& error);

// addr2line's output for `-a -f -i`: per address a line "0x<address>", then
// pairs of function and place lines.
std::map<std::uint64_t, Symbolized> parseAddr2lineOutput(const std::string& output);

} // namespace qv::dump
