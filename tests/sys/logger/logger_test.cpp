#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <future>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/line_format.h"
#include "sys/logger/log_cipher.h"
#include "sys/logger/log_test_files.h"
#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"
#include "sys/logger/output_impl.h"
#include "sys/logger/plain_line.h"
#include "sys/config/registry_test_support.h"
#include "sys/logger/settings_data.h"
#include "tools/log_reader/log_reader.h"

namespace qv::sys::Logger {
namespace {

// Called under the logger lock. Keeps each line deciphered, in pieces with
// yields between them: without the lock, lines of several threads would mix.
// Fails on "boom".
struct CapturingSink : LineSink {
    void write(const std::string& enciphered) override {
        const std::string line = test::plainLine(enciphered);
        if (line.size() > 5 && line.compare(line.size() - 5, 5, "\tboom") == 0) {
            throw std::runtime_error("disk full");
        }
        for (char c : line + "\n") {
            written += c;
            std::this_thread::yield();
        }
    }
    std::string written;
    std::shared_ptr<int> alive = std::make_shared<int>();
};

struct Widget : virtual Logged {
    explicit Widget(const std::string& module, const std::string& privateFile = std::string())
        : Logged(module, "", privateFile, 0x100000, 0) {}
    int log(Level level, const std::string& text) const {
        QV_LOG(level) << text;
        return __LINE__ - 1;
    }
};

Widget* lateWidget = nullptr;
std::string bannerLine;

// The logger starts before any test, as in the program.
CapturingSink* const programSink = [] {
    // Registered before the logger exists, so it runs after the logger has
    // ended at exit: logging then must stay harmless.
    std::atexit([] {
        if (lateWidget != nullptr) {
            if (!core().ended()) {
                std::abort(); // a fresh core: identities would point into the freed one
            }
            lateWidget->log(kAlways, "after the end");
            Widget("Late").log(kAlways, "after the end");
        }
    });
    auto sink = std::make_unique<CapturingSink>();
    CapturingSink* const kept = sink.get();
    initialise("LoggerTest", kInfo, 0x1, false, std::move(sink));
    bannerLine = kept->written;
    return kept;
}();

// Takes the lines of `module` out of the sink, without their time.
std::vector<std::string> takeLines(const std::string& module) {
    CriticalSectionGuard guard(LoggerCore::lock());
    std::vector<std::string> lines;
    std::string others;
    std::stringstream stream(programSink->written);
    for (std::string line; std::getline(stream, line);) {
        if (line.find('\t' + module + '\t') == std::string::npos) {
            others += line + '\n';
        } else {
            lines.push_back(line.substr(line.find('\t') + 1));
        }
    }
    programSink->written = others;
    return lines;
}

TEST(Logger, RecordReachesTheModuleOutputsWithItsFields) {
    Widget widget("Dispatch");
    SetLastError(1234);
    const int line = widget.log(kInfo, "hello 42");
    EXPECT_EQ(GetLastError(), 1234u);
    int evaluated = 0;
    QV_LOG_AS(widget, kDebug) << ++evaluated; // above the verbosity: never built
    EXPECT_EQ(evaluated, 0);
    LogRecord(widget, kInfo, "@@ab\\cd@@", 1).end();
    // __FILE__ is cut at its last separator; a token is kept whole.
    const std::string fields =
        std::to_string(GetCurrentThreadId()) + ":\tDispatch\t" + widget.instanceId() + "\tINFO\t";
    EXPECT_EQ(takeLines("Dispatch"),
              (std::vector<std::string>{fields + "logger_test.cpp:" + std::to_string(line) + "\thello 42",
                                        fields + "@@ab\\\\cd@@:1\t"}));

    // The clock counts milliseconds, not seconds or counter ticks: a loose bound, not a timing check.
    const std::uint32_t start = core().elapsedMs();
    Sleep(100);
    const std::uint32_t elapsed = core().elapsedMs() - start;
    EXPECT_GT(elapsed, 0u);
    EXPECT_LT(elapsed, 60000u);

    lateWidget = new Widget("Dispatch"); // kept: it logs again at exit
}

TEST(Logger, RecordsAreWrittenOnlyAtLevelsAnOutputAccepts) {
    Widget widget("Levels");
    static HelperOStream sinkStream(*programSink);
    Output& output =
        core().own(std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(sinkStream), 1));
    core().setModuleOutputs("Levels", kVerbose, {{&output, kInfo}});
    EXPECT_TRUE(widget.isLogging(kVerbose));
    widget.log(kDebug, "five");
    widget.log(kVerbose, "six");
    widget.log(kAlways, "zero");

