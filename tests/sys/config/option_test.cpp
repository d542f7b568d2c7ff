#include "sys/config/option.h"
#include "sys/config/program_options.h"
#include "sys/config/registry_data_store.h"

#include <map>
#include <string>
#include <vector>

#include "registry_test_support.h"
#include "sys/logger/log_capture.h"
#include "sys/win32/impersonation.h"

namespace qv::sys::option {
namespace {

using test::LogCapture;

template <typename OptionType>
void parseCase(OptionType option, std::vector<const char*> arguments, int used,
               decltype(option.value()) expected) {
    int count = static_cast<int>(arguments.size());
    option.parse(count, arguments.data());
    EXPECT_EQ(used, count);
    EXPECT_EQ(expected, option.value());
    EXPECT_EQ(used == 0 ? kSourceDefault : kSourceArguments, option.source());
}

TEST(Option, ArgumentsAreParsed) {
    for (const char* yes : {"Yes", "y", "true", "T", "2"}) {
        parseCase(Bool("flag", false, ""), {"-flag", yes}, 2, true);
    }
    for (const char* no : {"0", "no", "false", ""}) {
        parseCase(Bool("flag", true, ""), {"-flag", no}, 2, false);
    }
    const Int number("n", 5, "", "count");
    parseCase(number, {"-n", "0x10"}, 2, 16);
    parseCase(number, {"-n", "010"}, 2, 8);
    parseCase(number, {"-n", "-7", "9"}, 2, -7);
    parseCase(number, {"-n", "4294967295"}, 2, -1);
    parseCase(number, {"-n"}, 0, 5); // no value: nothing used, nothing changed

    const String text("s", "default", "", "text");
    parseCase(text, {"-s", "\"a", "b", "c\"", "d"}, 4, std::string("a b c"));
    parseCase(text, {"-s", "\"a", "b"}, 3, std::string("a b"));
    parseCase(text, {"-s", "\"quoted\"", "next"}, 2, std::string("quoted"));
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
    const HKEY machine = HKEY_LOCAL_MACHINE;
    const HKEY user = HKEY_CURRENT_USER;
    setString(machine, "both", "machine");
    setString(user, "both", "user");
    setString(user, "user only", "user");

    auto hive = std::make_shared<CountingUserHive>();
    const RegistryDataStore withUser(name(), true, false, hive);
    EXPECT_EQ(3u, withUser.read("both").source);
    EXPECT_EQ("user", withUser.read("both").text);
    EXPECT_EQ(0u, withUser.read("absent").source);
    EXPECT_EQ((std::vector<std::string>{"both", "user only"}), withUser.valueNames());
    EXPECT_EQ(1, hive->impersonations);

    RegistryDataStore machineOnly(name(), false, false, hive);
    EXPECT_EQ(1, hive->impersonations); // never reached
    EXPECT_EQ(2u, machineOnly.read("both").source);
    EXPECT_EQ(0u, machineOnly.read("user only").source);

    // A snapshot: a change shows only after reload.
    setString(machine, "both", "changed");
    EXPECT_EQ("machine", machineOnly.read("both").text);
    machineOnly.reload();
    EXPECT_EQ("changed", machineOnly.read("both").text);
}

// Loads the option and checks its value, its source and who recorded a problem ("" for nobody).
template <typename OptionType>
void loadCase(DataStore& store, OptionType option, decltype(option.value()) expected, Source source,
              const std::string& recordedBy) {
    SCOPED_TRACE(option.name());
    LogCapture& optionLog = LogCapture::of("Option");
    LogCapture& storeLog = LogCapture::of("RegistryDataStore");
    option.load(store);
    EXPECT_EQ(expected, option.value());
    EXPECT_EQ(source, option.source());
    auto records = optionLog.take();
    const auto storeRecords = storeLog.take();
    EXPECT_EQ(recordedBy == "Option" ? 1u : 0u, records.size());
    EXPECT_EQ(recordedBy == "RegistryDataStore" ? 1u : 0u, storeRecords.size());
    records.insert(records.end(), storeRecords.begin(), storeRecords.end());
    for (const auto& record : records) {
        EXPECT_EQ(Logger::kWarn, record.level);
        EXPECT_NE(std::string::npos, record.text.find('"' + option.name() + '"')) << record.text;
    }
}

TEST_F(RegistryDataStoreTest, StoredTextsAreDecimalAndUnusableValuesKeepTheDefaultWithARecord) {
    const std::pair<const char*, const char*> texts[] = {
        {"hex", "0x10"}, {"octal", "010"},  {"trailing", " 42abc"}, {"lowest", "-2147483648"},
        {"empty", ""},   {"word", "abc"},   {"high", "2147483648"}, {"low", "-99999999999999999999"},
        {"yes", "yes"},  {"true", "true"},  {"two", "2"},           {"zero", "0"},
        {"no", "no"},    {"fallback", "12"}};
    for (const auto& [value, text] : texts) {
        setString(HKEY_LOCAL_MACHINE, value, text);
    }
    setDword(HKEY_CURRENT_USER, "fallback", 1); // a broken user value gives way to the machine's
    setDword(HKEY_LOCAL_MACHINE, "dword", 5);
    setRaw(HKEY_LOCAL_MACHINE, "binary", REG_BINARY, "\x05\x00\x00\x00");
    setNative(HKEY_LOCAL_MACHINE, L"unterminated", REG_SZ, std::string("7\0", 2));
    setRaw(HKEY_LOCAL_MACHINE, "expand", REG_EXPAND_SZ, std::string("%TEMP%", 7));

    RegistryDataStore store(name(), true, false);
    loadCase(store, Int("hex", 3, "", ""), 0, kSourceMachine, "");
    loadCase(store, Int("octal", 3, "", ""), 10, kSourceMachine, "");
    loadCase(store, Int("trailing", 3, "", ""), 42, kSourceMachine, "");
    loadCase(store, Int("lowest", 3, "", ""), -2147483647 - 1, kSourceMachine, "");
    for (const char* bad : {"empty", "word", "high", "low"}) {
        loadCase(store, Int(bad, 3, "", ""), 3, kSourceDefault, "Option");
    }
    for (const char* bad : {"dword", "binary", "unterminated", "expand"}) {
        loadCase(store, Int(bad, 3, "", ""), 3, kSourceDefault, "RegistryDataStore");
    }
    loadCase(store, Int("fallback", 3, "", ""), 12, kSourceMachine, "RegistryDataStore");
    for (const char* yes : {"yes", "true", "two"}) {
        loadCase(store, Bool(yes, false, ""), true, kSourceMachine, "");
    }
    loadCase(store, Bool("zero", true, ""), false, kSourceMachine, "");
    loadCase(store, Bool("no", true, ""), false, kSourceMachine, "");
    loadCase(store, Bool("empty", true, ""), true, kSourceDefault, "Option");
    loadCase(store, String("empty", "C:\\dumps", "", ""), "C:\\dumps", kSourceDefault, "Option");
    loadCase(store, Int("missing", 3, "", ""), 3, kSourceDefault, "");
    {
        const QuietLoading quiet;
        loadCase(store, Int("empty", 3, "", ""), 3, kSourceDefault, "");
    }
    loadCase(store, Int("empty", 3, "", ""), 3, kSourceDefault, "Option");

    RegistryDataStore withDwords(name(), false, true); // DWORDs then count as their decimal text
    loadCase(withDwords, Int("dword", 3, "", ""), 5, kSourceMachine, "");
}

TEST_F(RegistryDataStoreTest, ChildrenAndSavedValuesReachTheRegistry) {
    setString(HKEY_LOCAL_MACHINE, "inner", "value", "existing");
    RegistryDataStore store(name(), true, false);
    EXPECT_EQ((std::vector<std::string>{"existing"}), store.childNames());
    EXPECT_EQ("value", store.child("existing", false)->read("inner").text);
    EXPECT_EQ(nullptr, store.child("new", false));
    DataStore* created = store.child("new", true);
    Int("count", 41, "", "n").save(*created); // a default goes to the machine hive
    created->write("mine", "yes", kSourceUser);
    store.flush();

    RegistryDataStore again(name(), true, false);
    ASSERT_NE(nullptr, again.child("new", false));
    EXPECT_EQ(2u, again.child("new", false)->read("count").source);
    EXPECT_EQ("41", again.child("new", false)->read("count").text);
    EXPECT_EQ(3u, again.child("new", false)->read("mine").source);
}

TEST_F(RegistryDataStoreTest, AnotherAccountsHiveChoosesNoPathButTheRestStill) {
    for (const char* value : {"path", "other"}) {
        setString(HKEY_LOCAL_MACHINE, value, "machine");
        setString(HKEY_CURRENT_USER, value, "user");
    }
    RegistryDataStore store(name(), true, false, std::make_shared<test::AnotherAccountsHive>());
    store.markPathValue("path");
    loadCase(store, String("path", "", "", ""), "machine", kSourceMachine, "RegistryDataStore");
    loadCase(store, String("other", "", "", ""), "user", kSourceUser, "");
}

TEST(ProgramOptions, ReadTheirKeysAfreshEveryTime) {
    using test::ScopedSetting;
    EXPECT_EQ("", debugLocationSetting());
    EXPECT_FALSE(uniqueDumpFilesSetting());
    EXPECT_EQ(3, assertBehaviourSetting());

    const ScopedSetting location(HKEY_LOCAL_MACHINE, "Core", "DebugLocation", "C:\\machine\\");
    const ScopedSetting unique(HKEY_LOCAL_MACHINE, "Core", "EnableUniqueDmpFiles", "1");
    const ScopedSetting behaviour(HKEY_LOCAL_MACHINE, "QuorvaneManager", "AssertBehaviour", "5");
    // Only the machine's behaviour counts.
    const ScopedSetting userBehaviour(HKEY_CURRENT_USER, "QuorvaneManager", "AssertBehaviour", "8");
    EXPECT_EQ("C:\\machine\\", debugLocationSetting());
    EXPECT_TRUE(uniqueDumpFilesSetting());
    EXPECT_EQ(5, assertBehaviourSetting());
    const ScopedSetting userLocation(HKEY_CURRENT_USER, "Core", "DebugLocation", "C:\\user\\");
    EXPECT_EQ("C:\\user\\", debugLocationSetting());
    EXPECT_EQ("C:\\machine\\", debugLocationSetting(std::make_shared<test::AnotherAccountsHive>()));
}

} // namespace
} // namespace qv::sys::option
