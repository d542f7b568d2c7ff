#pragma once

// The three registry settings of this program, each read afresh from the
// registry at every call. Anything that goes wrong while reading one gives
// its default; a stored value that cannot be used is logged.

#include <cstdint>
#include <memory>
#include <string>

namespace qv::sys {
class PersistUserHive;
}

namespace qv::sys::option {

// Software\Quorvane\Core "DebugLocation" (user's hive first): where logs and
// crash dumps go. Default: empty. A user's hive that belongs to another
// account than the process's (a service reading the console user's) does not
// choose it: only the machine's value counts then.
std::string debugLocationSetting();
// `userHive` null: the logged-on user's.
std::string debugLocationSetting(std::shared_ptr<PersistUserHive> userHive);

// Software\Quorvane\Core "EnableUniqueDmpFiles" (user's hive first): whether
// each crash dump gets a time-stamped name. Default: false.
bool uniqueDumpFilesSetting();

// Software\Quorvane\QuorvaneManager "AssertBehaviour" (machine hive only):
// what a failed internal check does, as bits. Default: 3 (log and dump).
std::int32_t assertBehaviourSetting();

} // namespace qv::sys::option
