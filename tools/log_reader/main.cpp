// qv_log_reader: prints the plain text of a QuorvaneAnalytics log.

#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/log_reader/log_reader.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // Log lines are read as bytes; a stray Ctrl-Z must not end the input.
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::ios::sync_with_stdio(false);
    return qv::tools::runLogReader(argc, argv, std::cin, std::cout, std::cerr);
}
