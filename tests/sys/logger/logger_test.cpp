#include <windows.h>

#include <chrono>
#include <climits>
#include <future>
#include <mutex>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sys/logger/banner.h"
#include "sys/logger/logger.h"
#include "sys/logger/logger_core.h"

namespace qv::sys::Logger {
namespace {

std::mutex sinkMutex;
std::vector<std::string> sinkLines;

struct CapturingSink : LineSink {
    void write(const std::string& line) override {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sinkLines.push_back(line);
    }
};

struct Captured {
    std::uint32_t timeMs;
    Level level;
    std::string source;
    std::int32_t line;
    std::string module, instanceId;
    std::uint32_t threadId;
    std::string threadName, text;
};

// Called under the logger lock, so it needs no lock of its own.
struct CapturingOutput : Output {
    void output(std::uint32_t timeMs, Level level, const char* source, std::int32_t line,
                const std::string& module, const std::string& instanceId, std::uint32_t threadId,
                const std::string& threadName, const std::string& text) override {
        if (text == "boom") {
            throw std::runtime_error("disk full");
        }
        records.push_back({timeMs, level, source, line, module, instanceId, threadId, threadName, text});
    }
    std::vector<Captured> records;
};

// Starts the logger as the program does (once per process, with a sink) and
// gives `module` a fresh capturing output as its only output.
CapturingOutput& captureModule(const std::string& module, Level verbosity, Level outputLevel) {
    static const bool started = [] {
        initialise("LoggerTest", kInfo, 0x1, false, std::make_unique<CapturingSink>());
        return true;
    }();
    (void)started;
    auto& capture = static_cast<CapturingOutput&>(core().own(std::make_unique<CapturingOutput>()));
    core().setModuleOutputs(module, verbosity, {{&capture, outputLevel}});
    return capture;
}

struct Widget : virtual Logged {
    explicit Widget(const std::string& module) : Logged(module, "") {}
    int log(Level level, const std::string& text) const {
        QV_LOG(level) << text;
        return __LINE__ - 1;
    }
};

// Destroyed after the logger has ended at exit: logging then must stay harmless.
struct LateLogger {
    ~LateLogger() {
        if (widget != nullptr) {
            widget->log(kAlways, "after the end");
            Widget("Late").log(kAlways, "after the end");
        }
    }
    Widget* widget = nullptr;
} lateLogger;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    for (std::string field; std::getline(stream, field, separator);) {
        fields.push_back(field);
    }
    return fields;
}

TEST(Logger, RecordReachesTheModuleOutputsWithItsFields) {
    CapturingOutput& capture = captureModule("Dispatch", kInfo, kInfo);
    Widget widget("Dispatch");
    SetLastError(1234);
    const int line = widget.log(kInfo, "hello 42");
    EXPECT_EQ(GetLastError(), 1234u);
    int evaluated = 0;
    QV_LOG_AS(widget, kDebug) << ++evaluated; // above the verbosity: never built
    EXPECT_EQ(evaluated, 0);

    ASSERT_EQ(capture.records.size(), 1u);
    const Captured& record = capture.records[0];
    EXPECT_EQ(record.level, kInfo);
    EXPECT_EQ(record.module, "Dispatch");
    EXPECT_EQ(record.instanceId, widget.instanceId());
    EXPECT_EQ(record.source, "logger_test.cpp"); // __FILE__ cut at its last separator
    EXPECT_EQ(record.line, line);
    EXPECT_EQ(record.threadId, GetCurrentThreadId());
    EXPECT_EQ(record.text, "hello 42");
    LogRecord(widget, kInfo, "@@ab\\cd@@", 1).end();
    EXPECT_EQ(capture.records.back().source, "@@ab\\cd@@");

    struct Named : virtual Logged {
        Named() : Identity("Dispatch") {} // the default Logged takes the Identity's name
    };
    EXPECT_EQ(&Named().module(), &widget.module());
    lateLogger.widget = new Widget("Dispatch");
}

TEST(Logger, RecordsAreWrittenOnlyWhereAnOutputAcceptsTheirLevel) {
    CapturingOutput& verbose = captureModule("Verbose", kVerbose, kInfo);
    Widget widget("Verbose");
    EXPECT_TRUE(widget.isLogging(kVerbose));
    widget.log(kDebug, "five");
    widget.log(kVerbose, "six");
    EXPECT_TRUE(verbose.records.empty());

    CapturingOutput& quiet = captureModule("Quiet", kAlways, kAlways);
    Widget quietWidget("Quiet");
    EXPECT_FALSE(quietWidget.isLogging(kFatal));
    quietWidget.log(kAlways, "zero");
    ASSERT_EQ(quiet.records.size(), 1u);
    EXPECT_EQ(quiet.records[0].level, kAlways);
}

TEST(Logger, LevelsOutsideTheTableAreNeverWritten) {
    CapturingOutput& capture = captureModule("Outside", kVerbose, kVerbose);
    core().addOutput("Outside", capture, 100); // raises the verbosity beyond the table
    Widget widget("Outside");
    EXPECT_EQ(widget.module().verbosity(), 100);
    for (Level level : {-1, 7, 100, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(widget.isLogging(level)) << level;
        LogRecord(widget, level, "s", 1).end();
    }
    EXPECT_TRUE(capture.records.empty());
}

TEST(Logger, FirstInitialiseWritesTheBannerAndASecondChangesNothing) {
    captureModule("Init", kInfo, kInfo);
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        ASSERT_FALSE(sinkLines.empty());
        const auto fields = split(sinkLines.front(), '\t');
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[2], "LoggerTest");
        EXPECT_EQ(fields[4], "ALWAYS");
        EXPECT_EQ(fields[5], "logger.cpp:1105");
        EXPECT_EQ(fields[6].rfind(buildBanner() + "Log started at ", 0), 0u) << fields[6];
    }
    struct FlagSink : LineSink {
        explicit FlagSink(bool& destroyed) : destroyed(destroyed) {}
        ~FlagSink() override { destroyed = true; }
        void write(const std::string&) override {}
        bool& destroyed;
    };
    LoggerCore& first = core();
    bool destroyed = false;
    initialise("Other", kVerbose, 0x2, true, std::make_unique<FlagSink>(destroyed));
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(&core(), &first);
    EXPECT_EQ(core().name(), "LoggerTest");
    EXPECT_EQ(core().defaultVerbosity(), kInfo);
}

