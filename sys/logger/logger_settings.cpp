#include "sys/logger/logger_settings.h"

#include "sys/config/leading_number.h"

#include <algorithm>

#include "sys/logger/line_format.h"

namespace qv::sys::Logger {

namespace {
constexpr std::uint64_t kSmallestFileSize = 0x100000;
constexpr std::uint64_t kLargestFileSize = 0x6400000;

std::string quoted(const std::string& text) {
    return '"' + text + '"';
}

std::string keyPath(const std::vector<std::string>& path) {
    std::string result = "Software\\Quorvane";
    for (const std::string& part : path) {
        result += '\\';
        result += part;
    }
    return result;
}

// The level named `text`; `level` for an empty or unknown name.
Level namedLevel(const std::string& text, Level level, SettingsNotes& notes, const std::string& where) {
    if (text.empty()) {
        return level;
    }
    if (const auto named = levelFromName(text)) {
        return *named;
    }
    notes.push_back(where + ' ' + quoted(text) +
                    " is not a level name (ALWAYS, FATAL, ERROR, WARN, INFO, DEBUG or VERBOSE); " +
                    levelName(level) + " stays");
    return level;
}

// "verbosity", or when that is absent "verbosity threshold".
Level keyLevel(const SettingsKey& key, Level level, SettingsNotes& notes, const std::string& where) {
    for (const char* name : {"verbosity", "verbosity threshold"}) {
        if (const auto text = key.value(name)) {
            return namedLevel(*text, level, notes, where + " value " + quoted(name));
        }
    }
    return level;
}
} // namespace

void SettingsKey::putValue(const std::string& name, const std::string& text) {
    // Subkeys are entered after values: a subkey keeps its place.
    auto found = entries_.find(name);
    if (found == entries_.end()) {
        entries_.emplace(name, text);
    } else if (found->second) {
        found->second = text;
    }
}

void SettingsKey::putSubkey(const std::string& name) {
    entries_[name] = std::nullopt;
}

bool SettingsKey::hasValue(const std::string& name) const {
    const auto found = entries_.find(name);
    return found != entries_.end() && found->second.has_value();
}

bool SettingsKey::hasSubkey(const std::string& name) const {
    const auto found = entries_.find(name);
    return found != entries_.end() && !found->second.has_value();
}

std::optional<std::string> SettingsKey::value(const std::string& name) const {
    const auto found = entries_.find(name);
    if (found == entries_.end()) {
        return std::nullopt;
    }
    if (!found->second) {
        throw SettingsError(quoted(name) + " is a key, not a value");
    }
    return found->second;
}

SettingsKey readSettings(SettingsSource& source, const std::vector<std::string>& path, SettingsNotes& notes) {
    SettingsKey key = source.read(path, Hive::User);
    notes.insert(notes.end(), key.issues().begin(), key.issues().end());
    if (key.empty()) {
        key = source.read(path, Hive::Machine);
        notes.insert(notes.end(), key.issues().begin(), key.issues().end());
    }
    return key;
}

std::optional<std::string> readPathValue(SettingsSource& source, const std::vector<std::string>& path,
                                         const SettingsKey& key, const std::string& name,
                                         SettingsNotes& notes) {
    std::optional<std::string> text = key.value(name);
    if (!key.fromAnotherAccount()) {
        return text;
    }
    if (text) {
        notes.push_back(keyPath(path) + " value " + quoted(name) + " " + quoted(*text) +
                        " of the user's hive chooses a path and belongs to another account than the "
                        "process's; ignored, the machine's value counts");
    }
    return source.read(path, Hive::Machine).value(name);
}

std::int64_t settingsNumber(const std::string& text) {
    return leadingNumber(text).value;
}

CoreSettings readCoreSettings(SettingsSource& source, Level startVerbosity, SettingsNotes& notes) {
    CoreSettings settings;
    settings.configuredVerbosity = startVerbosity;
    const std::string where = keyPath({"Logger"});
    try {
        const SettingsKey key = readSettings(source, {"Logger"}, notes);
        settings.configuredVerbosity = keyLevel(key, startVerbosity, notes, where);
        if (const auto text = key.value("filesize")) {
            const std::int64_t size = settingsNumber(*text);
            if (size < static_cast<std::int64_t>(kSmallestFileSize)) {
                notes.push_back(where + " value \"filesize\" " + quoted(*text) + " is below " +
                                std::to_string(kSmallestFileSize) + "; " +
                                std::to_string(settings.maxFileSize) + " stays");
            } else {
                settings.maxFileSize = std::min(static_cast<std::uint64_t>(size), kLargestFileSize);
                if (settings.maxFileSize != static_cast<std::uint64_t>(size)) {
                    notes.push_back(where + " value \"filesize\" " + quoted(*text) + " is cut to " +
                                    std::to_string(kLargestFileSize));
                }
            }
        }
        if (const auto directory = readPathValue(source, {"Logger"}, key, "directory", notes)) {
            settings.directory = *directory;
            if (!settings.directory.empty() && settings.directory.back() != '\\') {
                settings.directory += '\\';
            }
        }
    } catch (const SettingsError& error) {
        notes.push_back(where + ": " + error.what() + "; the rest of it is not read");
    }
    return settings;
}

std::optional<OutputSettings> readOutputSettings(SettingsSource& source, const std::string& loggerName,
                                                 const std::string& outputName, const std::string& directory,
                                                 SettingsNotes& notes) {
    const std::vector<std::string> path = {loggerName, "Logger", "Outputs", outputName};
    const std::string where = keyPath(path);
    const SettingsKey key = readSettings(source, path, notes);
    // An output named after a stream is that stream: its "filename" names no file.
    const bool namesStream = outputName == "stderr" || outputName == "stdout" || outputName == "debug";
    const auto filename =
        namesStream ? key.value("filename") : readPathValue(source, path, key, "filename", notes);
    if (!filename || filename->empty()) {
        notes.push_back(where + " has no value \"filename\"; the output " + quoted(outputName) +
                        " is left out");
        return std::nullopt;
    }
    OutputSettings settings;
    // A forward slash is as good a separator to Windows as a backslash.
    settings.filename =
        filename->find_first_of("\\/") == std::string::npos ? directory + *filename : *filename;

    const bool decorated = beginsWithYes(key.value("decorated filename").value_or(std::string()));
    settings.mode = decorated ? FileMode::Decorate : FileMode::New;
    if (const auto mode = key.value("Mode"); mode && !mode->empty()) {
        if (const auto named = fileModeFromName(*mode)) {
            settings.mode = *named;
        } else {
            notes.push_back(where + " value \"Mode\" " + quoted(*mode) + " is not New, Decorate or Append; " +
                            (decorated ? "Decorate" : "New") + " stays");
        }
    }
    if (const auto lineType = key.value("line type")) {
        settings.lineType = settingsNumber(*lineType) == 0 ? kShortLine : kDecoratedLine;
    }
    if (const auto maxSize = key.value("max size")) {
        const std::int64_t size = settingsNumber(*maxSize);
        settings.maxSize = size < 0 ? 0 : static_cast<std::uint64_t>(size);
        if (size < 0) {
            notes.push_back(where + " value \"max size\" " + quoted(*maxSize) + " is negative; no limit");
        }
    }
    if (const auto count = key.value("maxFileCount")) {
        const std::int64_t files = settingsNumber(*count);
        // Cut into 0..255: a count of 256 read as its low 8 bits would keep every file.
        settings.maxFileCount = static_cast<std::uint8_t>(std::clamp<std::int64_t>(files, 0, 255));
        if (files < 0 || files > 255) {
            notes.push_back(where + " value \"maxFileCount\" " + quoted(*count) + " is taken as " +
                            std::to_string(settings.maxFileCount));
        }
    }

    auto either = [&](const char* name) { return outputName == name || settings.filename == name; };
    if (either("stderr")) {
        settings.kind = OutputKind::StandardError;
    } else if (either("stdout")) {
        settings.kind = OutputKind::StandardOutput;
    } else if (either("debug")) {
        settings.kind = OutputKind::Debugger;
    }
    return settings;
}

ModuleConfiguration configureModule(SettingsSource& source, const std::string& loggerName,
                                    const std::string& moduleName, Level startVerbosity,
                                    const OutputLookup& getOutput, SettingsNotes& notes) {
    ModuleConfiguration result;
    result.verbosity = startVerbosity;
    const std::vector<std::string> modulesPath = {loggerName, "Logger", "Modules"};
    try {
        const SettingsKey modules = readSettings(source, modulesPath, notes);
        Level level = keyLevel(modules, startVerbosity, notes, keyPath(modulesPath));
        result.verbosity = level;

        std::string section;
        if (modules.hasSubkey(moduleName)) {
            section = moduleName;
        } else if (modules.hasSubkey("default")) {
            section = "default";
        }
        // Output name -> its entry (a value's text, or nothing for a subkey).
        std::map<std::string, std::optional<std::string>> listed;
        if (!section.empty()) {
            std::vector<std::string> sectionPath = modulesPath;
            sectionPath.push_back(section);
            const SettingsKey key = readSettings(source, sectionPath, notes);
            level = keyLevel(key, level, notes, keyPath(sectionPath));
            result.verbosity = level;
            if (key.hasSubkey("Outputs")) {
                sectionPath.push_back("Outputs");
                listed = readSettings(source, sectionPath, notes).entries();
            } else {
                listed = key.entries();
                for (const char* name : {"verbosity", "verbosity threshold", "default"}) {
                    listed.erase(name);
                }
            }
        }
        // A subkey of the module's name hides a value of that name.
        if (modules.hasValue(moduleName)) {
            level = namedLevel(*modules.value(moduleName), level, notes,
                               keyPath(modulesPath) + " value " + quoted(moduleName));
            result.verbosity = level;
        }

        if (!listed.empty()) {
            for (const auto& [name, entry] : listed) {
                const Level outputLevel =
                    entry ? namedLevel(*entry, level, notes,
                                       "the level of output " + quoted(name) + " for " + quoted(moduleName))
                          : level;
                result.verbosity = std::max(result.verbosity, outputLevel);
                if (Output* output = getOutput(name)) {
                    result.outputs.emplace_back(output, outputLevel);
                }
            }
        } else {
            const std::vector<std::string> outputsPath = {loggerName, "Logger", "Outputs"};
            const SettingsKey outputs = readSettings(source, outputsPath, notes);
            for (const auto& entry : outputs.entries()) {
                if (Output* output = getOutput(entry.first)) {
                    result.outputs.emplace_back(output, level);
                }
            }
        }
    } catch (const SettingsError& error) {
        notes.push_back("settings of module " + quoted(moduleName) + ": " + error.what() +
                        "; the rest of them is not read");
    }
    return result;
}

} // namespace qv::sys::Logger
