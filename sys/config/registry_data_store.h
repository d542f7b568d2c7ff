#pragma once

// The data store of options: a settings key Software\Quorvane\<section>,
// read from the machine hive and, when asked, the logged-on user's hive,
// whose values win. Snapshots are taken at construction (and by reload());
// later registry changes are not seen.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sys/config/option.h"
#include "sys/config/persist_tree.h"

namespace qv::sys::option {

class RegistryDataStore : public DataStore {
public:
    // withDwords: DWORD values count too, as their decimal text.
    RegistryDataStore(const std::string& section, bool includeUser, bool withDwords,
                      std::shared_ptr<PersistUserHive> userHive = loggedOnUserHive());
    ~RegistryDataStore() override;

    DataStore* child(const std::string& name, bool create) override;
    void reload() override;
    // User snapshot first, then machine; each name once.
    std::vector<std::string> valueNames() const override;
    std::vector<std::string> childNames() const override;
    // The user's value (source 3) before the machine's (source 2). A value
    // that is not a string, or a string without its terminating zero, is not
    // taken: a record names it and the next place is asked.
    StoreValue read(const std::string& key) const override;
    // Source 3 goes to the user's hive, any other to the machine hive.
    void write(const std::string& key, const std::string& text, Source source) override;
    // Writes what write() kept, in this store and its children. Throws
    // PersistBadAccess when a place cannot be opened.
    void flush() override;

    // `key` chooses a path (where dumps or logs go). While the user's hive
    // belongs to an account other than the process's own, read() does not
    // take its value there: a record names it and the machine's value counts.
    void markPathValue(const std::string& key) { pathValues_.insert(key); }

private:
    RegistryDataStore(PersistTree node, bool includeUser, bool withDwords);

    bool includeUser_;
    bool withDwords_;
    PersistTree node_;
    PersistSnapshot machine_;
    PersistSnapshot user_;
    std::map<std::string, std::unique_ptr<RegistryDataStore>> children_;
    PersistSnapshot unsavedMachine_;
    PersistSnapshot unsavedUser_;
    std::set<std::string> pathValues_;
};

} // namespace qv::sys::option
