#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/file_output.h"
#include "sys/logger/log_files.h"
#include "sys/logger/log_test_files.h"

namespace qv::sys::Logger {
namespace {

using testing::readLog;
using testing::ScratchFolder;
using testing::textOf;

void write(FileOutput& output, const std::string& text) {
    output.output(1000, kInfo, "file_output_test.cpp", 1, "Files", "", 7, "Main", text);
}

bool isRestart(const std::string& line) {
    return line.find("Log file restarted at ") != std::string::npos;
}

std::vector<std::string> texts(const std::vector<std::string>& lines) {
    std::vector<std::string> result;
    for (const std::string& line : lines) {
        result.push_back(isRestart(line) ? "restart" : textOf(line));
    }
    return result;
}

TEST(LogFiles, OldNamesLookForTheExtensionInTheFileNameOnly) {
    EXPECT_EQ(oldLogName("C:\\logs\\QuorvaneAnalytics.log"), "C:\\logs\\QuorvaneAnalytics.old.log");
    EXPECT_EQ(oldLogName("C:\\logs.d\\trace"), "C:\\logs.d\\trace.old");
    EXPECT_EQ(oldLogName("/var/logs.d/a.b.log"), "/var/logs.d/a.b.old.log");
}

TEST(FileOutput, RestartsPastTheLimitAfterTheLineThatPassedIt) {
    ScratchFolder folder;
    const std::string path = folder / "app.log";
    std::ofstream(path) << "previous run\n";
    FileOutput output(1, path, FileMode::New, 300, 0);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"app.log", "app.old.log"})); // moved aside at start

    int written = 0;
    while (std::filesystem::exists(folder / "app.log") &&
           std::filesystem::file_size(folder / "app.log") <= 300) {
        write(output, "line " + std::to_string(++written));
    }
    EXPECT_GE(written, 2);
    write(output, "after the limit");
    write(output, "and one more");

    std::vector<std::string> before;
    for (int i = 1; i <= written; ++i) {
        before.push_back("line " + std::to_string(i));
    }
    EXPECT_EQ(texts(readLog(folder / "app.old.log")), before);
    EXPECT_EQ(texts(readLog(folder / "app.log")),
              (std::vector<std::string>{"restart", "after the limit", "and one more"}));

    // No limit, no restart.
    {
        FileOutput unlimited(1, folder / "trace", FileMode::New, 0, 0);
        for (int i = 0; i < 20; ++i) {
            write(unlimited, "a line that is long enough to pass a small limit soon");
        }
        EXPECT_EQ(readLog(folder / "trace").size(), 20u);
    }                                                           // Windows moves no file that is open
    FileOutput again(1, folder / "trace", FileMode::New, 0, 0); // a path without a dot
    EXPECT_EQ(readLog(folder / "trace.old").size(), 20u);
}

TEST(FileOutput, AppendContinuesTheFileAndRestartsAsNew) {
    ScratchFolder folder;
    const std::string path = folder / "app.log";
    {
        FileOutput first(1, path, FileMode::Append, 100000, 0);
        write(first, "first run");
    }
    FileOutput output(0, path, FileMode::Append, 150, 0);
    write(output, "second run");
    EXPECT_EQ(texts(readLog(path)), (std::vector<std::string>{"first run", "second run"}));
    write(output, "over the limit now");
    EXPECT_EQ(texts(readLog(folder / "app.old.log")), (std::vector<std::string>{"first run", "second run"}));
    EXPECT_EQ(texts(readLog(path)), (std::vector<std::string>{"restart", "over the limit now"}));
}

TEST(FileOutput, DecoratePruningGoesByAgeAndKeepsWhatItWrote) {
    ScratchFolder folder;
    // Other programs' logs sort among this one's; they are not its to delete.
    const std::vector<std::string> others = {"app.log", "app.old.log", "app-server20200101-000000.log",
                                             "apple20200101-000000.log", "app20200101-000000.txt"};
    for (const std::string& name : others) {
        std::ofstream(folder / name) << "x";
    }
    // Written while the clock ran ahead: the names run against the ages.
    const auto now = std::filesystem::file_time_type::clock::now();
    for (int i = 1; i <= 4; ++i) {
        const std::string name = folder / ("app2099010" + std::to_string(i) + "-120000.log");
        std::ofstream(name) << "x";
        std::filesystem::last_write_time(name, now - std::chrono::hours(i));
    }
    FileOutput output(1, folder / "app.log", FileMode::Decorate, 200, 2);
    for (int i = 0; i < 12; ++i) { // restarts, which prune again
        write(output, "line " + std::to_string(i));
    }

    // The oldest by age went; what this output wrote stays, however the
    // restarts fell on the clock's seconds.
    std::vector<std::string> decorated;
    std::vector<std::string> lines;
    for (const std::string& name : folder.names()) {
        if (isDecoratedName(name, "app", ".log")) {
            decorated.push_back(name);
            for (const std::string& text : texts(readLog(folder / name, true))) {
                if (text.compare(0, 5, "line ") == 0) {
                    lines.push_back(text);
                }
            }
        }
    }
    EXPECT_LE(decorated.size(), 3u);
    EXPECT_EQ(std::count(decorated.begin(), decorated.end(), "app20990101-120000.log"), 1);
    EXPECT_EQ(lines.size(), 12u);
    for (const std::string& name : others) {
        EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
    }
}

