#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/logger_settings.h"
#include "sys/logger/settings_data.h"

namespace qv::sys::Logger {
namespace {

using Levels = std::vector<std::pair<std::string, Level>>;

// Stand-ins for the outputs that have settings, known by name.
struct Outputs {
    OutputLookup lookup(SettingsSource& source) {
        return [this, &source](const std::string& name) -> Output* {
            SettingsNotes ignored;
            if (!readOutputSettings(source, "App", name, "", ignored)) {
                return nullptr;
            }
            return &byName.try_emplace(name, std::vector<Output*>()).first->second;
        };
    }
    Levels names(const OutputList& list) const {
        Levels result;
        for (const auto& [output, level] : list) {
            for (const auto& [name, known] : byName) {
                if (&known == output) {
                    result.emplace_back(name, level);
                }
            }
        }
        return result;
    }
    std::map<std::string, MultiOutput> byName;
};

TEST(LoggerSettings, LoggerKeyFromTheUserHiveWholeElseFromTheMachine) {
    SettingsData data;
    SettingsNotes notes;
    CoreSettings core = readCoreSettings(data, kVerbose, notes);
    EXPECT_EQ(core.configuredVerbosity, kVerbose);
    EXPECT_EQ(core.maxFileSize, 0x100000u);

    SettingsKey& machine = data.key("Logger", Hive::Machine);
    machine.putValue("verbosity", "debug");
    machine.putValue("verbosity threshold", "ERROR"); // only when "verbosity" is absent
    machine.putValue("filesize", "200000000");
    machine.putValue("directory", "D:\\logs");
    core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.configuredVerbosity, kDebug);
    EXPECT_EQ(core.maxFileSize, 104857600u);
    EXPECT_EQ(core.directory, "D:\\logs\\");

    // A value the reading could not take is told of, and hides nothing.
    notes.clear();
    SettingsKey& user = data.key("Logger");
    user.addIssue("HKEY_CURRENT_USER\\Software\\Quorvane\\Logger value \"filesize\" is not a string");
    EXPECT_EQ(readCoreSettings(data, kInfo, notes).directory, "D:\\logs\\");
    ASSERT_EQ(notes.size(), 2u); // and "filesize" of the machine is cut
    EXPECT_EQ(notes[0], user.issues()[0]);

    user.putValue("directory", "E:\\mine\\");
    user.putValue("filesize", " 2000000 bytes");
    core = readCoreSettings(data, kWarn, notes);
    EXPECT_EQ(core.configuredVerbosity, kWarn); // the machine's "verbosity" is not read
    EXPECT_EQ(core.maxFileSize, 2000000u);
    EXPECT_EQ(core.directory, "E:\\mine\\");

    notes.clear();
    user.putValue("verbosity", "5");
    user.putValue("filesize", "500000");
    core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.configuredVerbosity, kInfo);
    EXPECT_EQ(core.maxFileSize, 0x100000u);
    ASSERT_EQ(notes.size(), 3u); // each value not taken is told
    EXPECT_NE(notes[1].find("\"5\" is not a level name"), std::string::npos) << notes[1];
    EXPECT_NE(notes[2].find("\"500000\" is below"), std::string::npos) << notes[2];
}

// A service reading the console user's hive: no path from there, levels and the rest still.
TEST(LoggerSettings, AnotherAccountsHiveChoosesNoPath) {
    SettingsData data;
    SettingsNotes notes;
    data.key("Logger", Hive::Machine).putValue("directory", "D:\\logs");
    data.key("App\\Logger\\Outputs\\trace", Hive::Machine).putValue("filename", "trace.log");
    for (const char* path : {"Logger", "App\\Logger\\Outputs\\trace", "App\\Logger\\Outputs\\stderr"}) {
        SettingsKey& key = data.key(path);
        key.putValue(path == std::string("Logger") ? "directory" : "filename", "stderr");
        key.putValue(path == std::string("Logger") ? "verbosity" : "max size", "DEBUG");
        key.setFromAnotherAccount(true);
    }
    const CoreSettings core = readCoreSettings(data, kInfo, notes);
    EXPECT_EQ(core.directory, "D:\\logs\\");
    EXPECT_EQ(core.configuredVerbosity, kDebug);
    const auto trace = readOutputSettings(data, "App", "trace", core.directory, notes);
    EXPECT_EQ(trace.value_or(OutputSettings()).filename, "D:\\logs\\trace.log");
    EXPECT_EQ(trace.value_or(OutputSettings()).maxSize, 0u); // "DEBUG" reads as 0: the user's value
    ASSERT_EQ(notes.size(), 2u);                             // one for each value left out
    EXPECT_NE(notes[0].find("Logger value \"directory\""), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("trace value \"filename\""), std::string::npos) << notes[1];
    // The name of a stream chooses the stream, whatever "filename" says.
    EXPECT_EQ(readOutputSettings(data, "App", "stderr", "", notes).value_or(OutputSettings()).kind,
              OutputKind::StandardError);
}

