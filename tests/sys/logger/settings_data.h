#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sys/logger/logger_settings.h"

namespace qv::sys::Logger {

// Settings as data: keys by hive and path below Software\Quorvane.
class SettingsData : public SettingsSource {
public:
    SettingsKey read(const std::vector<std::string>& path, Hive hive) override {
        const auto found = keys_.find({hive, path});
        return found == keys_.end() ? SettingsKey() : found->second;
    }
    // The key, made with its parents, each listing it as a subkey as the registry does.
    SettingsKey& key(const std::string& path, Hive hive = Hive::User) {
        std::vector<std::string> parts;
        for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
            end = std::min(path.find('\\', start), path.size());
            if (!parts.empty()) {
                keys_[{hive, parts}].putSubkey(path.substr(start, end - start));
            }
            parts.push_back(path.substr(start, end - start));
        }
        return keys_[{hive, parts}];
    }

private:
    std::map<std::pair<Hive, std::vector<std::string>>, SettingsKey> keys_;
};

} // namespace qv::sys::Logger
