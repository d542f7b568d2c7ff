#pragma once

#include "channel/aes_handler.h"
#include "channel/dock_event.h"
#include "channel/key_store.h"
#include "tools/manager_simulator/frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::simulator::test {

// What the agent does with a frame: the length field must be the payload's
// size; the payload is deciphered, then decoded.
class Agent : public sys::MessageHandler {
public:
    void take(const std::string& frame) {
        ASSERT_GE(frame.size(), frameHeaderSize);
        EXPECT_EQ(frameLength(frame), frame.size() - frameHeaderSize);
        chain.handleMessage(frame.substr(frameHeaderSize));
    }
    void handleMessage(const std::string& text) override {
        texts.push_back(text.substr(0, text.find('\0'))); // without the fill bytes
        try {
            events.push_back(telemetry::encodeDockEvent(telemetry::decodeDockEvent(text)));
        } catch (const std::exception&) {
            events.push_back("not decoded");
        }
    }

    const sys::encryption::Key<16> key = [] {
        sys::encryption::Key<16> key;
        std::uint32_t tag = 0;
        EXPECT_TRUE(sys::encryption::getKey(sys::encryption::channelKeyNumber, key.data(), key.size(), tag));
        return key;
    }();
    sys::AesHandler chain{this, key};
    std::vector<std::string> texts;
    std::vector<std::string> events;
};

} // namespace qv::simulator::test
