#pragma once

// Failed internal checks of the pipe layers: reported, and the caller carries on.

#include <string>

namespace qv::sys {

// Reports a failed check (the condition's text, the values it saw, an extra
// message) at its place in the source.
void reportPipeCheckFailure(const char* expression, const std::string& expansion, const std::string& message,
                            const char* file, int line);

} // namespace qv::sys

// QV_PIPE_CHECK(condition, expansion): reports `condition` when it is false.
#define QV_PIPE_CHECK(condition, expansion)                                                                  \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            ::qv::sys::reportPipeCheckFailure(#condition, (expansion), std::string(), __FILE__, __LINE__);   \
        }                                                                                                    \
    } while (false)
