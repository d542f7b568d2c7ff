#pragma once

// Broken internal invariants of the concurrency classes: reported, and the
// caller carries on as the check's comment says.

#include <string>

namespace qv::sys {

// Writes one ERROR record naming the condition, the values it saw and the place.
void reportInvariantFailure(const char* expression, const std::string& expansion, const char* file, int line);

} // namespace qv::sys
