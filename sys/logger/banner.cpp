#include "sys/logger/banner.h"

#include <cstdio>

#include "sys/logger/build_info.h"

namespace qv::sys::Logger {

std::string buildBanner() {
    return std::string("Version ") + QV_BUILD_VERSION + ". Built by " + QV_BUILD_HOST + ", at " + QV_BUILD_TIME + " " +
           QV_BUILD_DATE + ". ";
}

std::string ctimeText(std::time_t now) {
    // Same layout as ctime, without its shared static buffer.
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &now) != 0) {
        return std::string();
    }
#else
    if (localtime_r(&now, &local) == nullptr) {
        return std::string();
    }
#endif
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
        return std::string();
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[local.tm_wday],
                  kMonths[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return buffer;
}

std::string startupBanner(std::time_t now) { return buildBanner() + "Log started at " + ctimeText(now); }

}  // namespace qv::sys::Logger
