#include "sys/config/persist_tree.h"

#include <climits>
#include <string>

#include "registry_test_support.h"
#include "sys/errors/exception.h"
#include "sys/win32/impersonation.h"

namespace qv::sys {
namespace {

using test::LogCapture;

LogCapture& persistRecords() {
    static auto* capture = new LogCapture("PersistRegAccess");
    capture->take();
    return *capture;
}

class PersistTreeTest : public test::RegistryTestKeys {};

TEST_F(PersistTreeTest, SnapshotHoldsStringsAndSubkeysAndDwordsOnlyWhenAsked) {
    HKEY key = createKey(HKEY_LOCAL_MACHINE);
    setString(key, "text", "hello");
    setString(key, "number", "  -12abc");
    setString(key, "letters", "abc");
    setString(key, "huge", "99999999999");
    setString(key, "yes", "Yes please");
    setDword(key, "dword", 4000000000u);
    setString(key, "same", "a value hidden by the subkey");
    createKey(HKEY_LOCAL_MACHINE, "same");
    createKey(HKEY_LOCAL_MACHINE, "child");

    const PersistTree tree(name());
    const PersistSnapshot snapshot = tree.read(kPersistMachine);
    EXPECT_EQ("hello", snapshot.getString("text"));
    EXPECT_EQ(-12, snapshot.getInt("number"));
    EXPECT_EQ(0, snapshot.getInt("letters"));
    EXPECT_EQ(INT_MAX, snapshot.getInt("huge"));
    EXPECT_TRUE(snapshot.getBool("yes", false));
    EXPECT_FALSE(snapshot.getBool("letters", true));
    EXPECT_TRUE(snapshot.getBool("missing", true));
    EXPECT_EQ(7, snapshot.getInt("missing", 7));
    EXPECT_EQ("x", snapshot.getString("missing", "x"));
    EXPECT_THROW(snapshot.getString("missing"), PersistNotFound);
    EXPECT_THROW(snapshot.getString("child"), PersistBadLeaf);
    EXPECT_THROW(snapshot.getInt("child", 1), PersistBadLeaf);
    EXPECT_TRUE(snapshot.hasChild("same"));
    EXPECT_FALSE(snapshot.hasValue("same"));

    EXPECT_FALSE(snapshot.contains("dword"));
    ASSERT_NE(nullptr, snapshot.issue("dword"));
    EXPECT_EQ(PersistIssue::Kind::WrongType, snapshot.issue("dword")->kind);
    EXPECT_EQ(static_cast<std::uint32_t>(REG_DWORD), snapshot.issue("dword")->detail);
    EXPECT_EQ("4000000000", tree.read(kPersistMachine, true).getString("dword"));

    // A snapshot is a copy: later registry changes do not reach it.
    setString(key, "text", "changed");
    EXPECT_EQ("hello", snapshot.getString("text"));
}

TEST_F(PersistTreeTest, HostileValuesNeitherOverrunNorHideOthers) {
    HKEY key = createKey(HKEY_LOCAL_MACHINE);
    const std::string longName(300, 'n');
    setString(key, longName, "long name");
    setNative(key, L"unterminated", REG_SZ, std::string("a\0b\0c\0", 6));
    setNative(key, L"odd", REG_SZ, std::string("a\0b", 3));
    setRaw(key, "empty", REG_SZ, "");
    setRaw(key, "inner zero", REG_SZ, std::string("ab\0cd\0", 6));
    setRaw(key, "short dword", REG_DWORD, "\x01\x02");
    setRaw(key, "binary", REG_BINARY, std::string(5000, '\x7f'));
    setString(key, "big", std::string(100000, 'b'));
    setString(key, "last", "still here");

    const PersistSnapshot snapshot = PersistTree(name()).read(kPersistMachine, true);
    EXPECT_EQ("long name", snapshot.getString(longName));
    EXPECT_EQ("abc", snapshot.getString("unterminated"));
    ASSERT_NE(nullptr, snapshot.issue("unterminated"));
    EXPECT_EQ(PersistIssue::Kind::Unterminated, snapshot.issue("unterminated")->kind);
    EXPECT_EQ("a", snapshot.getString("odd"));
    EXPECT_EQ("", snapshot.getString("empty"));
    EXPECT_EQ(nullptr, snapshot.issue("empty"));
    EXPECT_EQ("ab", snapshot.getString("inner zero"));
    EXPECT_EQ(nullptr, snapshot.issue("inner zero"));
    EXPECT_FALSE(snapshot.contains("short dword"));
    ASSERT_NE(nullptr, snapshot.issue("short dword"));
    EXPECT_EQ(PersistIssue::Kind::BadSize, snapshot.issue("short dword")->kind);
    EXPECT_FALSE(snapshot.contains("binary"));
    EXPECT_EQ(100000u, snapshot.getString("big").size());
    EXPECT_EQ("still here", snapshot.getString("last"));
}

TEST_F(PersistTreeTest, WritesReadsAndRemovesInEachPlace) {
    const PersistTree tree(name());
    const PersistTree child(tree, "Child");
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\" + name() + "\\Child",
              child.state().description(kPersistMachine));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\" + name() + "\\Network Persist Settings\\Child",
              child.state().description(kPersistNetworkCopy));
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Quorvane\\" + name() + "\\Child",
              child.state().description(kPersistUser));

    for (PersistFlags flags : {kPersistMachine, kPersistNetworkCopy, kPersistUser}) {
        SCOPED_TRACE(flags);
        PersistSnapshot snapshot;
        snapshot.put("place", std::to_string(flags));
        snapshot.put("empty", "");
        snapshot.putChild("not written");
        tree.write(snapshot, flags);
        child.write(snapshot, flags);

        const PersistSnapshot back = tree.read(flags);
        EXPECT_EQ(std::to_string(flags), back.getString("place")); // each place is its own key
        EXPECT_EQ("", back.getString("empty"));
        EXPECT_TRUE(back.issues().empty()); // written with their terminating zeros
        EXPECT_FALSE(back.contains("not written"));
        EXPECT_EQ(std::to_string(flags), child.read(flags).getString("place"));

        // A child's copy lies below its parent's own key, not below the parent's copy.
        const std::string childKey = flags == kPersistNetworkCopy ? "Network Persist Settings" : "Child";
        EXPECT_TRUE(tree.read(flags == kPersistNetworkCopy ? kPersistMachine : flags).hasChild(childKey));
        tree.remove("place", flags, false);
        tree.remove(childKey, flags == kPersistNetworkCopy ? kPersistMachine : flags, true);
        const PersistSnapshot removed = tree.read(flags);
        EXPECT_FALSE(removed.contains("place"));
        EXPECT_TRUE(removed.hasValue("empty"));
        EXPECT_TRUE(child.read(flags).empty());
    }
    EXPECT_TRUE(PersistTree("QvTest_no_such_tree").read(kPersistMachine).empty());
}

