#include "sys/config/registry_data_store.h"

#include <algorithm>

#include "sys/config/settings_report.h"

namespace qv::sys::option {

namespace {

// Why a snapshot's entry for `key` cannot be used, or empty when it can (or is absent).
std::string unusable(const PersistSnapshot& snapshot, const std::string& key) {
    const PersistIssue* issue = snapshot.issue(key);
    if (issue == nullptr) {
        return std::string();
    }
    switch (issue->kind) {
    case PersistIssue::Kind::WrongType:
        return "registry type " + std::to_string(issue->detail) + " instead of a string";
    case PersistIssue::Kind::BadSize:
        return "a DWORD of " + std::to_string(issue->detail) + " bytes";
    case PersistIssue::Kind::Unterminated:
        return "a string without its terminating zero";
    case PersistIssue::Kind::Unreadable:
        return "unreadable (error " + std::to_string(issue->detail) + ")";
    }
    return "unusable";
}

void appendNames(const PersistSnapshot& snapshot, bool leaves, std::vector<std::string>& names) {
    for (const auto& [name, entry] : snapshot.entries()) {
        if (entry.leaf == leaves && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
}

} // namespace

RegistryDataStore::RegistryDataStore(const std::string& section, bool includeUser, bool withDwords,
                                     std::shared_ptr<PersistUserHive> userHive)
    : RegistryDataStore(PersistTree(section, false, std::move(userHive)), includeUser, withDwords) {}

RegistryDataStore::RegistryDataStore(PersistTree node, bool includeUser, bool withDwords)
    : includeUser_(includeUser), withDwords_(withDwords), node_(std::move(node)) {
    reload();
}

RegistryDataStore::~RegistryDataStore() = default;

void RegistryDataStore::reload() {
    machine_ = node_.read(kPersistMachine, withDwords_);
    if (includeUser_) {
        user_ = node_.read(kPersistUser, withDwords_);
    }
    for (auto& [name, store] : children_) {
        store->reload();
    }
}

DataStore* RegistryDataStore::child(const std::string& name, bool create) {
    const auto found = children_.find(name);
    if (found != children_.end()) {
        return found->second.get();
    }
    if (!machine_.hasChild(name) && !user_.hasChild(name)) {
        if (!create) {
            return nullptr;
        }
        machine_.putChild(name);
        if (includeUser_) {
            user_.putChild(name);
        }
    }
    auto store = std::unique_ptr<RegistryDataStore>(
        new RegistryDataStore(PersistTree(node_, name), includeUser_, withDwords_));
    return children_.emplace(name, std::move(store)).first->second.get();
}

std::vector<std::string> RegistryDataStore::valueNames() const {
    std::vector<std::string> names;
    appendNames(user_, true, names);
    appendNames(machine_, true, names);
    return names;
}

std::vector<std::string> RegistryDataStore::childNames() const {
    std::vector<std::string> names;
    appendNames(user_, false, names);
    appendNames(machine_, false, names);
    return names;
}

StoreValue RegistryDataStore::read(const std::string& key) const {
    const std::pair<const PersistSnapshot*, Source> places[] = {
        {includeUser_ ? &user_ : nullptr, kSourceUser}, {&machine_, kSourceMachine}};
    for (const auto& [snapshot, source] : places) {
        if (snapshot == nullptr) {
            continue;
        }
        if (source == kSourceUser && snapshot->fromAnotherAccount() && pathValues_.count(key) != 0 &&
            snapshot->contains(key)) {
            // A user who is not the process's account must not choose where it writes.
            detail::reportStore(
                node_.state().description(kPersistUser) + " value \"" + key +
                "\" chooses a path and belongs to another account than the process's; not used");
            continue;
        }
        const std::string problem = unusable(*snapshot, key);
        if (!problem.empty()) {
            detail::reportStore(
                node_.state().description(source == kSourceUser ? kPersistUser : kPersistMachine) +
                " value \"" + key + "\" is " + problem + "; not used");
            continue;
        }
        if (snapshot->hasValue(key)) {
            return StoreValue{source, snapshot->getString(key)};
        }
    }
    return StoreValue();
}

void RegistryDataStore::write(const std::string& key, const std::string& text, Source source) {
    PersistSnapshot& snapshot = source == kSourceUser ? user_ : machine_;
    PersistSnapshot& unsaved = source == kSourceUser ? unsavedUser_ : unsavedMachine_;
    snapshot.put(key, text);
    unsaved.put(key, text);
}

void RegistryDataStore::flush() {
    if (!unsavedMachine_.empty()) {
        node_.write(unsavedMachine_, kPersistMachine);
        unsavedMachine_ = PersistSnapshot();
    }
    if (!unsavedUser_.empty()) {
        node_.write(unsavedUser_, kPersistUser);
        unsavedUser_ = PersistSnapshot();
    }
    for (auto& [name, store] : children_) {
        store->flush();
    }
}

} // namespace qv::sys::option
