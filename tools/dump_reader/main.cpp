// qv_dump_reader: turns a minidump of a Quorvane program into a stack, with
// the debug files (X.exe.debug) or unstripped executables of its modules.
//
// Exit status: 0 printed; 2 usage; 3 the dump cannot be read (missing,
// truncated or corrupt); 4 a debug file cannot be read or does not belong
// to the dump. Errors are one line on standard error.

#include <iostream>
#include <memory>

#include "tools/dump_reader/report.h"

namespace {

const char* const kUsageText =
    "usage: qv_dump_reader <dump.dmp> [<X.exe.debug or unstripped X.exe>...]\n"
    "Prints the exception, the faulting thread's stack (module+offset, function, file:line),\n"
    "the modules and the other threads. Frames found by scanning the stack are marked [scanned].\n"
    "Functions and lines come from x86_64-w64-mingw32-addr2line (or $QV_ADDR2LINE).\n"
    "Exit status: 0 printed, 2 usage, 3 unreadable or corrupt dump, 4 unreadable or mismatched debug file.\n";

int run(int argc, char** argv) {
    using namespace qv::dump;
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::cerr << kUsageText;
        return argc < 2 ? qv::dump::kUsage : 0;
    }
    const std::string dumpBytes = readWholeFile(argv[1], kBadDump);
    const Minidump dump(dumpBytes, argv[1]);

    struct DebugFile {
        std::string bytes;
        std::unique_ptr<PeImage> image;
    };
    std::vector<DebugFile> files(argc - 2);
    Images images;
    for (int i = 2; i < argc; ++i) {
        DebugFile& file = files[i - 2];
        file.bytes = readWholeFile(argv[i], kBadDebugFile);
        file.image = std::make_unique<PeImage>(file.bytes, argv[i]);
        images[moduleOf(dump, *file.image, argv[i]).base] = file.image.get();
    }
    bool warned = false;
    const Symbolizer symbolizer = [&](const PeImage& image, const std::vector<std::uint32_t>& rvas) {
        std::string error;
        auto symbols = symbolize(image.name(), image.imageBase(), rvas, error);
        if (!error.empty() && !warned) {
            std::cerr << "qv_dump_reader: " << error << ": no function names or lines\n";
            warned = true;
        }
        return symbols;
    };
    printReport(std::cout, dump, images, symbolizer);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const qv::dump::InputError& e) {
        std::cerr << "qv_dump_reader: " << e.what() << "\n";
        return e.status;
    } catch (const std::exception& e) { // out of memory on a huge file, and the like
        std::cerr << "qv_dump_reader: " << e.what() << "\n";
        return 1;
    }
}