TEST(FileOutput, AFullFileThatCannotBeMovedAsideStopsGrowing) {
    ScratchFolder folder;
    // A folder where the old file should go: neither deleted nor replaced.
    std::filesystem::create_directories(folder / "app.old.log" + "/keep");
    FileOutput output(1, folder / "app.log", FileMode::New, 1000, 0);
    for (int i = 0; i < 40; ++i) {
        write(output, "line " + std::to_string(i));
    }
    const auto full = texts(readLog(folder / "app.log"));
    ASSERT_GE(full.size(), 3u);
    EXPECT_LT(full.size(), 20u);
    EXPECT_EQ(full.back().find("The full log file cannot be moved to "), 0u) << full.back();
    EXPECT_NE(full.back().find("; records are dropped until it can be"), std::string::npos);

    std::filesystem::remove_all(folder / "app.old.log");
    write(output, "moved");
    EXPECT_EQ(texts(readLog(folder / "app.old.log")), full);
    const auto lines = texts(readLog(folder / "app.log"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "restart");
    EXPECT_EQ(lines[1].find(std::to_string(40 - (full.size() - 1)) +
                            " log records were lost: the full log file cannot be moved to "),
              0u)
        << lines[1];
    EXPECT_EQ(lines[2], "moved");
}

TEST(FileOutput, AFileAnotherWriterMovedAsideIsNotMovedAgain) {
    ScratchFolder folder;
    const std::string path = folder / "app.log";
    FileOutput output(1, path, FileMode::Append, 300, 0);
    write(output, "mine");
    // A second agent on the same log moved it aside and began anew.
    std::filesystem::rename(path, folder / "app.old.log");
    FileOutput(1, path, FileMode::Append, 0, 0).output(0, kInfo, "s", 1, "Other", "", 1, "", "theirs");
    while (std::filesystem::file_size(folder / "app.old.log") <= 300) {
        write(output, "mine");
    }
    write(output, "after");
    const auto old = texts(readLog(folder / "app.old.log"));
    EXPECT_EQ(std::count(old.begin(), old.end(), "mine"), static_cast<std::ptrdiff_t>(old.size()));
    EXPECT_EQ(texts(readLog(path)), (std::vector<std::string>{"theirs", "restart", "after"}));
}

// On a volume that is full, a write stores half its data and fails.
struct FillingFile : LogFile {
    FillingFile(const std::string& path, const bool& full) : LogFile(path), full(full) {}
    bool write(const std::string& data) override {
        if (full) {
            LogFile::write(data.substr(0, data.size() / 2));
            setError(112); // ERROR_DISK_FULL
        }
        return !full && LogFile::write(data);
    }
    const bool& full;
};

TEST(FileOutput, AFailedWriteNeitherMovesNorPrunesFiles) {
    for (const FileMode mode : {FileMode::New, FileMode::Decorate}) {
        ScratchFolder folder;
        std::ofstream(folder / "app.old.log") << "previous generation\n";
        std::ofstream(folder / "app20000101-000000.log") << "older decorated\n";
        bool full = false;
        FileOutput output(1, folder / "app.log", mode, 100000, 1, [&full](const std::string& path) {
            return std::make_unique<FillingFile>(path, full);
        });
        write(output, "one");
        full = true;
        for (int i = 0; i < 5; ++i) {
            write(output, "lost");
        }
        full = false;
        write(output, "back");

        EXPECT_EQ(folder.names().size(), 3u);
        EXPECT_TRUE(std::filesystem::exists(folder / "app20000101-000000.log"));
        std::ifstream old(folder / "app.old.log");
        std::string kept;
        EXPECT_TRUE(std::getline(old, kept) && kept == "previous generation") << kept;
        // The half line of the failed write stays a (damaged) line of its own.
        const auto lines = readLog(output.currentFile(), true);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(textOf(lines[0]), "one");
        EXPECT_EQ(lines[1], "?");
        EXPECT_EQ(textOf(lines[2]).find("5 log records were lost: writing "), 0u) << lines[2];
        EXPECT_EQ(textOf(lines[3]), "back");
    }
}

TEST(FileOutput, AFileThatCannotBeOpenedIsTriedAgainAtEachRecord) {
    ScratchFolder folder;
    const std::string path = folder / "later" + "/app.log";
    FileOutput output(1, path, FileMode::New, 0, 0);
    EXPECT_EQ(output.openFailure().find("cannot open " + path + ": "), 0u) << output.openFailure();
    write(output, "lost");
    write(output, "lost too");
    std::filesystem::create_directories(folder / "later");
    write(output, "found");
    const auto lines = texts(readLog(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find("2 log records were lost: cannot open "), 0u) << lines[0];
    EXPECT_EQ(lines[1], "found");
}

TEST(FileOutput, ALinkIsNeverWrittenThrough) {
    ScratchFolder folder;
    std::ofstream(folder / "secret.txt", std::ios::binary) << "keep\n";
    std::filesystem::create_hard_link(folder / "secret.txt", folder / "app.log");
    std::error_code noSymbolicLinks; // the Windows runtime of this build makes none
    std::filesystem::create_symlink(folder / "secret.txt", folder / "trace.log", noSymbolicLinks);
    for (const char* name : {"app.log", "trace.log"}) {
        FileOutput output(1, folder / name, FileMode::Append, 0, 0);
        write(output, "not there");
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "secret.txt"), 5u);
}

} // namespace
} // namespace qv::sys::Logger
