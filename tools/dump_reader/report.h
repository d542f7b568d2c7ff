#pragma once

// What the reader prints for a dump: the exception, the faulting thread's
// stack, the modules and the other threads.

#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "tools/dump_reader/minidump.h"
#include "tools/dump_reader/pe_image.h"
#include "tools/dump_reader/stack_walk.h"
#include "tools/dump_reader/symbolizer.h"

namespace qv::dump {

// The module of `dump` that the image file `image` is for: the module whose
// file name is the image's ("X.exe" for "X.exe" and "X.exe.debug") and whose
// identity it matches. Throws an InputError (kBadDebugFile) naming both otherwise.
const Module& moduleOf(const Minidump& dump, const PeImage& image, const std::string& fileName);

// Looks up the sites (image offsets) of one image; symbolize() in the program.
using Symbolizer =
    std::function<std::map<std::uint32_t, Symbolized>(const PeImage&, const std::vector<std::uint32_t>&)>;

void printReport(std::ostream& out, const Minidump& dump, const Images& images, const Symbolizer& symbolizer);

} // namespace qv::dump
