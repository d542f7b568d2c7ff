// Writes the seed corpus of qv_fuzz_log_line into the given folder: enciphered
// log lines for the decoder, and record texts with markers, tokens and breaks.

#include "sys/logger/log_cipher.h"

#include <cstdio>
#include <fstream>
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
    int count = 0;
    for (const std::string& line : lines) {
        const std::string path = std::string(argv[1]) + "/log-seed-" + std::to_string(count++);
        std::ofstream out(path, std::ios::binary);
        out << line;
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%d seeds in %s\n", count, argv[1]);
    return 0;
}
