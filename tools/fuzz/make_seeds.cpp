// Writes the seed corpus of qv_fuzz_message_channel into the given folder:
// each dock event once as a payload under the channel key and once as plain text.

#include "channel/key_store.h"
#include "tools/fuzz/seed_corpus.h"
#include "tools/manager_simulator/message_encoder.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    qv::sys::encryption::Key<16> key;
    std::uint32_t tag = 0;
    if (!qv::sys::encryption::getKey(qv::sys::encryption::channelKeyNumber, key.data(), key.size(), tag)) {
        std::fprintf(stderr, "the key store does not give the channel key\n");
        return 1;
    }
    const char* const events[] = {
        (R"({"deviceId":"QV-DOCK-0001","event":3,"fwVersion":[1,2,3],"timestamp":1700000000,)"
         R"("updMacAddress":"a0:ce:c8:01:02:03"})"),
        R"({"timestamp":1000,"event":1,"deviceId":"X"})",
        R"({"timestamp":1000.9,"event":true,"deviceId":"dock","fwVersion":[257,2.9,false]})",
        R"({"timestamp":-5,"event":65537,"deviceId":"","updMacAddress":"a0-ce-c8-01-02-03:"})",
        R"({"timestamp":1,"event":4,"deviceId":"\u00e9\ud83d\ude00","updMacAddress":"zz:00:00:00:00:00"})",
        R"([1,2,3])",
        "\xEF\xBB\xBF {\"timestamp\":7,\"event\":3,\"deviceId\":\"bom\"}  ",
    };
    std::vector<std::string> seeds;
    for (const char* event : events) {
        seeds.push_back('\x00' + qv::simulator::encipherMessage(key, event));
        seeds.push_back('\x01' + std::string(event));
    }
    return qv::fuzz::writeSeeds(argv[1], "seed-", seeds);
}