TEST(Logger, ThreadNamesBelongToEachThread) {
    CapturingOutput& capture = captureModule("Threads", kInfo, kInfo);
    Widget widget("Threads");
    setCurrentThreadName("Main");
    std::uint32_t workerId = 0;
    std::string fresh = "unset", cleared = "unset";
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        fresh = currentThreadName();
        setCurrentThreadName("Worker:1");
        widget.log(kInfo, "from worker");
        setCurrentThreadName(nullptr);
        cleared = currentThreadName();
    });
    worker.join();
    widget.log(kInfo, "from main");
    setCurrentThreadName(nullptr);
    EXPECT_EQ(fresh, "");
    EXPECT_EQ(cleared, "");
    ASSERT_EQ(capture.records.size(), 2u);
    EXPECT_EQ(capture.records[0].threadName, "Worker:1");
    EXPECT_EQ(capture.records[0].threadId, workerId);
    EXPECT_EQ(capture.records[1].threadName, "Main");
}

// Writes each line in pieces with yields between them: without the logger
// lock, lines of several threads would mix.
struct SlowOutput : Output {
    void output(std::uint32_t, Level, const char*, std::int32_t, const std::string&, const std::string&,
                std::uint32_t threadId, const std::string&, const std::string& text) override {
        for (char c : std::to_string(threadId) + " " + text + "\n") {
            written += c;
            std::this_thread::yield();
        }
    }
    std::string written;
};

TEST(Logger, LinesFromSeveralThreadsNeverInterleave) {
    captureModule("Interleave", kInfo, kInfo);
    auto& slow = static_cast<SlowOutput&>(core().own(std::make_unique<SlowOutput>()));
    core().setModuleOutputs("Interleave", kInfo, {{&slow, kInfo}});
    Widget widget("Interleave");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                widget.log(kInfo, "record-" + std::to_string(i) + "-end");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = split(slow.written, '\n');
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, std::regex(R"(\d+ record-\d+-end)"))) << line;
    }
}

TEST(Logger, OutputExceptionReachesTheCallSiteAndReleasesTheLock) {
    CapturingOutput& capture = captureModule("Throwing", kInfo, kInfo);
    Widget widget("Throwing");
    EXPECT_THROW(widget.log(kInfo, "boom"), std::runtime_error);
    EXPECT_NO_THROW(LogRecord(widget, kInfo, "s", 1) << "boom"); // a destructor cannot pass it on

    // Another thread could not get in had the lock been left held.
    auto later = std::async(std::launch::async, [&] { widget.log(kInfo, "after"); });
    ASSERT_EQ(later.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    ASSERT_EQ(capture.records.size(), 1u);
    EXPECT_EQ(capture.records[0].text, "after");
}

TEST(Logger, ClockCountsMilliseconds) {
    CapturingOutput& capture = captureModule("Clock", kInfo, kInfo);
    Widget widget("Clock");
    widget.log(kInfo, "first");
    Sleep(100);
    widget.log(kInfo, "second");
    ASSERT_EQ(capture.records.size(), 2u);
    // Loose bounds: they catch a clock in the wrong unit, not a slow machine.
    const std::uint32_t elapsed = capture.records[1].timeMs - capture.records[0].timeMs;
    EXPECT_GE(elapsed, 90u);
    EXPECT_LT(elapsed, 60000u);
}

} // namespace
} // namespace qv::sys::Logger
