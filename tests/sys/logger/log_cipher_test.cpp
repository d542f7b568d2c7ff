#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>
#include <string>

#include <gtest/gtest.h>

#include "sys/logger/log_cipher.h"
#include "sys/logger/output_impl.h"

namespace qv::sys::Logger {
namespace {

std::string decipher(const std::string& line) {
    std::string reason;
    const auto text = LogLineDecoder().decipher(line, reason);
    EXPECT_TRUE(text.has_value()) << reason << ": " << line;
    return text.value_or(std::string());
}

TEST(LogLineCipher, LinesAreWholeBlocksAndDecipherOneByOne) {
    LogLineCipher cipher;
    // 16 bytes remain of the hex prefix; a line of whole blocks gets no fill.
    EXPECT_EQ(cipher.encipher("").size(), 24u);                  // 16 bytes
    EXPECT_EQ(cipher.encipher("[M] 0123456789ab").size(), 44u);  // 32 bytes
    EXPECT_EQ(cipher.encipher("[M] 0123456789abc").size(), 64u); // 48 bytes

    // Each line deciphers without the ones before it, although the chaining value runs on.
    const std::string first = cipher.encipher("[Reader] first");
    const encryption::Block<16> before = cipher.chainingBlock();
    const std::string second = cipher.encipher("00:00:01.500\t7:Main\tReader\t\tINFO\ta.cpp:3\tsecond   ");
    EXPECT_NE(cipher.chainingBlock(), before);
    EXPECT_EQ(decipher(second), "00:00:01.500\t7:Main\tReader\t\tINFO\ta.cpp:3\tsecond"); // fill blanks go
    EXPECT_EQ(decipher(first + "\r"), "[Reader] first");

    encryption::Key<16> otherKey;
    otherKey[0] = 1;
    LogLineCipher other(otherKey);
    std::string reason;
    EXPECT_FALSE(LogLineDecoder().decipher(other.encipher("[Reader] a line of some length"), reason));
    EXPECT_NE(reason.find("another key"), std::string::npos);
}

TEST(LogLineDecoder, RefusesWhatIsNoLogLine) {
    LogLineCipher cipher;
    std::string line = cipher.encipher("[Reader] a line long enough for three blocks");
    line[30] = line[30] == 'A' ? 'B' : 'A'; // damages two blocks
    const std::string refused[] = {"",
                                   "\r",
                                   "not base64!",
                                   "QUJD",
                                   "QUJDREVGR0hJSktMTU5PUA==",
                                   line,
                                   cipher.encipher("[Reader] ok").substr(4)};
    for (const std::string& input : refused) {
        std::string reason;
        EXPECT_FALSE(LogLineDecoder().decipher(input, reason)) << input;
        EXPECT_FALSE(reason.empty());
    }
}

TEST(LogLineCipher, TokensBecomeTheirTextsAndOtherAtSignsStay) {
    const std::string token = encipherToken(logKey(), "Log file restarted");
    LogLineCipher cipher;
    EXPECT_EQ(cipher.decipherTokens("a " + token + " b"), "a Log file restarted b");
    EXPECT_EQ(cipher.decipherTokens(token + token), "Log file restartedLog file restarted");
    EXPECT_EQ(cipher.decipherTokens(encipherToken(logKey(), "")), "");
    EXPECT_EQ(cipher.decipherTokens(encipherToken(logKey(), "0123456789abcdef")), "0123456789abcdef");

    // Outside text keeps its at-signs: none of it is lost or hidden.
    const std::string kept[] = {
        "mail a@@b.c",
        "@@",
        "x@@y@@z",
        "@@QUJD@@",                         // too short for a token
        "@@QUJDREVGR0hJSktMTU5PUA==@@",     // one block
        "@@" + token.substr(2, 24) + " @@", // a blank is no Base64
        token.substr(0, token.size() - 2),  // not closed
        "@@" + encipherToken(logKey(), "x").substr(6),
    };
    for (const std::string& text : kept) {
        EXPECT_EQ(cipher.decipherTokens(text), text);
    }
    // A stray marker does not hide the token after it.
    EXPECT_EQ(cipher.decipherTokens("id a@@b then " + token), "id a@@b then Log file restarted");
}

TEST(OutputImpl, OutsideTextCannotStartALineOfItsOwn) {
    std::ostringstream stream;
    OutputImpl output(std::make_unique<StreamOutputWriter>(stream), 1);
    const std::string forged = "\n00:00:09.000\t1:Main\tQuorvaneAnalytics\t\tFATAL\tmain.cpp:1\tforged";
    const std::string tokenWithBreak = encipherToken(logKey(), "one\r\ntwo\x1b[2J\x7F");
    output.output(61000, kDebug, "reader.cpp", 12, "MessageReader", "", 42, "Reader",
                  "message: {\"x\":\"" + forged + "\"} " + tokenWithBreak + "\n");
    output.output(0, kInfo, "a.cpp", 1, "M", "", 1, "T\t1", "second\ttab C:\\dir\\n");

    std::istringstream lines(stream.str());
    std::string first;
    std::string second;
    std::string none;
    ASSERT_TRUE(std::getline(lines, first) && std::getline(lines, second));
    EXPECT_FALSE(std::getline(lines, none));
    EXPECT_EQ(decipher(first),
              "00:01:01.000\t42:Reader\tMessageReader\t\tDEBUG\treader.cpp:12\tmessage: {\"x\":\""
              "\\n00:00:09.000\\t1:Main\\tQuorvaneAnalytics\\t\\tFATAL\\tmain.cpp:1\\tforged\"} "
              "one\\r\\ntwo\\x1B[2J\\x7F");
    // A tab or backslash of the record is an escape: every tab separates fields.
    EXPECT_EQ(decipher(second), "00:00:00.000\t1:T\\t1\tM\t\tINFO\ta.cpp:1\tsecond\\ttab C:\\\\dir\\\\n");
}

// Shared by several streams as standard output is by its users: each call is
// whole under a lock, and other threads get in between calls.
struct LockingBuffer : std::streambuf {
    std::string text;
    std::mutex lock;

    std::streamsize xsputn(const char* data, std::streamsize count) override {
        {
            const std::lock_guard<std::mutex> guard(lock);
            for (std::streamsize i = 0; i < count; ++i) {
                text += data[i];
                std::this_thread::yield();
            }
        }
        std::this_thread::yield();
        return count;
    }
};

TEST(StreamOutputWriter, ALogLineAndARecordWrittenAtOnceNeverInterleave) {
    LockingBuffer shared;
    std::ostream logStream(&shared);
    std::ostream recordStream(&shared);
    const std::string record =
        "-\n  event_type: Quorvane Dock Connected\n"; // written whole, as the record writer does
    OutputImpl output(std::make_unique<StreamOutputWriter>(logStream), 0);
    std::atomic<bool> logging{false};
    std::thread records([&] {
        while (!logging) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 200; ++i) {
            recordStream.write(record.data(), static_cast<std::streamsize>(record.size()));
            recordStream.flush();
        }
    });
    logging = true;
    for (int i = 0; i < 200; ++i) {
        output.output(0, kInfo, "a.cpp", 1, "M", "", 1, "", "line " + std::to_string(i));
    }
    records.join();

    std::istringstream lines(shared.text);
    int logLines = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line != "-" && line != "  event_type: Quorvane Dock Connected") {
            EXPECT_EQ(decipher(line), "[M] line " + std::to_string(logLines++));
        }
    }
    EXPECT_EQ(logLines, 200);
}

} // namespace
} // namespace qv::sys::Logger
