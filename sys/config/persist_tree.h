#pragma once

// Persistent settings: a registry key below Software\Quorvane, kept in the
// machine hive, the logged-on user's hive, or a machine-hive copy below
// "Network Persist Settings". A read takes a snapshot of the key's string
// values and subkey names; callers look values up in the snapshot, never in
// the registry.
//
// Reading never logs, since the logger reads its own configuration through
// here. Reading the user's hive impersonates the logged-on user on the
// calling thread for the duration of the read.

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qv::sys {

namespace win32 {
class UserImpersonator;
class UserImpersonatorFactory;
} // namespace win32

class PersistException : public std::exception {
protected:
    PersistException() = default;
};

class PersistNotFound : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent value not found"; }
};

class PersistBadLeaf : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent name is not a leaf"; }
};

class PersistBadAccess : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent access failure"; }
};

class PersistBadFlags : public PersistException {
public:
    const char* what() const noexcept override { return "PersistFlags not valid for operation"; }
};

// Where a tree is kept; any other value is refused with PersistBadFlags.
using PersistFlags = std::uint32_t;
constexpr PersistFlags kPersistMachine = 0;
constexpr PersistFlags kPersistUser = 1;
constexpr PersistFlags kPersistNetworkCopy = 2;

// A value (leaf, with its text) or a subkey (no text).
struct PersistEntry {
    bool leaf = true;
    std::string text;
};

// A value that a read found but could not take as it stands.
struct PersistIssue {
    enum class Kind {
        WrongType,    // not a string (nor a DWORD when those were asked for); detail: the registry type
        BadSize,      // a DWORD whose data are not 4 bytes; detail: the size
        Unterminated, // a string without its terminating zero; its entry holds the bytes as they are
        Unreadable,   // the registry refused it; detail: the Win32 error
    };
    std::string name;
    Kind kind;
    std::uint32_t detail;
};

// An ordered map of names (compared by byte value) to entries.
class PersistSnapshot {
public:
    using Entries = std::map<std::string, PersistEntry>;

    bool contains(const std::string& name) const { return entries_.count(name) != 0; }
    bool hasValue(const std::string& name) const;
    bool hasChild(const std::string& name) const;

    // Throw PersistNotFound when absent and PersistBadLeaf for a subkey.
    const std::string& getString(const std::string& name) const;
    // The text's leading decimal number (blanks, an optional sign, digits),
    // held to the 32-bit range; 0 without one.
    std::int32_t getInt(const std::string& name) const;

    // The fallback when the name is absent; a subkey still throws PersistBadLeaf.
    std::string getString(const std::string& name, const std::string& fallback) const;
    std::int32_t getInt(const std::string& name, std::int32_t fallback) const;
    // True when the text begins with y, Y, t or T.
    bool getBool(const std::string& name, bool fallback) const;

    // Each replaces what a read said about the name, issues included.
    void put(const std::string& name, const std::string& text);
    void putChild(const std::string& name);
    void erase(const std::string& name);

    const Entries& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

    // What the read that made this snapshot left out or took with reservations.
    const std::vector<PersistIssue>& issues() const { return issues_; }
    // The issue about `name`, or null.
    const PersistIssue* issue(const std::string& name) const;
    void addIssue(PersistIssue issue) { issues_.push_back(std::move(issue)); }

    // Read from the hive of an account other than the process's own (the
    // logged-on user's, while the process runs as another): its values are
    // that user's choice, not the choice of whoever runs the process.
    bool fromAnotherAccount() const { return fromAnotherAccount_; }
    void setFromAnotherAccount(bool another) { fromAnotherAccount_ = another; }

private:
    Entries entries_;
    std::vector<PersistIssue> issues_;
    bool fromAnotherAccount_ = false;
};

// How a tree reaches the logged-on user's hive. The default acts as the
// console session's user (or through the factory given) and opens the hive
// with RegOpenCurrentUser; tests replace it to reach what Wine never does.
class PersistUserHive {
public:
    virtual ~PersistUserHive() = default;
    // Acts as the user until the result is destroyed; may throw qv::sys exceptions.
    virtual std::unique_ptr<win32::UserImpersonator> impersonate() = 0;
    // 0 and an open key (an HKEY the caller closes), or the Win32 error.
    virtual long open(std::uint32_t access, void*& key) = 0;
};

// `factory` null: the logged-on user's impersonator.
std::shared_ptr<PersistUserHive>
loggedOnUserHive(std::shared_ptr<win32::UserImpersonatorFactory> factory = nullptr);

// One node of the tree: its paths and how it reaches the user's hive.
class PersistTreeState {
public:
    using Path = std::vector<std::string>;

    PersistTreeState(Path mainPath, Path alternatePath, std::shared_ptr<PersistUserHive> userHive,
                     bool volatileKeys);
    virtual ~PersistTreeState() = default;

    // Main path plus `name`; alternate path: this main path, "Network Persist Settings", `name`.
    virtual std::unique_ptr<PersistTreeState> child(const std::string& name) const;
    virtual PersistSnapshot read(PersistFlags flags, bool withDwords) const;
    virtual void write(const PersistSnapshot& snapshot, PersistFlags flags) const;
    virtual void remove(const std::string& name, PersistFlags flags, bool recursive) const;

    const Path& mainPath() const { return mainPath_; }
    const Path& alternatePath() const { return alternatePath_; }
    // The place for log records, e.g. HKEY_LOCAL_MACHINE\Software\Quorvane\QuorvaneAnalytics\Logger.
    std::string description(PersistFlags flags) const;

private:
    // The path of a place; PersistBadFlags for an unknown one.
    const Path& path(PersistFlags flags) const;

    Path mainPath_;
    Path alternatePath_;
    std::shared_ptr<PersistUserHive> userHive_;
    bool volatileKeys_;
};

class PersistTree {
public:
    // Software\Quorvane\<name>. Keys that writes create are volatile when asked.
    explicit PersistTree(const std::string& name, bool volatileKeys = false,
                         std::shared_ptr<PersistUserHive> userHive = loggedOnUserHive());
    PersistTree(const PersistTree& parent, const std::string& childName);
    PersistTree(const PersistTree&) = delete;
    PersistTree& operator=(const PersistTree&) = delete;
    PersistTree(PersistTree&&) noexcept = default;
    PersistTree& operator=(PersistTree&&) noexcept = default;
    virtual ~PersistTree();

    // A missing key reads as an empty snapshot.
    PersistSnapshot read(PersistFlags flags, bool withDwords = false) const;
    // Creates missing keys and sets every leaf as a string value. Throws
    // PersistBadAccess when the place cannot be opened; a value that cannot be
    // set is logged and the others are still written.
    void write(const PersistSnapshot& snapshot, PersistFlags flags) const;
    // Deletes the value `name` and the subkey `name` (with its subtree when
    // recursive); failures are not reported.
    void remove(const std::string& name, PersistFlags flags, bool recursive) const;

    const PersistTreeState& state() const { return *state_; }

private:
    std::unique_ptr<PersistTreeState> state_;
};

} // namespace qv::sys
