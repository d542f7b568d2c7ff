#include "app/dock_event_handler.h"
#include "sys/logger/logger_core.h"
#include "telemetry_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace qv::telemetry;
using namespace qv::telemetry::test;

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

// What the handler's module logs, by level. Attached once for the process,
// since a module keeps its outputs as long as the logger lives.
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
    void output(std::uint32_t, qv::sys::Logger::Level level, const char*, std::int32_t, const std::string&,
                const std::string&, std::uint32_t, const std::string&, const std::string& text) override {
        lines.emplace_back(level, text);
    }
    std::size_t count(int level) const {
        std::size_t n = 0;
        for (const auto& line : lines)
            n += line.first == level;
        return n;
    }
    std::vector<std::pair<int, std::string>> lines;
};

std::string event(int code, const std::string& deviceId, const std::string& mac,
                  const std::string& extra = "") {
    return R"({"timestamp":1700000000,"event":)" + std::to_string(code) + R"(,"deviceId":")" + deviceId +
           R"(","updMacAddress":")" + mac + "\"" + extra + "}";
}

} // namespace

TEST(QvmMessageHandler, EventNameTableHoldsOnlyDockConnected) {
    ASSERT_EQ(eventNameTable.size(), 1u);
    EXPECT_EQ(eventNameTable.at(3), "Quorvane Dock Connected");
}

TEST(QvmMessageHandler, TrackingUsesTheFullEventAndKeepsTheFirstMac) {
    RecordingReceiver receiver;
    QvmMessageHandler handler(&receiver);
    handler.handleMessage(event(259, "A", "01:01:01:01:01:01")); // low byte 3: a record, not tracked
    EXPECT_EQ(receiver.records.size(), 1u);
    EXPECT_TRUE(handler.connectedDocks().empty());

    handler.handleMessage(event(3, "B", "02:02:02:02:02:02"));
    EXPECT_EQ(handler.connectedDocks().count("B"), 1u);
    handler.handleMessage(event(3, "B", "03:03:03:03:03:03"));
    ASSERT_EQ(receiver.records.size(), 3u);
    EXPECT_EQ(receiver.records[2].macAddress, mac(3, 3, 3, 3, 3, 3));
    EXPECT_EQ(handler.connectedDocks().at("B"), mac(2, 2, 2, 2, 2, 2));

    handler.handleMessage(event(2, "unknown", "04:04:04:04:04:04"));
    handler.handleMessage(event(258, "B", "02:02:02:02:02:02")); // not a leave
    EXPECT_EQ(handler.connectedDocks().size(), 1u);
    handler.handleMessage(event(2, "B", "00:00:00:00:00:00"));
    EXPECT_TRUE(handler.connectedDocks().empty());
    EXPECT_EQ(receiver.records.size(), 3u);
}

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
    EXPECT_EQ(log.count(5), 5u);
    EXPECT_EQ(log.count(6), 5u);
    handler.handleMessage(event(4, "Y", "01:01:01:01:01:01")); // unnamed code: not a failure
    EXPECT_EQ(log.count(6), 5u);

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
    for (const auto& line : log.lines) {
        EXPECT_EQ(line.first, 5);
        replayed.push_back(decodeDockEvent(line.second.substr(line.second.find('{'))));
    }
    EXPECT_EQ(replayed[0].deviceId, "A");
    EXPECT_EQ(replayed[0].macAddress, mac(1, 1, 1, 1, 1, 1));
    EXPECT_EQ(replayed[1].deviceId, "B");
    for (const auto& leave : replayed) {
        EXPECT_EQ(leave.event, 2);
        EXPECT_FALSE(leave.fwVersion.isSet());
        EXPECT_GT(leave.timestamp, 1600000000);
    }

    log.lines.clear();
    { QvmMessageHandler idle(&receiver); }
    EXPECT_TRUE(log.lines.empty());
}

TEST(QvmMessageHandler, WholeDocumentFromDockEventTexts) {
    const std::string zone = useTimeZone("UTC");
    std::ostringstream out;
    std::promise<std::int32_t> signal;
    {
        OutputStream writer(&out, exampleHost(), &signal);
        {
            QvmMessageHandler handler(&writer);
            handler.handleMessage(event(3, "dock-1", "00:1a:2b:3c:4d:5e", R"(,"fwVersion":[1,2,3])"));
            handler.handleMessage(event(3, "dock-zero", "00:00:00:00:00:00", R"(,"fwVersion":[1,2,3])"));
            handler.handleMessage("{\"timestamp\":");
            handler.handleMessage(
                R"({"timestamp":0,"event":3,"deviceId":"dock-2","updMacAddress":"aa:bb:cc:dd:ee:ff"})");
            handler.handleMessage(event(259, "dock-3", "01:02:03:04:05:06"));
            handler.handleMessage("garbage");
            handler.handleMessage(event(3, "dock-1", "0a:0b:0c:0d:0e:0f"));
            handler.handleMessage(event(2, "dock-2", "aa:bb:cc:dd:ee:ff"));
        } // replays leaves for dock-1 and dock-zero: no records
    }
    const std::string nov14 = "Tue Nov 14 22:13:20 2023 " + zone;
    EXPECT_EQ(out.str(), "---\n" + exampleRecord(nov14, "00:1a:2b:3c:4d:5e", "1.2.3") +
                             exampleRecord("Thu Jan 01 00:00:00 1970 " + zone, "aa:bb:cc:dd:ee:ff") +
                             exampleRecord(nov14, "01:02:03:04:05:06") +
                             exampleRecord(nov14, "0a:0b:0c:0d:0e:0f"));
}
