// Reads dock event JSON texts, one per line, from standard input and writes
// the telemetry document for them to standard output, with this host's
// identity. Used to check the document with a real YAML parser.

#include "app/dock_event_handler.h"
#include "app/end_of_cache.h"

#include <iostream>
#include <string>

int main() {
    using namespace qv::telemetry;
    OutputStream writer(&std::cout, AdapterInfoList(), &endOfCache);
    {
        QvmMessageHandler handler(&writer);
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            handler.handleMessage(line);
        }
    }
    std::cout.flush();
    return 0;
}
