#include "sys/logger/line_streams.h"

#include <windows.h>

namespace qv::sys::Logger {

void DebugOutBuf::deliver(const std::string& text) {
    OutputDebugStringA(text.c_str());
}

} // namespace qv::sys::Logger