    core().addOutput("Levels", output, 100); // raises the verbosity beyond the table
    for (Level level : {-1, 7, 100, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(widget.isLogging(level)) << level;
        LogRecord(widget, level, "s", 1).end();
    }
    const auto lines = takeLines("Levels");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\tALWAYS\t"), std::string::npos) << lines[0];
}

TEST(Logger, OutputThatAddsAnOutputToItsOwnModuleKeepsTheRecordGoing) {
    // Adds an output to the module of the record it is writing, once.
    struct Adding : Output {
        void output(std::uint32_t, Level, const char*, std::int32_t, const std::string& moduleName,
                    const std::string&, std::uint32_t, const std::string&, const std::string&) override {
            if (added != nullptr) {
                core().addOutput(moduleName, *std::exchange(added, nullptr), kInfo);
            }
        }
        Output* added = nullptr;
    };
    static HelperOStream sinkStream(*programSink);
    Output& sink =
        core().own(std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(sinkStream), 1));
    auto& adding = static_cast<Adding&>(core().own(std::make_unique<Adding>()));
    adding.added = &sink;
    Widget widget("Adding");
    core().setModuleOutputs("Adding", kInfo, {{&adding, kInfo}, {&sink, kInfo}, {&sink, kInfo}});
    widget.log(kInfo, "first");  // the outputs it started with
    widget.log(kInfo, "second"); // and the added one
    std::vector<std::string> texts;
    for (const std::string& line : takeLines("Adding")) {
        texts.push_back(line.substr(line.rfind('\t') + 1));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "first", "second", "second", "second"}));
}

TEST(Logger, FirstInitialiseWritesTheBannerAndASecondChangesNothing) {
    // Version, builder, build moment, then the start as ctime gives it.
    EXPECT_TRUE(std::regex_match(
        bannerLine,
        std::regex(
            R"([\d:.]+\t\d+:[^\t]*\tLoggerTest\t[0-9A-F]{16}\tALWAYS\tlogger\.cpp:1105\t)"
            R"(Version \d+\.\d+\.\d+\.\d+\. Built by [^,]+, at \d\d:\d\d:\d\d [A-Z][a-z]{2} [1-9]\d? \d{4}\. )"
            R"([^\t]*[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\n*)")))
        << bannerLine;

    LoggerCore& first = core();
    auto second = std::make_unique<CapturingSink>();
    const std::weak_ptr<int> secondAlive = second->alive;
    initialise("Other", kVerbose, 0x2, true, std::move(second));
    EXPECT_TRUE(secondAlive.expired()); // the sink went with the call
    EXPECT_EQ(&core(), &first);
    EXPECT_EQ(core().name(), "LoggerTest");
}

TEST(Logger, ThreadsKeepTheirOwnNamesAndTheirLinesWhole) {
    Widget widget("Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&widget, t] {
            EXPECT_EQ(currentThreadName(), "");
            setCurrentThreadName(("Worker:" + std::to_string(t)).c_str());
            for (int i = 0; i < 100; ++i) {
                widget.log(kInfo, std::to_string(t) + " record-" + std::to_string(i));
            }
            setCurrentThreadName(nullptr);
            EXPECT_EQ(currentThreadName(), "");
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    // Every line whole and carrying the name of the thread that wrote it.
    const auto lines = takeLines("Threads");
    EXPECT_EQ(lines.size(), 400u);
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, std::regex(R"(\d+:Worker:(\d)\tThreads\t[0-9A-F]{16}\tINFO\t)"
                                                      R"(logger_test\.cpp:\d+\t\1 record-\d+)")))
            << line;
    }
}

TEST(Logger, OutputExceptionReachesTheCallSiteAndReleasesTheLock) {
    Widget widget("Throwing");
    EXPECT_THROW(widget.log(kInfo, "boom"), std::runtime_error);
    EXPECT_NO_THROW(LogRecord(widget, kInfo, "s", 1) << "boom"); // a destructor cannot pass it on

    // Another thread could not get in had the lock been left held.
    auto later = std::async(std::launch::async, [&] { widget.log(kInfo, "after"); });
    ASSERT_EQ(later.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto lines = takeLines("Throwing");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].rfind('\t')), "\tafter");
}

