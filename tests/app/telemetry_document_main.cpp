// Reads dock event JSON texts, one per line, from standard input and writes
// the telemetry document for them to standard output, with this host's
// identity; given computer names as arguments, one document per name, each
// name standing in for the host's (as the host would give it, in its ANSI
// code page). Used to check the documents with a real YAML parser.

#include "app/dock_event_handler.h"
#include "app/end_of_cache.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace qv::telemetry;
    std::vector<std::string> events;
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        events.push_back(line);
    }
    HostFacts host = HostFacts::gather(AdapterInfoList());
    std::vector<std::string> names(argv + 1, argv + argc);
    if (names.empty())
        names.push_back(host.computerName);
    for (const std::string& name : names) {
        host.computerName = name;
        OutputStream writer(&std::cout, host, &endOfCache);
        QvmMessageHandler handler(&writer);
        for (const std::string& event : events)
            handler.handleMessage(event);
    }
    std::cout.flush();
    return 0;
}
