// Messages per second through the message chain (AesHandler -> dock event
// handler -> record writer on a null stream), against the library floor for
// the same payloads: mbed TLS Base64 decoding and AES-CBC decryption plus
// nlohmann JSON parsing, nothing else. Prints both rates and their ratio.
//
//   chain_bench [messages] [rounds]

#include "app/record_writer.h"
#include "channel/aes_handler.h"
#include "channel/dock_event.h"
#include "channel/key_store.h"
#include "tools/manager_simulator/message_encoder.h"
#ifdef _WIN32
#include "app/dock_event_handler.h"
#endif

#include <mbedtls/aes.h>
#include <mbedtls/base64.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qv::sys::encryption::Key;

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The manager's mix: docks connecting and leaving, most with MAC and firmware.
std::vector<std::string> makePayloads(const Key<16>& key, std::size_t count) {
    std::vector<std::string> payloads;
    payloads.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        qv::telemetry::DockEventMessage event;
        event.timestamp = 1700000000 + static_cast<std::int64_t>(i);
        event.deviceId = "USB\\VID_17E9&PID_6015\\MX" + std::to_string(i % 16);
        event.macAddress = qv::telemetry::MacAddress(std::array<std::uint8_t, 6>{
            0x00, 0x1a, 0x2b, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 0x5e});
        event.fwVersion = {1, static_cast<std::uint8_t>(i % 7), 3};
        event.event = (i % 4 == 3) ? 2 : 3;
        payloads.push_back(qv::simulator::encipherMessage(key, qv::telemetry::encodeDockEvent(event)));
    }
    return payloads;
}

// Base64 + AES-CBC + JSON parse of every payload, as directly as the
// libraries allow. Returns a checksum so nothing is optimised away.
std::size_t libraryFloor(const Key<16>& key, const std::vector<std::string>& payloads) {
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    mbedtls_aes_setkey_dec(&aes, key.data(), 128);
    unsigned char iv[16] = {};
    std::vector<unsigned char> cipher, plain;
    std::size_t checksum = 0;
    for (const auto& payload : payloads) {
        const auto* text = reinterpret_cast<const unsigned char*>(payload.data());
        std::size_t length = 0;
        mbedtls_base64_decode(nullptr, 0, &length, text, payload.size());
        cipher.resize(length);
        mbedtls_base64_decode(cipher.data(), cipher.size(), &length, text, payload.size());
        length -= length % 16;
        plain.resize(length);
        mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_DECRYPT, length, iv, cipher.data(), plain.data());
        const char* json = reinterpret_cast<const char*>(plain.data()) + 16;
        const std::size_t jsonLength = strnlen(json, length - 16);
        checksum += nlohmann::json::parse(json, json + jsonLength).size();
    }
    mbedtls_aes_free(&aes);
    return checksum;
}

#ifndef _WIN32
// Natively the logging dock event handler is not available (the logger core
// is Windows-only): decode, track and hand the record on as it does.
class PortableDockHandler : public qv::sys::MessageHandler {
public:
    explicit PortableDockHandler(qv::telemetry::Receiver* receiver) : receiver_(receiver) {}
    void handleMessage(const std::string& text) override {
        try {
            const auto message = qv::telemetry::decodeDockEvent(text);
            if (message.event == 3)
                docks_.emplace(message.deviceId, message.macAddress);
            else if (message.event == 2)
                docks_.erase(message.deviceId);
            if ((message.event & 0xFF) == 3)
                receiver_->receive({qv::telemetry::dockConnectedEventName, message.timestamp,
                                    message.macAddress, message.fwVersion});
        } catch (...) {
        }
    }

private:
    qv::telemetry::Receiver* receiver_;
    std::map<std::string, qv::telemetry::MacAddress> docks_;
};
#endif

std::size_t messageChain(const Key<16>& key, const std::vector<std::string>& payloads) {
    NullBuffer nothing;
    std::ostream out(&nothing);
    qv::telemetry::HostFacts host;
    host.computerName = "BENCH-HOST";
    host.wiredAdapters = {
        {"PCI\\VEN_8086", qv::telemetry::MacAddress(), qv::telemetry::AdapterKind::Ethernet}};
    qv::telemetry::OutputStream writer(&out, host, nullptr);
#ifdef _WIN32
    qv::telemetry::QvmMessageHandler handler(&writer);
#else
    PortableDockHandler handler(&writer);
#endif
    qv::sys::AesHandler decrypting(&handler, key);
    for (const auto& payload : payloads)
        decrypting.handleMessage(payload);
    return payloads.size();
}

double bestRate(const std::function<std::size_t()>& run, std::size_t messages, int rounds) {
    double best = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        volatile std::size_t sink = run();
        (void)sink;
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        best = std::max(best, static_cast<double>(messages) / elapsed.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t messages = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (messages == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: chain_bench [messages>0] [rounds>0]\n");
        return 2;
    }
    Key<16> key;
    std::uint32_t tag = 0;
    if (!qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag)) {
        std::fprintf(stderr, "chain_bench: the channel key is not in the key store\n");
        return 1;
    }
    const auto payloads = makePayloads(key, messages);

    // Interleave the two so that both see the same machine conditions.
    double floorRate = 0, chainRate = 0;
    for (int i = 0; i < rounds; ++i) {
        floorRate = std::max(floorRate, bestRate([&] { return libraryFloor(key, payloads); }, messages, 1));
        chainRate = std::max(chainRate, bestRate([&] { return messageChain(key, payloads); }, messages, 1));
    }
#ifdef _WIN32
    const char* platform = "windows";
#else
    const char* platform = "native";
#endif
    std::printf("%s: %zu messages, best of %d rounds\n", platform, messages, rounds);
    std::printf("  library floor : %10.0f msg/s (mbed TLS Base64 + AES-CBC, nlohmann JSON parse: nothing of ours)\n",
                floorRate);
    std::printf("  message chain : %10.0f msg/s (AesHandler, dock event handler, record writer)\n", chainRate);
    std::printf("  ratio         : %10.3f of the floor (target >= 0.75)\n", chainRate / floorRate);
    return 0;
}
