// The agent with a message reader that cannot start: the run must end
// through the fatal path (one level-1 record, exit status 3, no records).

#include "app/app_main.h"
#include "sys/logger/logger.h"
#include "sys/logger/plain_line.h"

#include <iostream>
#include <stdexcept>

int main() {
    qv::sys::Logger::initialise("AgentFailure", qv::sys::Logger::kInfo, 0, false,
                                std::make_unique<qv::sys::test::PrintingSink>(stderr));
    return qv::telemetry::runAgent(std::cout, [](std::unique_ptr<qv::sys::MessageHandler>, const std::string&)
                                                  -> std::unique_ptr<qv::sys::MessageReader> {
        throw std::runtime_error("the reader's thread cannot start");
    });
}
