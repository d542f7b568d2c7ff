#include "channel/pipe_check.h"

#include "sys/logger/logger.h"

namespace qv::sys {

void reportPipeCheckFailure(const char* expression, const std::string& expansion, const std::string& message,
                            const char* file, int line) {
    static const Logger::Logged logged("AssertLogger", "");
    QV_LOG_AS(logged, Logger::kError)
        << "Check failed: " << expression << (expansion.empty() ? "" : " with expansion: ") << expansion
        << (message.empty() ? "" : " with message: ") << message << " at " << file << ":" << line;
}

} // namespace qv::sys
