#include "sys/concurrency/invariant.h"

#include "sys/logger/logger.h"

namespace qv::sys {

void reportInvariantFailure(const char* expression, const std::string& expansion, const char* file,
                            int line) {
    static const Logger::Logged logged("ConcurrencyInvariant", "");
    try {
        QV_LOG_AS(logged, 2) << "Invariant failed: " << expression << " with expansion: " << expansion
                             << " at " << file << ":" << line;
    } catch (...) {
        // The caller carries on whether or not the record could be written.
    }
}

} // namespace qv::sys
