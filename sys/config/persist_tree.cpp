#include "sys/config/persist_tree.h"

#include "sys/config/leading_number.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include <windows.h>
#include <shlwapi.h>

#include "sys/errors/exception.h"
#include "sys/logger/logger.h"
#include "sys/win32/impersonation.h"
#include "sys/win32/unique_handle.h"

namespace qv::sys {

namespace {

using Logger::kError;
using Logger::kWarn;
using win32::UniqueHkey;

// One process-wide identity for the records of every tree. Made on the first
// record, so that reads (which the logger itself makes) never create it.
Logger::Logged& persistLog() {
    static Logger::Logged log("PersistRegAccess", "");
    return log;
}

// Log readers know the two records of a write without a user's hive by
// these line numbers, which stay fixed as the source moves.
constexpr std::int32_t kNoUserHiveLine = 196;
constexpr std::int32_t kNotWrittenLine = 204;

enum class Access { Read, Create, Delete };

constexpr REGSAM kReadAccess = 0x20019;   // KEY_READ
constexpr REGSAM kCreateAccess = 0x2001F; // KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
constexpr REGSAM kDeleteAccess = 0x30006; // DELETE | READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY

REGSAM accessMask(Access access) {
    switch (access) {
    case Access::Read:
        return kReadAccess;
    case Access::Create:
        return kCreateAccess;
    case Access::Delete:
        return kDeleteAccess;
    }
    throw PersistBadFlags();
}

// Opens (or creates) each component of `path` below `start` in turn; every
// tree's path has some (it lies below Software\Quorvane). On failure the key
// is empty and `error` holds the failing component's code.
UniqueHkey openPath(HKEY start, const PersistTreeState::Path& path, Access access, bool volatileKeys,
                    LONG& error) {
    UniqueHkey current;
    for (const std::string& component : path) {
        const HKEY parent = current ? current.get() : start;
        UniqueHkey next;
        if (access == Access::Create) {
            error = RegCreateKeyExA(parent, component.c_str(), 0, nullptr,
                                    volatileKeys ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                    accessMask(access), nullptr, next.put(), nullptr);
        } else {
            error = RegOpenKeyExA(parent, component.c_str(), 0, accessMask(access), next.put());
        }
        if (error != ERROR_SUCCESS) {
            return UniqueHkey();
        }
        current = std::move(next);
    }
    error = ERROR_SUCCESS;
    return current;
}

class LoggedOnUserHive : public PersistUserHive {
public:
    explicit LoggedOnUserHive(std::shared_ptr<win32::UserImpersonatorFactory> factory)
        : factory_(std::move(factory)) {}

    std::unique_ptr<win32::UserImpersonator> impersonate() override {
        return win32::impersonate(factory_.get());
    }

    long open(std::uint32_t access, void*& key) override {
        HKEY hive = nullptr;
        const LONG error = RegOpenCurrentUser(access, &hive);
        key = hive;
        return error;
    }

private:
    std::shared_ptr<win32::UserImpersonatorFactory> factory_;
};

// Registry value names may have up to 16383 characters; in a multi-byte code
// page each may take two bytes.
constexpr DWORD kValueNameBuffer = 32768;
// Key names have at most 255 characters.
constexpr DWORD kKeyNameBuffer = 256;

// Takes the values of `key` into `snapshot`: strings, and DWORDs as unsigned
// decimal text when asked. Ends at the first index the registry refuses.
void readValues(HKEY key, bool withDwords, PersistSnapshot& snapshot) {
    std::vector<char> name(kValueNameBuffer);
    std::vector<char> data(256);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 0;
        DWORD type = REG_NONE;
        DWORD size = 0;
        LONG error = ERROR_MORE_DATA;
        // The buffer is one byte longer than the registry is told, so that a
        // string can always be ended after its data. A value that grows
        // between two calls gets a few more tries.
        for (int attempt = 0; attempt < 4 && error == ERROR_MORE_DATA; ++attempt) {
            if (size + 1 > data.size()) {
                data.resize(size + 1);
            }
            nameLength = kValueNameBuffer;
            size = static_cast<DWORD>(data.size() - 1);
            error = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        }
        if (error == ERROR_NO_MORE_ITEMS) {
            return;
        }
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) {
            // The enumeration itself failed: later indexes would fail alike.
            snapshot.addIssue(
                {std::string(), PersistIssue::Kind::Unreadable, static_cast<std::uint32_t>(error)});
            return;
        }
        const std::string valueName(name.data(), std::min(nameLength, kValueNameBuffer - 1));
        if (error == ERROR_MORE_DATA) {
            snapshot.addIssue({valueName, PersistIssue::Kind::Unreadable, static_cast<std::uint32_t>(error)});
            continue;
        }
        size = std::min(size, static_cast<DWORD>(data.size() - 1));
        if (type == REG_SZ) {
            data[size] = '\0';
            snapshot.put(valueName, std::string(data.data()));
            if (size > 0 && data[size - 1] != '\0') {
                snapshot.addIssue({valueName, PersistIssue::Kind::Unterminated, size});
            }
        } else if (type == REG_DWORD && withDwords) {
            if (size == sizeof(DWORD)) {
                DWORD value = 0;
                std::memcpy(&value, data.data(), sizeof value);
                snapshot.put(valueName, std::to_string(value));
            } else {
                snapshot.addIssue({valueName, PersistIssue::Kind::BadSize, size});
            }
        } else {
            snapshot.addIssue({valueName, PersistIssue::Kind::WrongType, type});
        }
    }
}

