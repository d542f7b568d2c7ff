// The logger's settings from the registry, through the persistent settings
// tree: keys below Software\Quorvane of the logged-on user's hive and of the
// machine's, read as snapshots of their string values and subkey names.

#include "sys/logger/logger_core.h"

#include "sys/config/persist_tree.h"

namespace qv::sys::Logger {

namespace {
std::string issueText(const PersistIssue& issue) {
    switch (issue.kind) {
    case PersistIssue::Kind::WrongType:
        return "is not a string (registry type " + std::to_string(issue.detail) + ")";
    case PersistIssue::Kind::BadSize:
        return "has " + std::to_string(issue.detail) + " bytes of data";
    case PersistIssue::Kind::Unreadable:
        return "cannot be read (win32 error " + std::to_string(issue.detail) + ")";
    case PersistIssue::Kind::Unterminated:
        break;
    }
    return std::string();
}

class RegistrySettingsSource : public SettingsSource {
public:
    explicit RegistrySettingsSource(std::shared_ptr<PersistUserHive> userHive)
        : userHive_(std::move(userHive)) {}

    SettingsKey read(const std::vector<std::string>& path, Hive hive) override {
        SettingsKey result;
        if (path.empty()) {
            return result;
        }
        PersistTree tree(path.front(), false, userHive_);
        for (std::size_t i = 1; i < path.size(); ++i) {
            tree = PersistTree(tree, path[i]);
        }
        const PersistFlags flags = hive == Hive::User ? kPersistUser : kPersistMachine;
        const PersistSnapshot snapshot = tree.read(flags);
        result.setFromAnotherAccount(snapshot.fromAnotherAccount());
        for (const auto& [name, entry] : snapshot.entries()) {
            if (entry.leaf) {
                result.putValue(name, entry.text);
            } else {
                result.putSubkey(name);
            }
        }
        for (const PersistIssue& issue : snapshot.issues()) {
            // A string stored without its terminating zero is read as it stands.
            const std::string text = issueText(issue);
            if (!text.empty()) {
                result.addIssue(tree.state().description(flags) + " value \"" + issue.name + "\" " + text +
                                "; not read");
            }
        }
        return result;
    }

private:
    std::shared_ptr<PersistUserHive> userHive_;
};
} // namespace

std::unique_ptr<SettingsSource> makeRegistrySettingsSource(std::shared_ptr<PersistUserHive> userHive) {
    return std::make_unique<RegistrySettingsSource>(userHive ? std::move(userHive) : loggedOnUserHive());
}

} // namespace qv::sys::Logger
