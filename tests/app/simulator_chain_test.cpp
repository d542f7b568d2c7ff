// The manager's frames, as the simulator builds them, through the whole
// decoding chain: AesHandler -> QvmMessageHandler -> OutputStream.

#include "app/dock_event_handler.h"
#include "channel/aes_handler.h"
#include "channel/key_store.h"
#include "telemetry_test_support.h"
#include "tools/manager_simulator/frames.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace qv::telemetry;
using namespace qv::telemetry::test;
using qv::simulator::FrameKind;
using qv::sys::encryption::Key;

namespace {

Key<16> channelKey() {
    Key<16> key;
    std::uint32_t tag = 0;
    EXPECT_TRUE(
        qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag));
    return key;
}

// What the message reader hands on: the payload after the length field.
std::string payloadOf(const std::string& frame) {
    return frame.substr(qv::simulator::frameHeaderSize);
}

} // namespace

TEST(SimulatorChain, EncipheredFramesBecomeTheExpectedDocument) {
    const std::string zone = useTimeZone("UTC");
    const Key<16> key = channelKey();
    const std::string connectA =
        R"({"timestamp":1700000000,"event":3,"deviceId":"A","updMacAddress":"00:1a:2b:3c:4d:5e","fwVersion":[1,2,3]})";
    const std::string connectB =
        R"({"timestamp":0,"event":3,"deviceId":"B","updMacAddress":"aa:bb:cc:dd:ee:ff"})";
    const std::string leaveA = R"({"timestamp":1700000100,"event":2,"deviceId":"A"})";

    std::ostringstream out;
    std::promise<std::int32_t> signal;
    {
        OutputStream writer(&out, exampleHost(), &signal);
        QvmMessageHandler handler(&writer);
        qv::sys::AesHandler decrypting(&handler, key);
        const std::pair<FrameKind, std::string> frames[] = {
            {FrameKind::Good, connectA},      {FrameKind::NotJson, connectA}, {FrameKind::WrongKey, connectA},
            {FrameKind::BadBase64, connectB}, {FrameKind::Good, connectB},    {FrameKind::Good, leaveA},
        };
        for (const auto& [kind, text] : frames)
            decrypting.handleMessage(payloadOf(qv::simulator::buildFrame(kind, key, text)));
        EXPECT_EQ(handler.connectedDocks().size(), 1u);
        EXPECT_EQ(handler.connectedDocks().count("B"), 1u);
    }
    EXPECT_EQ(out.str(), "---\n" +
                             exampleRecord("Tue Nov 14 22:13:20 2023 " + zone, "00:1a:2b:3c:4d:5e", "1.2.3") +
                             exampleRecord("Thu Jan 01 00:00:00 1970 " + zone, "aa:bb:cc:dd:ee:ff"));
}