// Subkeys are entered after the values, so a subkey hides a value of the same name.
void readSubkeys(HKEY key, PersistSnapshot& snapshot) {
    char name[kKeyNameBuffer];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kKeyNameBuffer;
        const LONG error = RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (error != ERROR_SUCCESS) {
            if (error != ERROR_NO_MORE_ITEMS) {
                snapshot.addIssue(
                    {std::string(), PersistIssue::Kind::Unreadable, static_cast<std::uint32_t>(error)});
            }
            return;
        }
        snapshot.putChild(std::string(name, nameLength));
    }
}

const char* hiveText(PersistFlags flags) {
    switch (flags) {
    case kPersistMachine:
    case kPersistNetworkCopy:
        return "HKEY_LOCAL_MACHINE";
    case kPersistUser:
        return "HKEY_CURRENT_USER";
    default:
        return "Persist Flag Error";
    }
}

} // namespace

// --- PersistSnapshot ---

bool PersistSnapshot::hasValue(const std::string& name) const {
    const auto found = entries_.find(name);
    return found != entries_.end() && found->second.leaf;
}

bool PersistSnapshot::hasChild(const std::string& name) const {
    const auto found = entries_.find(name);
    return found != entries_.end() && !found->second.leaf;
}

const std::string& PersistSnapshot::getString(const std::string& name) const {
    const auto found = entries_.find(name);
    if (found == entries_.end()) {
        throw PersistNotFound();
    }
    if (!found->second.leaf) {
        throw PersistBadLeaf();
    }
    return found->second.text;
}

std::int32_t PersistSnapshot::getInt(const std::string& name) const {
    return leadingNumber(getString(name)).clamped<std::int32_t>();
}

std::string PersistSnapshot::getString(const std::string& name, const std::string& fallback) const {
    return contains(name) ? getString(name) : fallback;
}

std::int32_t PersistSnapshot::getInt(const std::string& name, std::int32_t fallback) const {
    return contains(name) ? getInt(name) : fallback;
}

bool PersistSnapshot::getBool(const std::string& name, bool fallback) const {
    if (!contains(name)) {
        return fallback;
    }
    return beginsWithYes(getString(name));
}

void PersistSnapshot::put(const std::string& name, const std::string& text) {
    erase(name);
    entries_.emplace(name, PersistEntry{true, text});
}

void PersistSnapshot::putChild(const std::string& name) {
    erase(name);
    entries_.emplace(name, PersistEntry{false, std::string()});
}

void PersistSnapshot::erase(const std::string& name) {
    entries_.erase(name);
    issues_.erase(std::remove_if(issues_.begin(), issues_.end(),
                                 [&name](const PersistIssue& issue) { return issue.name == name; }),
                  issues_.end());
}

const PersistIssue* PersistSnapshot::issue(const std::string& name) const {
    for (const PersistIssue& issue : issues_) {
        if (issue.name == name) {
            return &issue;
        }
    }
    return nullptr;
}

// --- PersistTreeState ---

std::shared_ptr<PersistUserHive> loggedOnUserHive(std::shared_ptr<win32::UserImpersonatorFactory> factory) {
    return std::make_shared<LoggedOnUserHive>(std::move(factory));
}

PersistTreeState::PersistTreeState(Path mainPath, Path alternatePath,
                                   std::shared_ptr<PersistUserHive> userHive, bool volatileKeys)
    : mainPath_(std::move(mainPath)), alternatePath_(std::move(alternatePath)),
      userHive_(std::move(userHive)), volatileKeys_(volatileKeys) {}

std::unique_ptr<PersistTreeState> PersistTreeState::child(const std::string& name) const {
    Path main = mainPath_;
    main.push_back(name);
    Path alternate = mainPath_;
    alternate.push_back("Network Persist Settings");
    alternate.push_back(name);
    return std::make_unique<PersistTreeState>(std::move(main), std::move(alternate), userHive_,
                                              volatileKeys_);
}

std::string PersistTreeState::description(PersistFlags flags) const {
    std::string text = hiveText(flags);
    for (const std::string& component : flags == kPersistNetworkCopy ? alternatePath_ : mainPath_) {
        text += '\\' + component;
    }
    return text;
}

const PersistTreeState::Path& PersistTreeState::path(PersistFlags flags) const {
    if (flags != kPersistMachine && flags != kPersistUser && flags != kPersistNetworkCopy) {
        throw PersistBadFlags();
    }
    return flags == kPersistNetworkCopy ? alternatePath_ : mainPath_;
}

