#include "sys/config/settings_report.h"

#include "sys/config/option.h"
#include "sys/logger/logger.h"

namespace qv::sys::option {

namespace {

// Set while a record is written, and while a QuietLoading lives.
thread_local bool t_quiet = false;

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
    if (t_quiet) {
        return;
    }
    t_quiet = true;
    try {
        QV_LOG_AS(identity(), Logger::kWarn) << text;
    } catch (...) {
    }
    t_quiet = false;
}

} // namespace

QuietLoading::QuietLoading() : previous_(t_quiet) {
    t_quiet = true;
}

QuietLoading::~QuietLoading() {
    t_quiet = previous_;
}

namespace detail {

void reportOption(const std::string& text) {
    report(optionLog, text);
}

void reportStore(const std::string& text) {
    report(storeLog, text);
}

const char* sourceText(unsigned source) {
    return source == 3 ? "user settings" : "machine settings";
}

} // namespace detail

} // namespace qv::sys::option
