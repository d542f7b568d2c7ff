// The log's line handling: the reader's line decoder, and the outputs' token
// deciphering and line making, which see text from outside the program.
//
// The first input byte chooses the form of the rest:
//   0: a line of a log file, for the reader's decoder;
//   1: the text of a record, through an output and back through the decoder;
//   2: the same, with every 0x01 byte replaced by a token of the program.
// A line that leaves an output must decipher to exactly one line, equal to
// what went in with its escapes, and (a short line) without a tab; nothing
// the decoder gives may hold a control character but the tab.

#include "sys/logger/log_cipher.h"
#include "sys/logger/output_impl.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using qv::sys::Logger::LogLineDecoder;

const LogLineDecoder& decoder() {
    static const LogLineDecoder instance;
    return instance;
}

const std::string& token() {
    static const std::string text =
        qv::sys::Logger::encipherToken(qv::sys::Logger::logKey(), "Message received: ");
    return text;
}

void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", what, text.c_str());
    std::abort();
}

void checkOneLine(const std::string& text, bool tabs) {
    for (unsigned char c : text) {
        if ((c < 0x20 && !(tabs && c == '\t')) || c == 0x7F) {
            fail("a control character in a deciphered line", text);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string reason;
    if (data[0] % 3 == 0) {
        if (const auto text = decoder().decipher(rest, reason)) {
            checkOneLine(*text, true);
        }
        return 0;
    }
    if (data[0] % 3 == 2) {
        std::string spliced;
        for (char c : rest) {
            spliced += c == '\x01' ? token() : std::string(1, c);
        }
        rest.swap(spliced);
    }
    std::ostringstream stream;
    qv::sys::Logger::OutputImpl output(std::make_unique<qv::sys::Logger::StreamOutputWriter>(stream), 0);
    output.output(0, 5, "fuzz", 1, "Fuzz", "", 1, "", rest);
    const std::string written = stream.str();
    if (written.empty() || written.find('\n') != written.size() - 1) {
        fail("not one line written", written);
    }
    const auto text = decoder().decipher(written.substr(0, written.size() - 1), reason);
    if (!text) {
        fail(reason.c_str(), rest);
    }
    checkOneLine(*text, false);
    // What the output made of the text, without the fill blanks that a reader cannot tell from it.
    qv::sys::Logger::LogLineCipher cipher;
    std::string expected = "[Fuzz] " + qv::sys::Logger::escapeField(cipher.decipherTokens(rest));
    expected.erase(expected.find_last_not_of(' ') + 1);
    if (*text != expected) {
        fail("deciphered line differs", *text + " / " + expected);
    }
    return 0;
}