namespace {

// The key of a place. For the user's hive the impersonator acts as the user
// as long as the key is open (members end in reverse order).
struct OpenPlace {
    std::unique_ptr<win32::UserImpersonator> impersonator;
    LONG hiveError = ERROR_SUCCESS; // the user's hive could not be opened
    LONG error = ERROR_SUCCESS;     // a component of the path could not be opened
    UniqueHkey key;
};

// Acting as the user may throw qv::sys exceptions.
OpenPlace openPlace(PersistUserHive& userHive, PersistFlags flags, const PersistTreeState::Path& path,
                    Access access, bool volatileKeys) {
    OpenPlace place;
    if (flags != kPersistUser) {
        place.key = openPath(HKEY_LOCAL_MACHINE, path, access, volatileKeys, place.error);
        return place;
    }
    place.impersonator = userHive.impersonate();
    void* opened = nullptr;
    place.hiveError = userHive.open(access == Access::Delete ? kDeleteAccess : kCreateAccess, opened);
    if (place.hiveError != ERROR_SUCCESS) {
        return place;
    }
    const UniqueHkey hive(static_cast<HKEY>(opened));
    place.key = openPath(hive.get(), path, access, volatileKeys, place.error);
    return place;
}

} // namespace

PersistSnapshot PersistTreeState::read(PersistFlags flags, bool withDwords) const {
    const Path& keyPath = path(flags);
    PersistSnapshot snapshot;
    try {
        const OpenPlace place = openPlace(*userHive_, flags, keyPath, Access::Read, volatileKeys_);
        if (place.key) {
            readValues(place.key.get(), withDwords, snapshot);
            readSubkeys(place.key.get(), snapshot);
        }
        snapshot.setFromAnotherAccount(place.impersonator && place.impersonator->actsAsAnotherAccount());
    } catch (const Exception&) {
        // We cannot act as the logged-on user: there is no user hive to read.
    }
    return snapshot;
}

void PersistTreeState::write(const PersistSnapshot& snapshot, PersistFlags flags) const {
    const Path& keyPath = path(flags);
    Logger::Logged& log = persistLog();
    const std::string where = description(flags);
    OpenPlace place;
    try {
        place = openPlace(*userHive_, flags, keyPath, Access::Create, volatileKeys_);
    } catch (const Exception& e) {
        QV_LOG_AS(log, kError) << "cannot act as the logged-on user to write " << where << ": "
                               << narrowText(e.text());
        throw PersistBadAccess();
    }
    if (place.hiveError != ERROR_SUCCESS) {
        // Nothing can be written without a user's hive, and the caller must know.
        QV_LOG_RECORD(log, kWarn, kNoUserHiveLine)
            << "no logged-on user's hive: " << SystemErrorCode(place.hiveError);
        QV_LOG_RECORD(log, kWarn, kNotWrittenLine) << "settings not written to " << where;
        throw PersistBadAccess();
    }
    if (!place.key) {
        QV_LOG_AS(log, kError) << "cannot open " << where << ": " << SystemErrorCode(place.error);
        throw PersistBadAccess();
    }
    for (const auto& [name, entry] : snapshot.entries()) {
        if (!entry.leaf) {
            continue;
        }
        // With its terminating zero, as every reader of a REG_SZ expects.
        const LONG error = RegSetValueExA(place.key.get(), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(entry.text.c_str()),
                                          static_cast<DWORD>(entry.text.size() + 1));
        if (error != ERROR_SUCCESS) {
            QV_LOG_AS(log, kError) << "cannot set " << where << '\\' << name << ": "
                                   << SystemErrorCode(error);
        }
    }
}

void PersistTreeState::remove(const std::string& name, PersistFlags flags, bool recursive) const {
    const Path& keyPath = path(flags);
    try {
        const OpenPlace place = openPlace(*userHive_, flags, keyPath, Access::Delete, volatileKeys_);
        if (!place.key) {
            return;
        }
        RegDeleteValueA(place.key.get(), name.c_str());
        if (recursive) {
            SHDeleteKeyA(place.key.get(), name.c_str());
        } else {
            RegDeleteKeyA(place.key.get(), name.c_str());
        }
    } catch (const Exception&) {
        // Failures of removal are not reported.
    }
}

// --- PersistTree ---

PersistTree::PersistTree(const std::string& name, bool volatileKeys,
                         std::shared_ptr<PersistUserHive> userHive)
    : state_(PersistTreeState({"Software", "Quorvane"}, {}, std::move(userHive), volatileKeys).child(name)) {}

PersistTree::PersistTree(const PersistTree& parent, const std::string& childName)
    : state_(parent.state_->child(childName)) {}

PersistTree::~PersistTree() = default;

PersistSnapshot PersistTree::read(PersistFlags flags, bool withDwords) const {
    return state_->read(flags, withDwords);
}

void PersistTree::write(const PersistSnapshot& snapshot, PersistFlags flags) const {
    state_->write(snapshot, flags);
}

void PersistTree::remove(const std::string& name, PersistFlags flags, bool recursive) const {
    state_->remove(name, flags, recursive);
}

} // namespace qv::sys
