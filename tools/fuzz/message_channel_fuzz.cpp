// The message channel from the pipe payload on: AesHandler under the channel
// key, then the dock event decoder, which swallows decoding failures as the
// dock event handler does.
//
// The first input byte chooses the form of the rest:
//   even: a payload as it comes off the pipe (Base64 ciphertext);
//   odd:  a plain text, enciphered under the channel key first, so that the
//         decoder sees the fuzzed text itself.
// A decoded event must survive encodeDockEvent and decodeDockEvent unchanged.

#include "channel/aes_handler.h"
#include "channel/dock_event.h"
#include "channel/key_store.h"
#include "tools/manager_simulator/message_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

using qv::sys::encryption::Key;
using qv::telemetry::DockEventMessage;

const Key<16>& channelKey() {
    static const Key<16> key = [] {
        Key<16> k;
        std::uint32_t tag = 0;
        if (!qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, k.data(), k.size(), tag)) {
            std::fprintf(stderr, "the key store does not give the channel key\n");
            std::abort();
        }
        return k;
    }();
    return key;
}

bool sameEvent(const DockEventMessage& a, const DockEventMessage& b) {
    return a.timestamp == b.timestamp && a.deviceId == b.deviceId && a.macAddress == b.macAddress &&
           a.fwVersion == b.fwVersion && a.event == b.event;
}

class DecodingHandler : public qv::sys::MessageHandler {
public:
    void handleMessage(const std::string& text) override {
        DockEventMessage event;
        try {
            event = qv::telemetry::decodeDockEvent(text);
        } catch (const std::exception&) {
            return;
        }
        std::string encoded;
        try {
            encoded = qv::telemetry::encodeDockEvent(event);
        } catch (const std::exception&) {
            return; // a device id that is not UTF-8
        }
        if (!sameEvent(qv::telemetry::decodeDockEvent(encoded), event)) {
            std::fprintf(stderr, "round trip changed the event: %s\n", encoded.c_str());
            std::abort();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    DecodingHandler decoder;
    // A fresh handler each time, so that a finding does not hang on the
    // chaining value left by earlier inputs.
    qv::sys::AesHandler handler(&decoder, channelKey());
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    handler.handleMessage(data[0] % 2 == 0 ? rest : qv::simulator::encipherMessage(channelKey(), rest));
    return 0;
}
