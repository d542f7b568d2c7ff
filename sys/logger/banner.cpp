#include "sys/logger/banner.h"

#include "sys/logger/build_info.h"

namespace qv::sys::Logger {

std::string buildBanner() {
    return std::string("Version ") + QV_BUILD_VERSION + ". Built by " + QV_BUILD_HOST + ", at " +
           QV_BUILD_TIME + " " + QV_BUILD_DATE + ". ";
}

std::string ctimeText(std::time_t now) {
#ifdef _WIN32
    // The Windows runtime keeps ctime's buffer per thread (and pads the day with a zero).
    const char* text = std::ctime(&now);
#else
    char buffer[64];
    const char* text = ctime_r(&now, buffer);
#endif
    return text == nullptr ? std::string() : std::string(text);
}

std::string startupBanner(std::time_t now) {
    return buildBanner() + "Log started at " + ctimeText(now);
}

} // namespace qv::sys::Logger
