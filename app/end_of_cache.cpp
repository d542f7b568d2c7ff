#include "app/end_of_cache.h"

namespace qv::telemetry {

std::promise<std::int32_t> endOfCache;

} // namespace qv::telemetry