// A text no earlier run of this test wrote: the log files of the prefix outlive runs.
std::string runMark() {
    return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
}

TEST(Logger, TheDefaultLogFileReadsBackLineForLine) {
    const std::string path = core().defaultLogPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path, core().directory() + "LoggerTest.log");
    const std::string mark = runMark();
    Widget widget("ReadBack");
    widget.log(kInfo, "plain " + mark);
    widget.log(kWarn, "token " + encipherToken(logKey(), "fixed text") + " " + mark);
    widget.log(kError, "outside a@@b@@ and\nbreak\tC:\\x " + mark);
    widget.log(kDebug, "not written " + mark);

    std::istringstream none;
    std::ostringstream plain;
    std::ostringstream errors;
    const char* const args[] = {"qv_log_reader", path.c_str()};
    EXPECT_EQ(tools::runLogReader(2, args, none, plain, errors), 0) << errors.str();
    std::vector<std::string> fromFile;
    std::istringstream lines(plain.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.find(mark) != std::string::npos) {
            fromFile.push_back(line.substr(line.find('\t') + 1));
        }
    }
    const auto fromSink = takeLines("ReadBack");
    EXPECT_EQ(fromFile, fromSink);
    ASSERT_EQ(fromFile.size(), 3u);
    EXPECT_EQ(testing::textOf(fromFile[1]), "token fixed text " + mark);
    EXPECT_EQ(testing::textOf(fromFile[2]), "outside a@@b@@ and\\nbreak\\tC:\\\\x " + mark);
}

