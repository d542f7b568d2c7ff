#include "sys/config/persist_tree.h"

#include <climits>
#include <string>

#include "registry_test_support.h"
#include "sys/logger/log_capture.h"
#include "sys/errors/exception.h"
#include "sys/win32/impersonation.h"

namespace qv::sys {
namespace {

using Kind = PersistIssue::Kind;

class PersistTreeTest : public test::RegistryTestKeys {};

// The kind of issue a snapshot records about `name`, or -1.
int issueKind(const PersistSnapshot& snapshot, const std::string& name) {
    const PersistIssue* issue = snapshot.issue(name);
    return issue == nullptr ? -1 : static_cast<int>(issue->kind);
}

TEST_F(PersistTreeTest, SnapshotTakesStringsSubkeysAndDwordsAndSurvivesHostileValues) {
    const HKEY machine = HKEY_LOCAL_MACHINE;
    const std::string longName(300, 'n');
    setString(machine, longName, "long name");
    setString(machine, "number", "  -12abc");
    setString(machine, "huge", "99999999999");
    setString(machine, "yes", "Yes please");
    setDword(machine, "dword", 4000000000u);
    setRaw(machine, "short dword", REG_DWORD, "\x01\x02");
    setNative(machine, L"unterminated", REG_SZ, std::string("a\0b\0c\0", 6));
    setRaw(machine, "inner zero", REG_SZ, std::string("ab\0cd\0", 6));
    setString(machine, "big", std::string(100000, 'b'));
    setString(machine, "same", "a value hidden by the subkey");
    setString(machine, "inside", "", "same");

    const PersistTree tree(name());
    const PersistSnapshot snapshot = tree.read(kPersistMachine);
    EXPECT_EQ("long name", snapshot.getString(longName));
    EXPECT_EQ(-12, snapshot.getInt("number"));
    EXPECT_EQ(INT_MAX, snapshot.getInt("huge"));
    EXPECT_TRUE(snapshot.getBool("yes", false));
    EXPECT_EQ(7, snapshot.getInt("missing", 7));
    EXPECT_THROW(snapshot.getString("missing"), PersistNotFound);
    EXPECT_THROW(snapshot.getInt("same", 1), PersistBadLeaf);
    EXPECT_TRUE(snapshot.hasChild("same"));
    EXPECT_EQ("abc", snapshot.getString("unterminated"));
    EXPECT_EQ(static_cast<int>(Kind::Unterminated), issueKind(snapshot, "unterminated"));
    EXPECT_EQ("ab", snapshot.getString("inner zero"));
    EXPECT_EQ(-1, issueKind(snapshot, "inner zero"));
    EXPECT_EQ(100000u, snapshot.getString("big").size());
    EXPECT_FALSE(snapshot.contains("dword"));
    EXPECT_EQ(static_cast<int>(Kind::WrongType), issueKind(snapshot, "dword"));

    const PersistSnapshot withDwords = tree.read(kPersistMachine, true);
    EXPECT_EQ("4000000000", withDwords.getString("dword"));
    EXPECT_FALSE(withDwords.contains("short dword"));
    EXPECT_EQ(static_cast<int>(Kind::BadSize), issueKind(withDwords, "short dword"));
}

TEST_F(PersistTreeTest, WritesReadsAndRemovesInEachPlace) {
    const PersistTree tree(name());
    const PersistTree child(tree, "Child");
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\" + name() + "\\Network Persist Settings\\Child",
              child.state().description(kPersistNetworkCopy));

    for (PersistFlags flags : {kPersistMachine, kPersistNetworkCopy, kPersistUser}) {
        SCOPED_TRACE(flags);
        PersistSnapshot snapshot;
        snapshot.put("place", std::to_string(flags));
        snapshot.putChild("not written");
        tree.write(snapshot, flags);
        child.write(snapshot, flags);

        const PersistSnapshot back = tree.read(flags);
        EXPECT_EQ(std::to_string(flags), back.getString("place")); // each place is its own key
        EXPECT_TRUE(back.issues().empty()); // strings went out with their terminating zeros
        EXPECT_FALSE(back.contains("not written"));
        EXPECT_EQ(std::to_string(flags), child.read(flags).getString("place"));

        // A child's copy lies below its parent's own key, not below the parent's copy.
        const PersistFlags parentPlace = flags == kPersistNetworkCopy ? kPersistMachine : flags;
        const std::string childKey = flags == kPersistNetworkCopy ? "Network Persist Settings" : "Child";
        EXPECT_TRUE(tree.read(parentPlace).hasChild(childKey));
        tree.remove("place", flags, false);
        tree.remove(childKey, parentPlace, true);
        EXPECT_FALSE(tree.read(flags).contains("place"));
        EXPECT_TRUE(child.read(flags).empty());
    }

