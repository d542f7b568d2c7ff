#pragma once

#include <ctime>
#include <string>

namespace qv::sys::Logger {

// "Version 1.2.3.4. Built by <host>, at hh:mm:ss Mon D YYYY. " (ends in a
// blank); fixed when the build is configured.
std::string buildBanner();

// `now` in local time as the runtime's ctime renders it: "Www Mmm dd hh:mm:ss yyyy\n".
// Empty when the time cannot be converted.
std::string ctimeText(std::time_t now);

// Text of the record that opens the log: build banner, "Log started at ", ctimeText(now).
std::string startupBanner(std::time_t now);

} // namespace qv::sys::Logger