TEST(LoggerSettings, OutputsByNameAndByFilename) {
    SettingsData data;
    SettingsNotes notes;
    auto read = [&](const std::string& name, const std::string& directory = "D:\\logs\\") {
        return readOutputSettings(data, "App", name, directory, notes);
    };
    EXPECT_FALSE(read("stderr")); // no key, no filename: absent whatever the name says
    ASSERT_EQ(notes.size(), 1u);

    data.key("App\\Logger\\Outputs\\stderr").putValue("filename", "ignored.log");
    data.key("App\\Logger\\Outputs\\console").putValue("filename", "stdout");
    data.key("App\\Logger\\Outputs\\dbg").putValue("filename", "debug");
    data.key("App\\Logger\\Outputs\\dbg").putValue("line type", "1");
    EXPECT_EQ(read("stderr")->kind, OutputKind::StandardError);
    EXPECT_EQ(read("console")->filename, "D:\\logs\\stdout"); // a file in the log directory
    EXPECT_EQ(read("console", "")->kind, OutputKind::StandardOutput);
    EXPECT_EQ(read("dbg", "")->kind, OutputKind::Debugger);
    EXPECT_EQ(read("dbg", "")->lineType, 1);

    SettingsKey& trace = data.key("App\\Logger\\Outputs\\trace");
    trace.putValue("filename", "C:/traces/trace.log");
    trace.putValue("decorated filename", "yes");
    trace.putValue("maxFileCount", "256");
    trace.putValue("line type", "7");
    auto settings = read("trace");
    EXPECT_EQ(settings->filename, "C:/traces/trace.log");
    EXPECT_EQ(settings->mode, FileMode::Decorate);
    EXPECT_EQ(settings->maxFileCount, 255); // not 0, which would keep every file
    EXPECT_EQ(settings->maxSize, 0x10000u);
    EXPECT_EQ(settings->lineType, 1);

    trace.putValue("Mode", "aPPend");
    EXPECT_EQ(read("trace")->mode, FileMode::Append);
    trace.putValue("Mode", "rotate");
    trace.putValue("maxFileCount", "3");
    EXPECT_EQ(read("trace")->mode, FileMode::Decorate);
    EXPECT_NE(notes.back().find("\"rotate\" is not New, Decorate or Append"), std::string::npos);
}

TEST(LoggerSettings, ModuleLevelsAndOutputsInTheirOrder) {
    SettingsData data;
    Outputs outputs;
    SettingsNotes notes;
    auto configure = [&](const std::string& module) {
        return configureModule(data, "App", module, kInfo, outputs.lookup(data), notes);
    };
    ModuleConfiguration module = configure("Reader");
    EXPECT_EQ(module.verbosity, kInfo);
    EXPECT_TRUE(module.outputs.empty());

    data.key("App\\Logger\\Outputs\\zfile").putValue("filename", "z.log");
    data.key("App\\Logger\\Outputs\\afile").putValue("filename", "a.log");
    data.key("App\\Logger\\Outputs\\nofile");
    data.key("App\\Logger\\Modules").putValue("verbosity", "WARN");
    // Without a module list, every output of the logger at the module level, in name order.
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kWarn);
    EXPECT_EQ(outputs.names(module.outputs), (Levels{{"afile", kWarn}, {"zfile", kWarn}}));

    // A section's own entries are the list; its verbosity names are not outputs.
    SettingsKey& fallback = data.key("App\\Logger\\Modules\\default");
    fallback.putValue("verbosity threshold", "ERROR");
    fallback.putValue("zfile", "VERBOSE");
    fallback.putValue("afile", "");
    data.key("App\\Logger\\Modules\\default\\nofile");
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kVerbose); // raised by an output's level
    EXPECT_EQ(outputs.names(module.outputs), (Levels{{"afile", kError}, {"zfile", kVerbose}}));

    // The module's own section, with an "Outputs" subkey.
    data.key("App\\Logger\\Modules\\Reader").putValue("verbosity", "DEBUG");
    data.key("App\\Logger\\Modules\\Reader").putValue("afile", "ALWAYS"); // not the list: "Outputs" is
    data.key("App\\Logger\\Modules\\Reader\\Outputs").putValue("zfile", "fatal");
    module = configure("Reader");
    EXPECT_EQ(module.verbosity, kDebug);
    EXPECT_EQ(outputs.names(module.outputs), (Levels{{"zfile", kFatal}}));

    // A module's value in Modules wins over the section's verbosity.
    data.key("App\\Logger\\Modules").putValue("Writer", "INFO");
    module = configure("Writer");
    EXPECT_EQ(module.verbosity, kVerbose);
    EXPECT_EQ(outputs.names(module.outputs), (Levels{{"afile", kInfo}, {"zfile", kVerbose}}));

    // A key where a value is read ends the reading; what was gathered stays.
    data.key("App\\Logger\\Modules\\Broken\\Outputs").putValue("afile", "DEBUG");
    data.key("App\\Logger\\Modules\\Broken\\Outputs").putValue("zfile", "DEBUG");
    data.key("App\\Logger\\Outputs\\zfile\\filename");
    notes.clear();
    module = configure("Broken");
    EXPECT_EQ(module.verbosity, kDebug);
    EXPECT_EQ(outputs.names(module.outputs), (Levels{{"afile", kDebug}}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"filename\" is a key"), std::string::npos) << notes[0];
}

} // namespace
} // namespace qv::sys::Logger
