#include "app/dock_event_handler.h"
#include "channel/aes_handler.h"
#include "channel/key_store.h"
#include "sys/logger/log_capture.h"
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

// Takes the records; the receive call numbered `failAt` (from 1) throws after taking its record.
class RecordingReceiver : public Receiver {
public:
    void receive(const TelemetryRecord& record) override {
        records.push_back(record);
        if (records.size() == failAt)
            throw std::future_error(std::future_errc::promise_already_satisfied);
    }
    std::vector<TelemetryRecord> records;
    std::size_t failAt = 0;
};

std::string event(int code, const std::string& deviceId, const std::string& mac,
                  const std::string& extra = "") {
    return R"({"timestamp":1700000000,"event":)" + std::to_string(code) + R"(,"deviceId":")" + deviceId +
           R"(","updMacAddress":")" + mac + "\"" + extra + "}";
}

} // namespace

TEST(QvmMessageHandler, ReceiverFailureIsSwallowedAndKeepsTheTracking) {
    RecordingReceiver receiver;
    receiver.failAt = 1;
    QvmMessageHandler handler(&receiver);
    handler.handleMessage(event(3, "C", "05:05:05:05:05:05"));
    handler.handleMessage(event(3, "D", "06:06:06:06:06:06"));
    EXPECT_EQ(receiver.records.size(), 2u);
    EXPECT_EQ(handler.connectedDocks().size(), 2u);
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

TEST(QvmMessageHandler, WholeDocumentAndLogFromTheManagersFrames) {
    using qv::simulator::FrameKind;
    auto& log = qv::sys::test::LogCapture::of("QvmMessageHandler");
    const std::string zone = useTimeZone("UTC");
    qv::sys::encryption::Key<16> key;
    std::uint32_t tag = 0;
    ASSERT_TRUE(
        qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag));
    std::ostringstream out;
    std::promise<std::int32_t> signal;
    std::size_t sent = 0;
    {
        OutputStream writer(&out, exampleHost(), &signal);
        {
            QvmMessageHandler handler(&writer);
            qv::sys::AesHandler decrypting(&handler, key);
            // What the message reader hands on: the payload after the length field.
            const auto send = [&](const std::string& text, FrameKind kind = FrameKind::Good) {
                decrypting.handleMessage(
                    qv::simulator::buildFrame(kind, key, text).substr(qv::simulator::frameHeaderSize));
                ++sent;
            };
            send(event(3, "dock-1", "00:1a:2b:3c:4d:5e", R"(,"fwVersion":[1,2,3])"));
            // Nine messages that fail: bad frames, texts that are no dock event.
            for (FrameKind bad : {FrameKind::NotJson, FrameKind::WrongKey, FrameKind::BadBase64})
                send(event(3, "dock-bad", "0b:0b:0b:0b:0b:0b"), bad);
            for (const std::string& bad :
                 {std::string(), std::string("{\"timestamp\":"), std::string("[3]"),
                  std::string(R"({"timestamp":1,"event":3})"), event(3, "dock-bad", "0123456789:0:0:0:0:0"),
                  std::string("garbage")})
                send(bad);
            send(event(3, "dock-zero", "00:00:00:00:00:00", R"(,"fwVersion":[1,2,3])"));
            send(R"({"timestamp":0,"event":3,"deviceId":"dock-2","updMacAddress":"aa:bb:cc:dd:ee:ff"})");
            send(event(259, "dock-3", "01:02:03:04:05:06")); // low byte 3: a record, not tracked
            send(event(4, "dock-4", "01:02:03:04:05:06"));   // no name: not a failure
            send(event(3, "dock-1", "0a:0b:0c:0d:0e:0f"));   // a record; the dock keeps its first MAC
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

    // Shown without the payload's zero fill.
    EXPECT_EQ(log.records.front().text,
              "Message received: " + event(3, "dock-1", "00:1a:2b:3c:4d:5e", R"(,"fwVersion":[1,2,3])"));
    // Every message at level 5 and each failure at level 6, under their known
    // lines; last, the leaves in device id order, stamped now.
    std::size_t received = 0, failed = 0, other = 0;
    for (const auto& [level, line, thread, text] : log.records)
        ++(level == 5 && line == 51 ? received : level == 6 && line == 62 ? failed : other);
    EXPECT_EQ(std::make_tuple(received, failed, other),
              std::make_tuple(sent + 2, std::size_t{9}, std::size_t{0}));
    ASSERT_GE(log.records.size(), 2u);
    for (const std::string deviceId : {"dock-zero", "dock-1"}) {
        const std::string& text = log.records.back().text;
        const DockEventMessage leave = decodeDockEvent(text.substr(text.find('{')));
        EXPECT_EQ(std::tie(leave.deviceId, leave.event), std::make_tuple(deviceId, std::uint16_t{2}));
        EXPECT_EQ(leave.macAddress,
                  deviceId == "dock-1" ? mac(0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e) : MacAddress());
        EXPECT_FALSE(leave.fwVersion.isSet());
        EXPECT_NEAR(leave.timestamp, std::time(nullptr), 60); // stamped now, in seconds
        log.records.pop_back();
    }
}
