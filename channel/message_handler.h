#pragma once

#include <string>

namespace qv::sys {

// Receiver of one message text. The message reader calls it on its own thread;
// implementations must not let a failure of one message escape.
class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    virtual void handleMessage(const std::string& text) = 0;
};

} // namespace qv::sys
