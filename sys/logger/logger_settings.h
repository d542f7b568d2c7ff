#pragma once

// What the logger reads from its settings (registry keys below
// Software\Quorvane, string values only): the logger-wide settings, each
// module's level and outputs, and each named output. Independent of where the
// keys come from: a SettingsSource reads them.
//
//   Logger                         "verbosity", "verbosity threshold", "filesize", "directory"
//   <name>\Logger\Modules          "verbosity"..., a value per module, subkeys per module or "default"
//   <name>\Logger\Modules\<module> "verbosity"..., subkey "Outputs" (or its own entries): output -> level
//   <name>\Logger\Outputs\<output> "filename", "decorated filename", "Mode", "line type", "maxFileCount",
//                                  "max size"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sys/logger/file_output.h"
#include "sys/logger/level.h"
#include "sys/logger/output.h"

namespace qv::sys::Logger {

// A settings key used the wrong way (a subkey where a value is read).
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One key as read at one moment: its string values and the names of its
// subkeys, by name in byte order. A subkey hides a value of the same name.
class SettingsKey {
public:
    void putValue(const std::string& name, const std::string& text);
    void putSubkey(const std::string& name);

    bool empty() const { return entries_.empty(); }
    bool hasValue(const std::string& name) const;
    bool hasSubkey(const std::string& name) const;
    // The text of value `name`; nothing when absent; SettingsError when it is a subkey.
    std::optional<std::string> value(const std::string& name) const;
    // Name -> text for values, nothing for subkeys.
    const std::map<std::string, std::optional<std::string>>& entries() const { return entries_; }

    // Values the reading found but could not take (a number where text belongs).
    void addIssue(const std::string& text) { issues_.push_back(text); }
    const std::vector<std::string>& issues() const { return issues_; }

    // Read from the user's hive of an account other than the process's own:
    // values that choose a path are then taken from the machine's hive only.
    bool fromAnotherAccount() const { return fromAnotherAccount_; }
    void setFromAnotherAccount(bool another) { fromAnotherAccount_ = another; }

private:
    std::map<std::string, std::optional<std::string>> entries_;
    std::vector<std::string> issues_;
    bool fromAnotherAccount_ = false;
};

enum class Hive { User, Machine };

// Reads a key below Software\Quorvane of one hive; a missing key reads empty.
class SettingsSource {
public:
    virtual ~SettingsSource() = default;
    virtual SettingsKey read(const std::vector<std::string>& path, Hive hive) = 0;
};

// Problems met while reading settings, for the log once it can take them.
using SettingsNotes = std::vector<std::string>;

// The key from the user's hive when it holds anything there, else from the
// machine's. Values that could not be taken from either reading go to `notes`.
SettingsKey readSettings(SettingsSource& source, const std::vector<std::string>& path, SettingsNotes& notes);

// Value `name` of `key` (as readSettings gave it for `path`), for a value that
// chooses a path: when the key comes from another account's hive, its value
// there is ignored with a note, and the machine hive's value is taken.
// SettingsError when the value is a subkey.
std::optional<std::string> readPathValue(SettingsSource& source, const std::vector<std::string>& path,
                                         const SettingsKey& key, const std::string& name,
                                         SettingsNotes& notes);

// A number as the settings write it: leading blanks, an optional sign, decimal
// digits up to the first other character; no digits read as 0. Saturates.
std::int64_t settingsNumber(const std::string& text);

struct CoreSettings {
    Level configuredVerbosity = kInfo;
    std::uint64_t maxFileSize = 0x100000;
    std::string directory; // with a trailing backslash when not empty
};

CoreSettings readCoreSettings(SettingsSource& source, Level startVerbosity, SettingsNotes& notes);

enum class OutputKind { StandardError, StandardOutput, Debugger, File };

struct OutputSettings {
    OutputKind kind = OutputKind::File;
    std::string filename; // with the log directory in front when it had no directory
    FileMode mode = FileMode::New;
    int lineType = 0;
    std::uint64_t maxSize = 0x10000;
    std::uint8_t maxFileCount = 0;
};

// The named output `outputName` of logger `loggerName`; nothing when it has no
// "filename" (it is then absent for good). SettingsError propagates.
std::optional<OutputSettings> readOutputSettings(SettingsSource& source, const std::string& loggerName,
                                                 const std::string& outputName, const std::string& directory,
                                                 SettingsNotes& notes);

// The output named so, or null when it is absent.
using OutputLookup = std::function<Output*(const std::string& name)>;

struct ModuleConfiguration {
    Level verbosity = kInfo;
    OutputList outputs;
};

// The level and the configured outputs of a new module, before the built-in
// outputs. A SettingsError ends the reading; what was gathered stays.
ModuleConfiguration configureModule(SettingsSource& source, const std::string& loggerName,
                                    const std::string& moduleName, Level startVerbosity,
                                    const OutputLookup& getOutput, SettingsNotes& notes);

} // namespace qv::sys::Logger
