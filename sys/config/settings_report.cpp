#include "sys/config/settings_report.h"

#include "sys/logger/logger.h"

namespace qv::sys::option::detail {

namespace {

thread_local bool t_reporting = false;

// Made on the first record: loading a setting that is fine logs nothing and
// needs no logger.
Logger::Logged& optionLog() {
    static Logger::Logged log("Option", "");
    return log;
}

Logger::Logged& storeLog() {
    static Logger::Logged log("RegistryDataStore", "");
    return log;
}

void report(Logger::Logged& (*identity)(), const std::string& text) {
    if (t_reporting) {
        return;
    }
    t_reporting = true;
    try {
        QV_LOG_AS(identity(), Logger::kWarn) << text;
    } catch (...) {
    }
    t_reporting = false;
}

} // namespace

void reportOption(const std::string& text) {
    report(optionLog, text);
}

void reportStore(const std::string& text) {
    report(storeLog, text);
}

const char* sourceText(unsigned source) {
    return source == 3 ? "user settings" : "machine settings";
}

} // namespace qv::sys::option::detail
