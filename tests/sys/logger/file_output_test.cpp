#include <algorithm>
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

TEST(FileOutput, DecorateKeepsTheNewestFiles) {
    ScratchFolder folder;
    // Other programs' logs sort among this one's; they are not its to delete.
    const std::vector<std::string> others = {"app.log", "app.old.log", "app-server20200101-000000.log",
                                             "apple20200101-000000.log", "app20200101-000000.txt"};
    for (const std::string& name : others) {
        std::ofstream(folder / name) << "x";
    }
    for (int i = 1; i <= 5; ++i) {
        std::ofstream(folder / ("app2020010" + std::to_string(i) + "-120000.log")) << "x";
    }
    FileOutput output(1, folder / "app.log", FileMode::Decorate, 0, 3);
    write(output, "decorated");

    std::vector<std::string> expected = others;
    expected.push_back(std::filesystem::path(output.currentFile()).filename().string());
    for (int i = 3; i <= 5; ++i) {
        expected.push_back("app2020010" + std::to_string(i) + "-120000.log");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder.names(), expected);
    EXPECT_EQ(texts(readLog(output.currentFile())), (std::vector<std::string>{"decorated"}));
}

TEST(FileOutput, RestartsOncePerLimitWhenTheFullFileCannotBeMovedAside) {
    ScratchFolder folder;
    // A folder where the old file should go: neither deleted nor replaced.
    std::filesystem::create_directories(folder / "app.old.log" + "/keep");
    FileOutput output(1, folder / "app.log", FileMode::New, 1000, 0);
    for (int i = 0; i < 40; ++i) {
        write(output, "line " + std::to_string(i));
    }
    const auto lines = texts(readLog(folder / "app.log"));
    const auto restarts = std::count(lines.begin(), lines.end(), "restart");
    EXPECT_EQ(lines.size() - restarts, 40u);
    EXPECT_GE(restarts, 1);
    EXPECT_LE(restarts, 5); // one per 1000 bytes of lines (about ten), not one per line
}

TEST(FileOutput, AFileThatCannotBeOpenedIsTriedAgainWithALimit) {
    ScratchFolder folder;
    const std::string path = folder / "later" + "/app.log";
    FileOutput limited(1, path, FileMode::New, 1000, 0);
    FileOutput unlimited(1, path + ".unlimited", FileMode::New, 0, 0);
    write(limited, "lost");
    write(unlimited, "lost");
    std::filesystem::create_directories(folder / "later");
    write(limited, "found");
    write(unlimited, "lost again");
    EXPECT_EQ(texts(readLog(path)), (std::vector<std::string>{"restart", "found"}));
    EXPECT_FALSE(std::filesystem::exists(path + ".unlimited"));
}

} // namespace
} // namespace qv::sys::Logger
