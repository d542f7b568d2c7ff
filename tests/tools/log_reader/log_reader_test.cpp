#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/log_cipher.h"
#include "sys/logger/log_test_files.h"
#include "tools/log_reader/log_reader.h"

namespace qv::tools {
namespace {

using sys::Logger::LogLineCipher;

// Feeds `input` in pieces of `piece` bytes, as reads from a pipe may come.
void feedInPieces(LogReader& reader, const std::string& input, std::size_t piece) {
    for (std::size_t at = 0; at < input.size(); at += piece) {
        reader.feed(input.data() + at, std::min(piece, input.size() - at));
    }
    reader.finish();
}

TEST(LogReader, PrintsPlainLinesAndReportsTheOthersByNumber) {
    LogLineCipher cipher;
    const std::string input = cipher.encipher("[A] one") + "\r\n" + "garbage\n" + "\n" +
                              cipher.encipher("00:00:01.000\t1:\tA\t\tINFO\ta.cpp:1\ttwo") + "\n" +
                              std::string(LogReader::kMaxLineLength + 10, 'A') + "\n" +
                              cipher.encipher("[A] three");
    for (const std::size_t piece : {std::size_t{7}, input.size()}) {
        std::ostringstream out;
        std::ostringstream errors;
        LogReader reader(out, errors);
        feedInPieces(reader, input, piece);
        EXPECT_EQ(out.str(), "[A] one\n00:00:01.000\t1:\tA\t\tINFO\ta.cpp:1\ttwo\n[A] three\n");
        EXPECT_EQ(errors.str(), "line 2: not Base64 text; skipped\nline 3: empty line; skipped\n"
                                "line 5: longer than 16777216 characters; skipped\n");
        EXPECT_EQ(reader.lines(), 6u);
        EXPECT_EQ(reader.skipped(), 3u);
    }
}

TEST(LogFollower, ReadsWhatTheFileGainsAndMissesNoLineAtARotation) {
    sys::Logger::testing::ScratchFolder folder;
    const std::string path = folder / "app.log";
    LogLineCipher cipher;
    const std::string second = cipher.encipher("[A] second");
    std::ofstream(path, std::ios::binary) << cipher.encipher("[A] first") << '\n' << second.substr(0, 10);

    std::ostringstream out;
    std::ostringstream errors;
    LogReader reader(out, errors);
    LogFollower follower(path, reader, errors);
    ASSERT_TRUE(follower.poll());
    EXPECT_EQ(out.str(), "[A] first\n");
    std::ofstream(path, std::ios::binary | std::ios::app) << second.substr(10) << "\nbad\n";
    ASSERT_TRUE(follower.poll());
    EXPECT_EQ(out.str(), "[A] first\n[A] second\n");
    EXPECT_EQ(errors.str(), "line 3: not Base64 text; skipped\n");

    // Half a line read, the rest written, the file moved aside and begun anew
    // before the next poll: the moved file is read to its end first.
    const std::string third = cipher.encipher("[A] third");
    std::ofstream(path, std::ios::binary | std::ios::app) << third.substr(0, 7);
    ASSERT_TRUE(follower.poll());
    std::ofstream(path, std::ios::binary | std::ios::app) << third.substr(7) << '\n'
                                                          << cipher.encipher("[A] fourth") << '\n';
    std::filesystem::rename(path, folder / "app.old.log");
    std::ofstream(path, std::ios::binary) << cipher.encipher("[A] fifth") << "\nbad\n";
    ASSERT_TRUE(follower.poll());
    EXPECT_EQ(out.str(), "[A] first\n[A] second\n[A] third\n[A] fourth\n[A] fifth\n");
    EXPECT_NE(errors.str().find("a new file"), std::string::npos);
    EXPECT_NE(errors.str().find("\nline 2: not Base64 text; skipped\n"), std::string::npos) << errors.str();

    // Cut short in place: read again from the start.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << cipher.encipher("[A] sixth") << '\n';
    ASSERT_TRUE(follower.poll());
    EXPECT_EQ(out.str().substr(out.str().rfind("[A]")), "[A] sixth\n");

    LogFollower gone(folder / "missing.log", reader, errors);
    EXPECT_FALSE(gone.poll());
}

TEST(LogReaderCommand, ExitStatusTellsWhetherEveryLineWasRead) {
    auto run = [](std::vector<const char*> args, const std::string& input, std::string& printed) {
        args.insert(args.begin(), "qv_log_reader");
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream errors;
        const int status = runLogReader(static_cast<int>(args.size()), args.data(), in, out, errors, 1);
        printed = out.str() + errors.str();
        return status;
    };
    std::string printed;
    EXPECT_EQ(run({}, LogLineCipher().encipher("[A] from stdin") + "\n", printed), 0);
    EXPECT_EQ(printed, "[A] from stdin\n");
    EXPECT_EQ(run({"-"}, "bad", printed), 1);
    EXPECT_EQ(run({"/no/such/folder/app.log"}, "", printed), 2);
    // With the system's reason after the name.
    EXPECT_EQ(printed.find("qv_log_reader: cannot open /no/such/folder/app.log: "), 0u) << printed;
    EXPECT_GT(printed.size(), 60u) << printed;
    EXPECT_EQ(run({"--follow"}, "", printed), 2); // not standard input
    EXPECT_EQ(run({"--bogus"}, "", printed), 2);
}

} // namespace
} // namespace qv::tools