TEST(Logger, PrivateFileTakesTheModuleOver) {
    Widget before("Private");
    before.log(kInfo, "to the usual outputs");
    const std::string path = core().directory() + "qv_private_test.log";
    {
        Widget owner("Private", "qv_private_test");
        Widget second("Private", "qv_private_test");
        owner.log(kInfo, "one");
        second.log(kInfo, "two");
        EXPECT_FALSE(second.isLogging(kDebug));
    }
    before.log(kInfo, "three");
    EXPECT_EQ(takeLines("Private").size(), 1u);

    const auto lines = testing::readLog(path);
    ASSERT_EQ(lines.size(), 4u); // one file, though two identities asked for it
    EXPECT_NE(lines[0].find("\tALWAYS\tlogger.cpp:1436\tVersion "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Private log started at "), std::string::npos) << lines[0];
    EXPECT_EQ(testing::textOf(lines[1]), "one");
    EXPECT_EQ(testing::textOf(lines[3]), "three");
}

TEST(Logger, SpellingsOfOneFileWriteThroughOneOutputAndAFileThatCannotBeMadeIsTold) {
    testing::ScratchFolder folder;
    auto settings = std::make_unique<SettingsData>();
    settings->key("Logger").putValue("directory", folder.directory());
    const std::string outputs = "Spellings\\Logger\\Outputs\\";
    settings->key(outputs + "a").putValue("filename", folder / "Trace.log");
    std::string slashed = folder / "trace.LOG";
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    settings->key(outputs + "b").putValue("filename", slashed);
    settings->key(outputs + "c").putValue("filename", folder / "SPELLINGS.log"); // the default file's
    settings->key(outputs + "d").putValue("filename", folder / "missing\\d.log");
    settings->key("Spellings\\Logger\\Modules\\Early\\Outputs").putValue("a", "INFO");
    LoggerCore local("Spellings", kInfo, 0, false, nullptr, std::move(settings));
    local.dispatch(local.getModule("Early"), kInfo, "s", 1, "", "early");
    ModuleEntry& module = local.getModule("Late"); // lists every output
    local.dispatch(module, kInfo, "s", 1, "", "late");

    std::vector<std::string> trace;
    for (const std::string& line : testing::readLog(folder / "Trace.log")) {
        trace.push_back(testing::textOf(line));
    }
    ASSERT_EQ(trace.size(), 3u); // each line once
    EXPECT_EQ(trace[0], "early");
    EXPECT_EQ(trace[1].find("Logger settings: the output \"d\" cannot open "), 0u) << trace[1];
    EXPECT_NE(trace[1].find("missing\\\\d.log: win32 0x00000003: "), std::string::npos) << trace[1];
    EXPECT_EQ(trace[2], "late");
    const auto defaultLog = testing::readLog(folder / "Spellings.log");
    ASSERT_EQ(defaultLog.size(), 3u);
    EXPECT_EQ(testing::textOf(defaultLog[2]), "late");
}

const std::string kSettings = "Software\\Quorvane\\LoggerTest\\Logger\\";

// Sets a string value of this test's logger settings.
void setSetting(HKEY hive, const std::string& key, const std::string& name, const std::string& value) {
    ASSERT_EQ(RegSetKeyValueA(hive, (kSettings + key).c_str(), name.c_str(), REG_SZ, value.c_str(),
                              static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
}

std::vector<std::string> decipherLines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(test::plainLine(line));
    }
    return result;
}

TEST(Logger, RegistrySettingsTellWhoseHiveTheyCameFrom) {
    setSetting(HKEY_CURRENT_USER, "", "directory", "C:\\Users\\Public");
    const std::vector<std::string> path = {"LoggerTest", "Logger"};
    const SettingsKey other =
        makeRegistrySettingsSource(std::make_shared<test::AnotherAccountsHive>())->read(path, Hive::User);
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettings.c_str());
    EXPECT_EQ(other.value("directory"), "C:\\Users\\Public");
    EXPECT_TRUE(other.fromAnotherAccount());
}

TEST(Logger, ModulesAndOutputsFollowTheRegistry) {
    testing::ScratchFolder folder;
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegDeleteTreeA(hive, kSettings.c_str());
    }
    // With a log directory, only an output's name can choose a standard stream.
    setSetting(HKEY_CURRENT_USER, "Outputs\\stdout", "filename", "not used for stdout");
    setSetting(HKEY_CURRENT_USER, "Outputs\\stderr", "filename", "not used for stderr");
    setSetting(HKEY_CURRENT_USER, "Outputs\\regfile", "filename", folder / "reg.log");
    setSetting(HKEY_CURRENT_USER, "Outputs\\regfile", "Mode", "append");
    setSetting(HKEY_LOCAL_MACHINE, "Outputs\\machineonly", "filename", folder / "machine.log");
    setSetting(HKEY_LOCAL_MACHINE, "Outputs\\machineonly", "line type", "1");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegA\\Outputs", "stdout", "VERBOSE");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegA\\Outputs", "regfile", "warn");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegB", "verbosity", "ERROR");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegB", "stderr", "");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegB", "machineonly", "INFO");
    setSetting(HKEY_CURRENT_USER, "Modules\\RegB", "missing", "INFO");

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Widget a("RegA");
    Widget b("RegB");
    EXPECT_TRUE(a.isLogging(kVerbose));
    EXPECT_TRUE(b.isLogging(kInfo));
    EXPECT_FALSE(b.isLogging(kDebug));
    a.log(kVerbose, "a6");
    a.log(kWarn, "a3");
    b.log(kInfo, "b4");
    b.log(kError, "b2");

    const auto out = decipherLines(::testing::internal::GetCapturedStdout());
    const auto err = decipherLines(::testing::internal::GetCapturedStderr());
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegDeleteTreeA(hive, kSettings.c_str());
    }
    const std::string idA = a.instanceId();
    const std::string idB = b.instanceId();
    EXPECT_EQ(out, (std::vector<std::string>{"[RegA " + idA + "] a6", "[RegA " + idA + "] a3"}));
    EXPECT_EQ(err, (std::vector<std::string>{"[RegB " + idB + "] b2"}));
    EXPECT_EQ(testing::readLog(folder / "reg.log"), (std::vector<std::string>{"[RegA " + idA + "] a3"}));
    // "missing" has no key: the module's outputs are told so, at WARN.
    const auto machine = testing::readLog(folder / "machine.log");
    ASSERT_EQ(machine.size(), 3u);
    EXPECT_NE(machine[0].find("Outputs\\\\missing has no value \"filename\""), std::string::npos)
        << machine[0];
    EXPECT_NE(machine[1].find("\tRegB\t" + idB + "\tINFO\t"), std::string::npos) << machine[1];
    // The sink follows the module's level.
    const auto sink = takeLines("RegA");
    ASSERT_EQ(sink.size(), 2u);
    EXPECT_EQ(testing::textOf(sink[0]), "a6");
    const auto told = takeLines("RegB");
    ASSERT_EQ(told.size(), 3u);
    EXPECT_NE(told[0].find("\tWARN\t"), std::string::npos) << told[0];
}

} // namespace
} // namespace qv::sys::Logger
