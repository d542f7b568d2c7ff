#include <windows.h>

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
#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"
#include "sys/logger/sink_output.h"

namespace qv::sys::Logger {
namespace {

// Called under the logger lock. Writes each line in pieces with yields between
// them: without the lock, lines of several threads would mix. Fails on "boom".
struct CapturingSink : LineSink {
    void write(const std::string& line) override {
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
    explicit Widget(const std::string& module) : Logged(module, "") {}
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
                                        fields + "@@ab\\cd@@:1\t"}));

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
    Output& output = core().own(std::make_unique<SinkOutput>(*programSink, kDecoratedLine));
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
    Output& sink = core().own(std::make_unique<SinkOutput>(*programSink, kDecoratedLine));
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
            R"([^\t]*[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}\n\n)")))
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

} // namespace
} // namespace qv::sys::Logger
