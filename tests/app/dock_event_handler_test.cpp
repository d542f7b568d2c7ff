#include "app/dock_event_handler.h"
#include "channel/aes_handler.h"
#include "channel/key_store.h"
#include "sys/logger/logger_core.h"
#include "telemetry_test_support.h"
#include "tools/manager_simulator/frames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <tuple>
#include <vector>

using namespace qv::telemetry;
using namespace qv::telemetry::test;

namespace {

// Allocation failure on demand: once the count of this thread has run out,
// operator new throws (a negative count is no limit).
thread_local long allocationsLeft = -1;

} // namespace

// Out of line, as the deletes: inlined, GCC takes malloc() and free() for a
// mismatch of operator new and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (allocationsLeft == 0)
        throw std::bad_alloc();
    if (allocationsLeft > 0)
        --allocationsLeft;
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

class RecordingReceiver : public Receiver {
public:
    void receive(const TelemetryRecord& record) override {
        records.push_back(record);
        if (throwNext) {
            throwNext = false;
            throw std::future_error(std::future_errc::promise_already_satisfied);
        }
    }
    std::vector<TelemetryRecord> records;
    bool throwNext = false;
};

// What the handler's module logs: level, line and text of each record.
// Attached once for the process, since a module keeps its outputs as long as
// the logger lives.
class LogCapture : public qv::sys::Logger::Output {
public:
    static LogCapture& instance() {
        static LogCapture* capture = [] {
            auto* c = new LogCapture;
            qv::sys::Logger::core().addOutput("QvmMessageHandler", *c, 6);
            return c;
        }();
        capture->lines.clear();
        return *capture;
    }
    void output(std::uint32_t, qv::sys::Logger::Level level, const char*, std::int32_t line,
                const std::string&, const std::string&, std::uint32_t, const std::string&,
                const std::string& text) override {
        lines.emplace_back(level, line, text);
    }
    std::size_t count(int level, int line) const {
        std::size_t n = 0;
        for (const auto& record : lines)
            n += std::get<0>(record) == level && std::get<1>(record) == line;
        return n;
    }
    std::vector<std::tuple<int, int, std::string>> lines;
};

std::string event(int code, const std::string& deviceId, const std::string& mac,
                  const std::string& extra = "") {
    return R"({"timestamp":1700000000,"event":)" + std::to_string(code) + R"(,"deviceId":")" + deviceId +
           R"(","updMacAddress":")" + mac + "\"" + extra + "}";
}

} // namespace

TEST(QvmMessageHandler, BadMessagesAndReceiverErrorsAreSwallowed) {
    auto& log = LogCapture::instance();
    RecordingReceiver receiver;
    QvmMessageHandler handler(&receiver);
    for (const std::string& bad :
         {std::string(), std::string("not json"), std::string(R"({"timestamp":1,"event":3})"),
          std::string("[3]"), event(3, "X", "0123456789:0:0:0:0:0")})
        handler.handleMessage(bad);
    EXPECT_TRUE(receiver.records.empty());
    EXPECT_TRUE(handler.connectedDocks().empty());
    // Every message at level 5 and every failure at level 6, under their known lines.
    EXPECT_EQ(log.count(5, 51), 5u);
    EXPECT_EQ(log.count(6, 62), 5u);
    handler.handleMessage(event(4, "Y", "01:01:01:01:01:01")); // unnamed code: not a failure
    EXPECT_EQ(log.lines.size(), 11u);

    // A receiver failure does not undo the tracking that came before it.
    receiver.throwNext = true;
    handler.handleMessage(event(3, "C", "05:05:05:05:05:05"));
    EXPECT_EQ(handler.connectedDocks().count("C"), 1u);
    handler.handleMessage(event(3, "D", "06:06:06:06:06:06"));
    EXPECT_EQ(receiver.records.size(), 2u);
}

