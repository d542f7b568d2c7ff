// Where the logger's settings come from. Registry settings are not read in
// this build: the core keeps its start-up values and has no default log file,
// and every module logs at the start-up verbosity to the built-in outputs.

#include "sys/logger/logger_core.h"

namespace qv::sys::Logger {

void LoggerCore::readCoreSettings() {
    configuredVerbosity_ = defaultVerbosity_;
    maxFileSize_ = 0x100000;
}

ModuleSettings LoggerCore::readModuleSettings(const std::string& /*moduleName*/) {
    ModuleSettings settings;
    settings.verbosity = defaultVerbosity_;
    if (sinkOutput_) {
        settings.outputs.emplace_back(sinkOutput_.get(), settings.verbosity);
    }
    return settings;
}

void LoggerCore::openPrivateFile(ModuleEntry& /*module*/, const std::string& /*fileName*/,
                                 std::uint64_t /*maxSize*/, std::uint8_t /*maxFileCount*/) {
    // No file outputs in this build: the module keeps the outputs it has.
}

} // namespace qv::sys::Logger
