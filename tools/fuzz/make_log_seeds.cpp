// Writes the seed corpus of qv_fuzz_log_line into the given folder: enciphered
// log lines for the decoder, and record texts with markers, tokens and breaks.

#include "sys/logger/log_cipher.h"

#include "tools/fuzz/seed_corpus.h"

#include <cstdio>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    qv::sys::Logger::LogLineCipher cipher;
    const std::string lines[] = {
        std::string(1, '\0') + cipher.encipher("[QuorvaneAnalytics] short"),
        std::string(1, '\0') +
            cipher.encipher("00:02:05.042\t4312:Main\tMessageReader\t00000000001F3A40\tDEBUG\t"
                            "message_reader.cpp:88\tmessage {\"event\":3}"),
        std::string(1, '\0') + cipher.encipher("[M] " + std::string(40, 'x')) + "\r",
        "\x01{\"deviceId\":\"@@QUJDREVGR0hJSktMTU5PUA==@@\",\"event\":3}\n\r\x1b[2J\t",
        "\x02\x01 a@@b \x01@@ then \x01",
        "\x01@@" + qv::sys::Logger::encipherToken(qv::sys::Logger::logKey(), "spliced\nline") + "@@",
    };
    return qv::fuzz::writeSeeds(argv[1], "log-seed-", {std::begin(lines), std::end(lines)});
}
