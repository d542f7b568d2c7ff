#pragma once

// The registry settings of crash dumps and assertion handling. Each is read
// afresh at every use, so a change applies without a restart; a value that
// cannot be read counts as absent.

#include <cstdint>
#include <string>

namespace qv::sys {

// "DebugLocation" of section "Core", the user's hive before the machine's:
// a directory for dumps and logs; empty when not set.
std::string debugLocationSetting();

// "EnableUniqueDmpFiles" of section "Core", the user's hive before the
// machine's: time-stamped dump names; false when not set.
bool uniqueDumpFilesSetting();

// "AssertBehaviour" of section "QuorvaneManager", machine hive only: the
// handler bits of a failed assertion; 3 (log and dump) when not set.
std::int32_t assertBehaviourSetting();

} // namespace qv::sys
