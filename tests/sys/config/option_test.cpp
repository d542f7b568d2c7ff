#include "sys/config/option.h"
#include "sys/config/program_options.h"
#include "sys/config/registry_data_store.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry_test_support.h"
#include "sys/win32/impersonation.h"

namespace qv::sys::option {
namespace {

using test::LogCapture;

LogCapture& records(const std::string& module) {
    static std::map<std::string, LogCapture*> captures;
    LogCapture*& capture = captures[module];
    if (capture == nullptr) {
        capture = new LogCapture(module);
    }
    capture->take();
    return *capture;
}

// Answers read() from a map; the other operations are not needed here.
struct MapStore : DataStore {
    DataStore* child(const std::string&, bool) override { return nullptr; }
    void reload() override {}
    std::vector<std::string> valueNames() const override { return {}; }
    std::vector<std::string> childNames() const override { return {}; }
    StoreValue read(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? StoreValue() : found->second;
    }
    void write(const std::string& key, const std::string& text, Source source) override {
        values[key] = StoreValue{source, text};
    }
    void flush() override {}
    std::map<std::string, StoreValue> values;
};

template <typename OptionType>
void parseCase(OptionType option, std::vector<const char*> arguments, int expectedCount,
               decltype(option.value()) expected) {
    int count = static_cast<int>(arguments.size());
    option.parse(count, arguments.data());
    EXPECT_EQ(expectedCount, count);
    EXPECT_EQ(expected, option.value());
    EXPECT_EQ(kSourceArguments, option.source());
}

TEST(Option, ArgumentsAreParsed) {
    const Bool flag("flag", false, "");
    for (const char* yes : {"Yes", "y", "true", "T", "2"}) {
        SCOPED_TRACE(yes);
        parseCase(flag, {"-flag", yes}, 2, true);
    }
    for (const char* no : {"0", "no", "false", ""}) {
        SCOPED_TRACE(no);
        parseCase(Bool("flag", true, ""), {"-flag", no}, 2, false);
    }
    const Int number("n", 5, "", "count");
    parseCase(number, {"-n", "0x10"}, 2, 16);
    parseCase(number, {"-n", "010"}, 2, 8);
    parseCase(number, {"-n", "-7", "9"}, 2, -7);
    parseCase(number, {"-n", "4294967295"}, 2, -1);

    const String text("s", "default", "", "text");
    parseCase(text, {"-s", "\"a", "b", "c\"", "d"}, 4, std::string("a b c"));
    parseCase(text, {"-s", "\"a", "b"}, 3, std::string("a b"));
    parseCase(text, {"-s", "\"quoted\"", "next"}, 2, std::string("quoted"));
    parseCase(text, {"-s", "plain", "next"}, 2, std::string("plain"));

    // Without a value argument nothing is used and nothing changes.
    Int alone("n", 5, "", "count");
    const char* arguments[] = {"-n"};
    int count = 1;
    alone.parse(count, arguments);
    EXPECT_EQ(0, count);
    EXPECT_EQ(5, alone.value());
    EXPECT_EQ(kSourceDefault, alone.source());
}

TEST(Option, StoredTextsAreReadAsDecimalOrKeepTheDefaultWithARecord) {
    auto& log = records("Option");
    MapStore store;
    const auto loadInt = [&store](const std::string& text) {
        store.values["n"] = StoreValue{kSourceMachine, text};
        Int option("n", 3, "", "count");
        option.load(store);
        return std::make_pair(option.value(), option.source());
    };
    EXPECT_EQ(std::make_pair(0, kSourceMachine), loadInt("0x10"));
    EXPECT_EQ(std::make_pair(10, kSourceMachine), loadInt("010"));
    EXPECT_EQ(std::make_pair(42, kSourceMachine), loadInt(" 42abc"));
    EXPECT_EQ(std::make_pair(-2147483647 - 1, kSourceMachine), loadInt("-2147483648"));
    EXPECT_TRUE(log.take().empty());
    for (const char* bad : {"", "abc", "2147483648", "-99999999999999999999999"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(std::make_pair(3, kSourceDefault), loadInt(bad));
        const auto written = log.take();
        ASSERT_EQ(1u, written.size());
        EXPECT_EQ(Logger::kWarn, written[0].first);
        EXPECT_NE(std::string::npos, written[0].second.find("\"n\" in machine settings"));
    }

    const auto loadBool = [&store](const std::string& text, bool fallback) {
        store.values["b"] = StoreValue{kSourceUser, text};
        Bool option("b", fallback, "");
        option.load(store);
        return option.value();
    };
    EXPECT_TRUE(loadBool("yes", false));
    EXPECT_TRUE(loadBool("true", false));
    EXPECT_TRUE(loadBool("2", false));
    EXPECT_TRUE(loadBool("99999999999", false));
    EXPECT_FALSE(loadBool("0", true));
    EXPECT_FALSE(loadBool("no", true));
    EXPECT_TRUE(log.take().empty());
    EXPECT_TRUE(loadBool("", true));
    EXPECT_EQ(1u, log.take().size());

    String path("p", "C:\\dumps\\", "", "directory");
    store.values["p"] = StoreValue{kSourceUser, ""};
    path.load(store);
    EXPECT_EQ("C:\\dumps\\", path.value());
    EXPECT_EQ(kSourceDefault, path.source());
    EXPECT_EQ(1u, log.take().size());
    store.values["p"] = StoreValue{kSourceUser, " D:\\x "};
    path.load(store);
    EXPECT_EQ(" D:\\x ", path.value());
    EXPECT_EQ(kSourceUser, path.source());

    // A missing key is no problem: the default stays, silently.
    Int missing("missing", 9, "", "count");
    missing.load(store);
    EXPECT_EQ(9, missing.value());
    EXPECT_EQ(kSourceDefault, missing.source());
    EXPECT_TRUE(log.take().empty());
}

// Counts how often the user's hive is reached.
struct CountingUserHive : PersistUserHive {
    std::unique_ptr<win32::UserImpersonator> impersonate() override {
        ++impersonations;
        return real->impersonate();
    }
    long open(std::uint32_t access, void*& key) override { return real->open(access, key); }
    std::shared_ptr<PersistUserHive> real = loggedOnUserHive();
    int impersonations = 0;
};

class RegistryDataStoreTest : public test::RegistryTestKeys {};

TEST_F(RegistryDataStoreTest, UserValuesWinOnlyWhenTheUserHiveIsIncluded) {
    HKEY machine = createKey(HKEY_LOCAL_MACHINE);
    HKEY user = createKey(HKEY_CURRENT_USER);
    setString(machine, "both", "machine");
    setString(user, "both", "user");
    setString(user, "user only", "user");
    setString(machine, "machine only", "machine");

    auto hive = std::make_shared<CountingUserHive>();
    const RegistryDataStore withUser(name(), true, false, hive);
    EXPECT_EQ(3u, withUser.read("both").source);
    EXPECT_EQ("user", withUser.read("both").text);
    EXPECT_EQ(3u, withUser.read("user only").source);
    EXPECT_EQ("machine", withUser.read("machine only").text);
    EXPECT_EQ(0u, withUser.read("absent").source);
    EXPECT_EQ((std::vector<std::string>{"both", "user only", "machine only"}), withUser.valueNames());
    EXPECT_EQ(1, hive->impersonations);

    const RegistryDataStore machineOnly(name(), false, false, hive);
    EXPECT_EQ(1, hive->impersonations); // never reached
    EXPECT_EQ("machine", machineOnly.read("both").text);
    EXPECT_EQ(2u, machineOnly.read("both").source);
    EXPECT_EQ(0u, machineOnly.read("user only").source);

    // Snapshots: a change shows only after reload.
    RegistryDataStore store(name(), false, false);
    setString(machine, "both", "changed");
    EXPECT_EQ("machine", store.read("both").text);
    store.reload();
    EXPECT_EQ("changed", store.read("both").text);
}

TEST_F(RegistryDataStoreTest, HostileValuesGiveTheDefaultAndARecord) {
    auto& storeLog = records("RegistryDataStore");
    auto& optionLog = records("Option");
    HKEY machine = createKey(HKEY_LOCAL_MACHINE);
    HKEY user = createKey(HKEY_CURRENT_USER);
    setDword(machine, "dword", 5);
    setRaw(machine, "binary", REG_BINARY, "\x05\x00\x00\x00");
    setNative(machine, L"unterminated", REG_SZ, std::string("7\0", 2));
    setRaw(machine, "expand", REG_EXPAND_SZ, std::string("%TEMP%", 7));
    setString(machine, "huge", "99999999999");
    setString(machine, "empty", "");
    // A broken user value falls back to the machine's.
    setDword(user, "fallback", 1);
    setString(machine, "fallback", "12");

    RegistryDataStore store(name(), true, false);
    for (const char* key : {"dword", "binary", "unterminated", "expand"}) {
        SCOPED_TRACE(key);
        Int option(key, 3, "", "bits");
        option.load(store);
        EXPECT_EQ(3, option.value());
        EXPECT_EQ(kSourceDefault, option.source());
        const auto written = storeLog.take();
        ASSERT_EQ(1u, written.size());
        EXPECT_NE(std::string::npos, written[0].second.find("\\" + name() + " value \"" + key + "\""));
    }
    for (const char* key : {"huge", "empty"}) {
        SCOPED_TRACE(key);
        Int option(key, 3, "", "bits");
        option.load(store);
        EXPECT_EQ(3, option.value());
        EXPECT_EQ(1u, optionLog.take().size());
    }
    Int fallback("fallback", 3, "", "bits");
    fallback.load(store);
    EXPECT_EQ(12, fallback.value());
    EXPECT_EQ(kSourceMachine, fallback.source());
    EXPECT_NE(std::string::npos, storeLog.take().at(0).second.find("HKEY_CURRENT_USER"));

    // Asked for, DWORDs count as their decimal text.
    Int dword("dword", 3, "", "bits");
    RegistryDataStore withDwords(name(), false, true);
    dword.load(withDwords);
    EXPECT_EQ(5, dword.value());
    EXPECT_TRUE(storeLog.take().empty());
}

TEST_F(RegistryDataStoreTest, ChildrenAndWrittenValuesReachTheRegistry) {
    setString(createKey(HKEY_LOCAL_MACHINE, "existing"), "inner", "value");
    RegistryDataStore store(name(), true, false);
    EXPECT_EQ((std::vector<std::string>{"existing"}), store.childNames());
    DataStore* existing = store.child("existing", false);
    ASSERT_NE(nullptr, existing);
    EXPECT_EQ(existing, store.child("existing", false));
    EXPECT_EQ("value", existing->read("inner").text);
    EXPECT_EQ(nullptr, store.child("new", false));

    DataStore* created = store.child("new", true);
    ASSERT_NE(nullptr, created);
    Int saved("count", 41, "", "n");
    saved.save(*created); // a default goes to the machine hive
    Bool mine("mine", true, "");
    mine.save(*created);
    created->write("mine", "yes", kSourceUser);
    EXPECT_EQ(3u, created->read("mine").source);
    store.flush();

    RegistryDataStore again(name(), true, false);
    DataStore* reread = again.child("new", false);
    ASSERT_NE(nullptr, reread);
    Int loaded("count", 0, "", "n");
    loaded.load(*reread);
    EXPECT_EQ(41, loaded.value());
    EXPECT_EQ(kSourceMachine, loaded.source());
    EXPECT_EQ("yes", reread->read("mine").text);
    EXPECT_EQ(3u, reread->read("mine").source);
}

// The program's own keys are shared with whatever else runs in the prefix:
// put back what was there.
class SavedValue {
public:
    SavedValue(HKEY hive, const char* path, const char* value) : value_(value) {
        RegCreateKeyExA(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        DWORD size = 0;
        if (RegQueryValueExA(key_, value, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.emplace(size, '\0');
            RegQueryValueExA(key_, value, nullptr, &type_, reinterpret_cast<BYTE*>(data_->data()), &size);
        }
    }
    ~SavedValue() {
        if (data_) {
            RegSetValueExA(key_, value_, 0, type_, reinterpret_cast<const BYTE*>(data_->data()),
                           static_cast<DWORD>(data_->size()));
        } else {
            RegDeleteValueA(key_, value_);
        }
        RegCloseKey(key_);
    }
    void set(const std::string& text) {
        RegSetValueExA(key_, value_, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
    void setDword(DWORD number) {
        RegSetValueExA(key_, value_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    void remove() { RegDeleteValueA(key_, value_); }

private:
    const char* value_;
    HKEY key_ = nullptr;
    DWORD type_ = REG_NONE;
    std::optional<std::string> data_;
};

TEST(ProgramOptions, ReadTheirKeysAfreshEveryTime) {
    SavedValue machineLocation(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\Core", "DebugLocation");
    SavedValue userLocation(HKEY_CURRENT_USER, "Software\\Quorvane\\Core", "DebugLocation");
    SavedValue unique(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\Core", "EnableUniqueDmpFiles");
    SavedValue assertMachine(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\QuorvaneManager", "AssertBehaviour");
    SavedValue assertUser(HKEY_CURRENT_USER, "Software\\Quorvane\\QuorvaneManager", "AssertBehaviour");

    machineLocation.remove();
    userLocation.remove();
    unique.remove();
    assertMachine.remove();
    EXPECT_EQ("", debugLocationSetting());
    EXPECT_FALSE(uniqueDumpFilesSetting());
    EXPECT_EQ(3, assertBehaviourSetting());

    machineLocation.set("C:\\machine\\");
    unique.set("1");
    assertMachine.set("5");
    assertUser.set("8"); // only the machine hive counts for this one
    EXPECT_EQ("C:\\machine\\", debugLocationSetting());
    EXPECT_TRUE(uniqueDumpFilesSetting());
    EXPECT_EQ(5, assertBehaviourSetting());

    userLocation.set("C:\\user\\");
    assertMachine.setDword(0); // not a string: the default, not 0
    EXPECT_EQ("C:\\user\\", debugLocationSetting());
    EXPECT_EQ(3, assertBehaviourSetting());
}

} // namespace
} // namespace qv::sys::option