TEST(QvmMessageHandler, DestructorReplaysLeavingEventsInDeviceIdOrder) {
    auto& log = LogCapture::instance();
    RecordingReceiver receiver;
    {
        QvmMessageHandler handler(&receiver);
        handler.handleMessage(event(3, "B", "02:02:02:02:02:02"));
        handler.handleMessage(event(3, "A", "01:01:01:01:01:01", R"(,"fwVersion":[9,9,9])"));
        ASSERT_EQ(handler.connectedDocks().size(), 2u);
        receiver.records.clear();
        log.lines.clear();
    }
    EXPECT_TRUE(receiver.records.empty());
    ASSERT_EQ(log.lines.size(), 2u);
    std::vector<DockEventMessage> replayed;
    for (const auto& [level, line, text] : log.lines) {
        EXPECT_EQ(level, 5);
        replayed.push_back(decodeDockEvent(text.substr(text.find('{'))));
    }
    EXPECT_EQ(replayed[0].deviceId, "A");
    EXPECT_EQ(replayed[0].macAddress, mac(1, 1, 1, 1, 1, 1));
    EXPECT_EQ(replayed[1].deviceId, "B");
    for (const auto& leave : replayed) {
        EXPECT_EQ(leave.event, 2);
        EXPECT_FALSE(leave.fwVersion.isSet());
        EXPECT_NEAR(leave.timestamp, std::time(nullptr), 60); // stamped now, in seconds
    }

    log.lines.clear();
    { QvmMessageHandler idle(&receiver); }
    EXPECT_TRUE(log.lines.empty());
}

TEST(QvmMessageHandler, DestructorDropsDocksWhoseReplayCannotAllocate) {
    RecordingReceiver receiver;
    // Out of memory from the start of the destructor, or from the copy of the
    // device id into the leaving message on. (Later the JSON library needs
    // memory to tear its own values down, which no handler can help.)
    for (long allowed : {0L, 1L}) {
        auto handler = std::make_unique<QvmMessageHandler>(&receiver);
        // Ids too long to be copied without an allocation.
        handler->handleMessage(event(3, "USB-VID_17E9-PID_6015-A", "01:01:01:01:01:01"));
        handler->handleMessage(event(3, "USB-VID_17E9-PID_6015-B", "02:02:02:02:02:02"));
        allocationsLeft = allowed;
        handler.reset();
        allocationsLeft = -1;
    }
}

TEST(QvmMessageHandler, WholeDocumentFromTheManagersFrames) {
    using qv::simulator::FrameKind;
    const std::string zone = useTimeZone("UTC");
    qv::sys::encryption::Key<16> key;
    std::uint32_t tag = 0;
    ASSERT_TRUE(
        qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag));
    std::ostringstream out;
    std::promise<std::int32_t> signal;
    {
        OutputStream writer(&out, exampleHost(), &signal);
        {
            QvmMessageHandler handler(&writer);
            qv::sys::AesHandler decrypting(&handler, key);
            // What the message reader hands on: the payload after the length field.
            const auto send = [&](const std::string& text, FrameKind kind = FrameKind::Good) {
                decrypting.handleMessage(
                    qv::simulator::buildFrame(kind, key, text).substr(qv::simulator::frameHeaderSize));
            };
            send(event(3, "dock-1", "00:1a:2b:3c:4d:5e", R"(,"fwVersion":[1,2,3])"));
            for (FrameKind bad : {FrameKind::NotJson, FrameKind::WrongKey, FrameKind::BadBase64})
                send(event(3, "dock-bad", "0b:0b:0b:0b:0b:0b"), bad);
            send(event(3, "dock-zero", "00:00:00:00:00:00", R"(,"fwVersion":[1,2,3])"));
            send("{\"timestamp\":");
            send(R"({"timestamp":0,"event":3,"deviceId":"dock-2","updMacAddress":"aa:bb:cc:dd:ee:ff"})");
            send(event(259, "dock-3", "01:02:03:04:05:06")); // low byte 3: a record, not tracked
            send("garbage");
            send(event(3, "dock-1", "0a:0b:0c:0d:0e:0f")); // a record; the dock keeps its first MAC
            send(event(2, "dock-2", "aa:bb:cc:dd:ee:ff"));
            send(event(2, "unknown", "04:04:04:04:04:04"));
            send(event(258, "dock-1", "00:1a:2b:3c:4d:5e")); // tracking takes the full event: not a leave
            EXPECT_EQ(handler.connectedDocks(),
                      (std::map<std::string, MacAddress>{{"dock-1", mac(0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e)},
                                                         {"dock-zero", MacAddress()}}));
        } // replays leaves for dock-1 and dock-zero: no records
    }
    const std::string nov14 = "Tue Nov 14 22:13:20 2023 " + zone;
    EXPECT_EQ(out.str(), "---\n" + exampleRecord(nov14, "00:1a:2b:3c:4d:5e", "1.2.3") +
                             exampleRecord("Thu Jan 01 00:00:00 1970 " + zone, "aa:bb:cc:dd:ee:ff") +
                             exampleRecord(nov14, "01:02:03:04:05:06") +
                             exampleRecord(nov14, "0a:0b:0c:0d:0e:0f"));
}
