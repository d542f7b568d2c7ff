#include "sys/config/program_options.h"

#include <exception>

#include "sys/config/option.h"
#include "sys/config/registry_data_store.h"
#include "sys/errors/exception.h"

namespace qv::sys::option {

namespace {

// These settings are read on the way to a crash dump: nothing may escape.
template <typename OptionType>
auto loaded(OptionType option, const char* section, bool includeUser,
            std::shared_ptr<PersistUserHive> userHive = nullptr, bool choosesPath = false) {
    try {
        RegistryDataStore store(section, includeUser, false,
                                userHive ? std::move(userHive) : loggedOnUserHive());
        if (choosesPath) {
            store.markPathValue(option.name());
        }
        option.load(store);
    } catch (const std::exception&) {
    } catch (const Exception&) {
    }
    return option.value();
}

} // namespace

std::string debugLocationSetting() {
    return debugLocationSetting(nullptr);
}

std::string debugLocationSetting(std::shared_ptr<PersistUserHive> userHive) {
    return loaded(String("DebugLocation", "", "Directory for log files and crash dumps", "directory"), "Core",
                  true, std::move(userHive), true);
}

bool uniqueDumpFilesSetting() {
    return loaded(Bool("EnableUniqueDmpFiles", false, "Give every crash dump a time-stamped name"), "Core",
                  true);
}

std::int32_t assertBehaviourSetting() {
    return loaded(
        Int("AssertBehaviour", 3,
            "What a failed internal check does: 1 log, 2 dump, 4 abort with a report, 8 abort quietly",
            "bits"),
        "QuorvaneManager", false);
}

} // namespace qv::sys::option
