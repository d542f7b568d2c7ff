#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/logger_settings.h"

namespace qv::sys::Logger {
namespace {

// Settings as data: keys by hive and path below Software\Quorvane.
class SettingsData : public SettingsSource {
public:
    SettingsKey read(const std::vector<std::string>& path, Hive hive) override {
        const auto found = keys_.find({hive, path});
        return found == keys_.end() ? SettingsKey() : found->second;
    }
    SettingsKey& key(const std::vector<std::string>& path, Hive hive = Hive::User) {
        // A subkey shows in its parent, as the registry lists it.
        for (std::size_t length = 1; length < path.size(); ++length) {
            keys_[{hive, {path.begin(), path.begin() + static_cast<std::ptrdiff_t>(length)}}].putSubkey(
                path[length]);
        }
        return keys_[{hive, path}];
    }

private:
    std::map<std::pair<Hive, std::vector<std::string>>, SettingsKey> keys_;
};

const std::vector<std::string> kModules = {"App", "Logger", "Modules"};
const std::vector<std::string> kOutputs = {"App", "Logger", "Outputs"};

std::vector<std::string> with(std::vector<std::string> path, const std::string& name) {
    path.push_back(name);
    return path;
}

// Outputs are stand-ins known by name; the lookup records what was asked for.
struct Outputs {
    struct Named : Output {
        explicit Named(std::string n) : name(std::move(n)) {}
        void output(std::uint32_t, Level, const char*, std::int32_t, const std::string&, const std::string&,
                    std::uint32_t, const std::string&, const std::string&) override {}
        std::string name;
    };
    OutputLookup lookup(SettingsSource& source) {
        return [this, &source](const std::string& name) -> Output* {
            asked.push_back(name);
            SettingsNotes ignored;
            if (!readOutputSettings(source, "App", name, "D:\\logs\\", ignored)) {
                return nullptr;
            }
            made.push_back(std::make_unique<Named>(name));
            return made.back().get();
        };
    }
    std::vector<std::unique_ptr<Named>> made;
    std::vector<std::string> asked;
};

std::vector<std::pair<std::string, Level>> names(const OutputList& list) {
    std::vector<std::pair<std::string, Level>> result;
    for (const auto& [output, level] : list) {
        result.emplace_back(static_cast<Outputs::Named*>(output)->name, level);
    }
    return result;
}

TEST(LoggerSettings, LoggerKeyFromTheUserHiveWholeElseFromTheMachine) {
    SettingsData data;
    SettingsNotes notes;
    CoreSettings core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.configuredVerbosity, kInfo);
    EXPECT_EQ(core.maxFileSize, 0x100000u);
    EXPECT_EQ(core.directory, "");

    SettingsKey& machine = data.key({"Logger"}, Hive::Machine);
    machine.putValue("verbosity", "debug");
    machine.putValue("verbosity threshold", "ERROR");
    machine.putValue("filesize", "200000000");
    machine.putValue("directory", "D:\\logs");
    core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.configuredVerbosity, kDebug);
    EXPECT_EQ(core.maxFileSize, 104857600u);
    EXPECT_EQ(core.directory, "D:\\logs\\");

    // A value the reading could not take is told of, and hides nothing.
    notes.clear();
    SettingsKey& user = data.key({"Logger"});
    user.addIssue("HKEY_CURRENT_USER\\Software\\Quorvane\\Logger value \"filesize\" is not a string");
    EXPECT_EQ(readCoreSettings(data, kInfo, notes).directory, "D:\\logs\\");
    ASSERT_EQ(notes.size(), 2u); // and "filesize" of the machine is cut
    EXPECT_EQ(notes[0], user.issues()[0]);
    notes.clear();

    user.putValue("directory", "E:\\mine\\");
    user.putValue("filesize", " 2000000 bytes");
    core = readCoreSettings(data, kWarn, notes);
    EXPECT_EQ(core.configuredVerbosity, kWarn); // the machine's "verbosity" is not read
    EXPECT_EQ(core.maxFileSize, 2000000u);
    EXPECT_EQ(core.directory, "E:\\mine\\");

    EXPECT_EQ(notes.size(), 1u); // the issue once more
    notes.clear();
    user.putValue("verbosity", "5");
    user.putValue("verbosity threshold", "ERROR"); // only when "verbosity" is absent
    user.putValue("filesize", "500000");
    core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.configuredVerbosity, kInfo);
    EXPECT_EQ(core.maxFileSize, 0x100000u);
    ASSERT_EQ(notes.size(), 3u); // each value not taken is told
    EXPECT_NE(notes[1].find("\"5\" is not a level name"), std::string::npos) << notes[1];
    EXPECT_NE(notes[2].find("\"500000\" is below"), std::string::npos) << notes[2];

    EXPECT_EQ(settingsNumber("  -12abc"), -12);
    EXPECT_EQ(settingsNumber("abc"), 0);
    EXPECT_EQ(settingsNumber("99999999999999999999999"), INT64_MAX);
}

