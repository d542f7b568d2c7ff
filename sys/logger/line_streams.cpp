#include "sys/logger/line_streams.h"

namespace qv::sys::Logger {

PendingTextBuf::int_type PendingTextBuf::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        pending_ += traits_type::to_char_type(c);
    }
    return traits_type::not_eof(c);
}

std::streamsize PendingTextBuf::xsputn(const char* text, std::streamsize count) {
    pending_.append(text, static_cast<std::size_t>(count));
    return count;
}

int PendingTextBuf::sync() {
    // Cleared first: a sink that throws must not get the same text again.
    std::string text;
    text.swap(pending_);
    pending_.reserve(128);
    deliver(text);
    return 0;
}

} // namespace qv::sys::Logger
