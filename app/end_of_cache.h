#pragma once

#include <cstdint>
#include <future>

namespace qv::telemetry {

// Completed with 1 by the record writer when the manager marks the end of its
// event cache; the program's start-up waits on it. One per process.
extern std::promise<std::int32_t> endOfCache;

} // namespace qv::telemetry
