// QuorvaneAnalytics: connects to the manager service's pipe, writes a
// telemetry record for every dock that connects, and exits after a second.

#include "app/app_main.h"
#include "sys/logger/logger.h"

#include <iostream>

int main(int, char**, char**) {
    qv::sys::Logger::initialise("QuorvaneAnalytics", qv::sys::Logger::kInfo, 1, false, nullptr);
    return qv::telemetry::runAgent(std::cout);
}