TEST(LoggerSettings, OutputsByNameAndByFilename) {
    SettingsData data;
    SettingsNotes notes;
    auto read = [&](const std::string& name, const std::string& directory = "D:\\logs\\") {
        return readOutputSettings(data, "App", name, directory, notes);
    };
    EXPECT_FALSE(read("stderr")); // no key, no filename: absent whatever the name says
    ASSERT_EQ(notes.size(), 1u);

    data.key(with(kOutputs, "stderr")).putValue("filename", "ignored.log");
    data.key(with(kOutputs, "console")).putValue("filename", "stdout");
    data.key(with(kOutputs, "dbg")).putValue("filename", "debug");
    data.key(with(kOutputs, "dbg")).putValue("line type", "1");
    EXPECT_EQ(read("stderr")->kind, OutputKind::StandardError);
    EXPECT_EQ(read("console")->kind, OutputKind::File); // "D:\logs\stdout" is a file
    EXPECT_EQ(read("console")->filename, "D:\\logs\\stdout");
    EXPECT_EQ(read("console", "")->kind, OutputKind::StandardOutput);
    EXPECT_EQ(read("dbg", "")->kind, OutputKind::Debugger);
    EXPECT_EQ(read("dbg", "")->lineType, 1);

    SettingsKey& trace = data.key(with(kOutputs, "trace"));
    trace.putValue("filename", "C:/traces/trace.log");
    trace.putValue("decorated filename", "yes");
    trace.putValue("maxFileCount", "256");
    trace.putValue("max size", "0");
    trace.putValue("line type", "7");
    auto settings = read("trace");
    EXPECT_EQ(settings->kind, OutputKind::File);
    EXPECT_EQ(settings->filename, "C:/traces/trace.log");
    EXPECT_EQ(settings->mode, FileMode::Decorate);
    EXPECT_EQ(settings->maxFileCount, 255); // not 0, which would keep every file
    EXPECT_EQ(settings->maxSize, 0u);
    EXPECT_EQ(settings->lineType, 1);

    trace.putValue("Mode", "aPPend");
    EXPECT_EQ(read("trace")->mode, FileMode::Append);
    trace.putValue("Mode", "rotate");
    trace.putValue("decorated filename", "no");
    trace.putValue("maxFileCount", "3");
    notes.clear();
    settings = read("trace");
    EXPECT_EQ(settings->mode, FileMode::New);
    EXPECT_EQ(settings->maxFileCount, 3);
    EXPECT_EQ(settings->maxSize, 0u);
    EXPECT_EQ(notes.size(), 1u);
}

TEST(LoggerSettings, ModuleLevelsAndOutputsInTheirOrder) {
    SettingsData data;
    Outputs outputs;
    SettingsNotes notes;
    auto configure = [&](const std::string& module) {
        return configureModule(data, "App", module, kInfo, outputs.lookup(data), notes);
    };
    // Nothing configured: the start-up level and no outputs of the settings.
    ModuleConfiguration module = configure("Reader");
    EXPECT_EQ(module.verbosity, kInfo);
    EXPECT_TRUE(module.outputs.empty());

    for (const char* name : {"zfile", "afile", "nofile"}) {
        data.key(with(kOutputs, name))
            .putValue(std::string("filename") + (name[0] == 'n' ? "x" : ""), "f.log");
    }
    data.key(kModules).putValue("verbosity", "WARN");
    // Without a module list, every output of the logger at the module level, in name order.
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kWarn);
    EXPECT_EQ(names(module.outputs),
              (std::vector<std::pair<std::string, Level>>{{"afile", kWarn}, {"zfile", kWarn}}));

    // A section's own entries are the list; its verbosity names are not outputs.
    SettingsKey& fallback = data.key(with(kModules, "default"));
    fallback.putValue("verbosity threshold", "ERROR");
    fallback.putValue("zfile", "VERBOSE");
    fallback.putValue("afile", "");
    data.key(with(with(kModules, "default"), "nofile"));
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kVerbose); // raised by an output's level
    EXPECT_EQ(names(module.outputs),
              (std::vector<std::pair<std::string, Level>>{{"afile", kError}, {"zfile", kVerbose}}));

    // The module's own section, with an "Outputs" subkey.
    data.key(with(kModules, "Reader")).putValue("verbosity", "DEBUG");
    data.key(with(kModules, "Reader")).putValue("afile", "ALWAYS"); // not the list: "Outputs" is
    data.key(with(with(kModules, "Reader"), "Outputs")).putValue("zfile", "fatal");
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kDebug);
    EXPECT_EQ(names(module.outputs), (std::vector<std::pair<std::string, Level>>{{"zfile", kFatal}}));

    // A module's value in Modules wins over the section's verbosity.
    data.key(kModules).putValue("Writer", "INFO");
    module = configure("Writer");
    EXPECT_EQ(module.verbosity, kVerbose);
    EXPECT_EQ(names(module.outputs),
              (std::vector<std::pair<std::string, Level>>{{"afile", kInfo}, {"zfile", kVerbose}}));

    // A key where a value is read ends the reading; what was gathered stays.
    data.key(with(with(kModules, "Broken"), "Outputs")).putValue("afile", "DEBUG");
    data.key(with(with(kModules, "Broken"), "Outputs")).putValue("zfile", "DEBUG");
    data.key(with(with(kOutputs, "zfile"), "filename"));
    data.key(with(kOutputs, "zfile")).putValue("filename", "hidden by the key");
    notes.clear();
    module = configure("Broken");
    EXPECT_EQ(module.verbosity, kDebug);
    EXPECT_EQ(names(module.outputs), (std::vector<std::pair<std::string, Level>>{{"afile", kDebug}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"filename\" is a key"), std::string::npos) << notes[0];
}

} // namespace
} // namespace qv::sys::Logger