TEST_F(PersistTreeTest, VolatileTreesCreateVolatileKeys) {
    PersistTree(name(), true).write(PersistSnapshot(), kPersistMachine);
    HKEY key = createKey(HKEY_LOCAL_MACHINE);
    HKEY sub = nullptr;
    // Below a volatile key only volatile keys may be created.
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExA(key, "stable", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &sub,
                              nullptr));
}

TEST_F(PersistTreeTest, UnopenablePlaceFailsTheWriteWithARecord) {
    auto& records = persistRecords();
    const PersistTree tree(std::string(300, 'k')); // longer than a key name may be
    PersistSnapshot snapshot;
    snapshot.put("a", "b");
    EXPECT_THROW(tree.write(snapshot, kPersistMachine), PersistBadAccess);
    const auto written = records.take();
    ASSERT_EQ(1u, written.size());
    EXPECT_EQ(Logger::kError, written[0].first);
    EXPECT_NE(std::string::npos, written[0].second.find("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\kkk"));
    EXPECT_TRUE(tree.read(kPersistMachine).empty());
}

TEST_F(PersistTreeTest, InvalidFlagsAreRefused) {
    const PersistTree tree(name());
    EXPECT_THROW(tree.read(3), PersistBadFlags);
    EXPECT_THROW(tree.write(PersistSnapshot(), 3), PersistBadFlags);
    EXPECT_THROW(tree.remove("x", 3, false), PersistBadFlags);
    EXPECT_STREQ("PersistFlags not valid for operation", PersistBadFlags().what());
}

// A user hive as it is when nobody is logged on, or when acting as the user fails.
struct UnavailableUserHive : PersistUserHive {
    explicit UnavailableUserHive(bool impersonationThrows) : impersonationThrows(impersonationThrows) {}
    std::unique_ptr<win32::UserImpersonator> impersonate() override {
        if (impersonationThrows) {
            throw MessageException(MessageId(kMessageImpersonation));
        }
        return std::make_unique<win32::UserImpersonator>();
    }
    long open(std::uint32_t, void*&) override { return ERROR_FILE_NOT_FOUND; }
    bool impersonationThrows;
};

TEST_F(PersistTreeTest, WithoutAUserHiveNothingIsReadOrWritten) {
    auto& records = persistRecords();
    const PersistTree real(name());
    PersistSnapshot snapshot;
    snapshot.put("kept", "yes");
    real.write(snapshot, kPersistUser);

    for (bool impersonationThrows : {false, true}) {
        SCOPED_TRACE(impersonationThrows);
        const PersistTree tree(name(), false, std::make_shared<UnavailableUserHive>(impersonationThrows));
        EXPECT_TRUE(tree.read(kPersistUser).empty());
        EXPECT_THROW(tree.write(snapshot, kPersistUser), PersistBadAccess);
        const auto written = records.take();
        ASSERT_EQ(impersonationThrows ? 1u : 2u, written.size());
        EXPECT_EQ(impersonationThrows ? Logger::kError : Logger::kWarn, written[0].first);
        tree.remove("kept", kPersistUser, false);
    }
    EXPECT_EQ("yes", real.read(kPersistUser).getString("kept"));
}

// Counts the impersonators alive when the hive is opened and afterwards.
struct CountingUserHive : PersistUserHive {
    struct Counted : win32::UserImpersonator {
        explicit Counted(int& alive) : alive(alive) { ++alive; }
        ~Counted() override { --alive; }
        int& alive;
    };
    std::unique_ptr<win32::UserImpersonator> impersonate() override {
        return std::make_unique<Counted>(alive);
    }
    long open(std::uint32_t access, void*& key) override {
        aliveAtOpen = alive;
        return real->open(access, key);
    }
    std::shared_ptr<PersistUserHive> real = loggedOnUserHive();
    int alive = 0;
    int aliveAtOpen = -1;
};

TEST_F(PersistTreeTest, UserHiveIsReachedWhileActingAsTheUser) {
    setString(createKey(HKEY_CURRENT_USER), "who", "user");
    auto hive = std::make_shared<CountingUserHive>();
    const PersistTree tree(name(), false, hive);
    EXPECT_EQ("user", tree.read(kPersistUser).getString("who"));
    EXPECT_EQ(1, hive->aliveAtOpen);
    EXPECT_EQ(0, hive->alive);
}

} // namespace
} // namespace qv::sys