    // Keys that a volatile tree creates are volatile: no lasting key may go below them.
    PersistTree(PersistTree(name(), true), "V").write(PersistSnapshot(), kPersistMachine);
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegSetKeyValueA(HKEY_LOCAL_MACHINE, ("Software\\Quorvane\\" + name() + "\\V\\lasting").c_str(),
                              "x", REG_SZ, "", 1));
}

TEST_F(PersistTreeTest, BadFlagsAndUnopenablePlacesAreRefused) {
    test::LogCapture& records = test::LogCapture::of("PersistRegAccess");
    const PersistTree tree(std::string(300, 'k')); // longer than a key name may be
    EXPECT_THROW(tree.read(3), PersistBadFlags);
    EXPECT_THROW(tree.write(PersistSnapshot(), 3), PersistBadFlags);
    EXPECT_THROW(tree.remove("x", 3, false), PersistBadFlags);

    EXPECT_THROW(tree.write(PersistSnapshot(), kPersistMachine), PersistBadAccess);
    const auto written = records.take();
    ASSERT_EQ(1u, written.size());
    EXPECT_EQ(Logger::kError, written[0].level);
    EXPECT_NE(std::string::npos, written[0].text.find("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\kkk"));
    EXPECT_TRUE(tree.read(kPersistMachine).empty());
}

// The real user hive, or none, or no way to act as the user; counts the
// impersonators alive when the hive is opened.
struct TestUserHive : PersistUserHive {
    enum Mode { Real, NoHive, CannotImpersonate } mode;
    explicit TestUserHive(Mode mode) : mode(mode) {}
    struct Counted : win32::UserImpersonator {
        Counted(int& count, bool another) : alive(count), another(another) { ++alive; }
        ~Counted() override { --alive; }
        bool actsAsAnotherAccount() const override { return another; }
        int& alive;
        bool another;
    };
    std::unique_ptr<win32::UserImpersonator> impersonate() override {
        if (mode == CannotImpersonate) {
            throw MessageException(MessageId(kMessageImpersonation));
        }
        return std::make_unique<Counted>(alive, anotherAccount);
    }
    long open(std::uint32_t access, void*& key) override {
        aliveAtOpen = alive;
        return mode == NoHive ? ERROR_FILE_NOT_FOUND : real->open(access, key);
    }
    std::shared_ptr<PersistUserHive> real = loggedOnUserHive();
    int alive = 0;
    int aliveAtOpen = -1;
    bool anotherAccount = false;
};

TEST_F(PersistTreeTest, UserHiveIsReachedOnlyWhileActingAsTheUser) {
    test::LogCapture& records = test::LogCapture::of("PersistRegAccess");
    setString(HKEY_CURRENT_USER, "kept", "yes");
    auto real = std::make_shared<TestUserHive>(TestUserHive::Real);
    EXPECT_EQ("yes", PersistTree(name(), false, real).read(kPersistUser).getString("kept"));
    EXPECT_EQ(1, real->aliveAtOpen);
    EXPECT_EQ(0, real->alive);
    real->anotherAccount = true; // its values are then that user's choice, not the process's
    EXPECT_TRUE(PersistTree(name(), false, real).read(kPersistUser).fromAnotherAccount());

    for (auto mode : {TestUserHive::NoHive, TestUserHive::CannotImpersonate}) {
        SCOPED_TRACE(mode);
        const PersistTree tree(name(), false, std::make_shared<TestUserHive>(mode));
        EXPECT_TRUE(tree.read(kPersistUser).empty());
        PersistSnapshot snapshot;
        snapshot.put("kept", "no");
        EXPECT_THROW(tree.write(snapshot, kPersistUser), PersistBadAccess);
        const auto written = records.take();
        ASSERT_EQ(mode == TestUserHive::NoHive ? 2u : 1u, written.size());
        EXPECT_EQ(mode == TestUserHive::NoHive ? Logger::kWarn : Logger::kError, written[0].level);
        EXPECT_TRUE(mode != TestUserHive::NoHive || (written[0].line == 196 && written[1].line == 204));
        tree.remove("kept", kPersistUser, false);
    }
    EXPECT_EQ("yes", PersistTree(name()).read(kPersistUser).getString("kept"));
}

} // namespace
} // namespace qv::sys
