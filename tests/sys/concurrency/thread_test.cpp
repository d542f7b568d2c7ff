#include <windows.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "sys/concurrency/flag.h"
#include "sys/concurrency/thread.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/exception.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/log_capture.h"
#include "sys/logger/plain_line.h"

namespace qv::sys {
namespace {

// Every record also goes to standard error, where a death test's child can be read.
const bool loggerStarted = [] {
    Logger::initialise("ThreadTest", Logger::kVerbose, 0, false,
                       std::make_unique<test::PrintingSink>(stderr));
    return true;
}();

// Runs until released; notes what it saw of itself.
struct Worker : Thread {
    Worker() : Logged("Worker", "") {}
    void run() override {
        seenName = Logger::currentThreadName();
        seenId = GetCurrentThreadId();
        HANDLE token = nullptr;
        hadToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) != FALSE;
        if (hadToken) {
            CloseHandle(token);
        }
        release.wait(kWaitForever);
    }
    AutoFlag release{false};
    std::string seenName;
    DWORD seenId = 0;
    bool hadToken = false;
};

TEST(Thread, RunsOnlyAfterStartUnderItsNameAndTheCreatorsImpersonation) {
    test::LogCapture& log = test::LogCapture::of("Worker");
    {
        Worker idle; // never started: its body never runs, and join has nothing to wait for
        EXPECT_TRUE(idle.join(0));
    }
    Worker worker;
    const std::string name = "Worker:" + worker.instanceId();
    EXPECT_EQ(worker.threadName(), name);
    EXPECT_TRUE(worker.start());
    EXPECT_FALSE(worker.join(0));
    EXPECT_FALSE(worker.join(1000));
    worker.release.set();
    EXPECT_TRUE(worker.join(Thread::kJoinForever));
    EXPECT_TRUE(worker.join(0));
    EXPECT_EQ(worker.seenName, name);
    EXPECT_EQ(worker.seenId, worker.threadId());
    EXPECT_FALSE(worker.hadToken);
    EXPECT_FALSE(worker.isImpersonating());
    // Created twice (idle, worker), then started on the new thread, under its name.
    const auto records = log.take();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].line, 129);
    EXPECT_EQ(records[2], (test::CapturedRecord{6, 81, name, "Thread started: " + name}));

    // Created while the creator impersonates: the body runs impersonating too.
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    Worker impersonating;
    RevertToSelf();
    EXPECT_TRUE(impersonating.isImpersonating());
    impersonating.start();
    impersonating.release.set();
    impersonating.join(Thread::kJoinForever);
    EXPECT_TRUE(impersonating.hadToken);

    // Joined and started again, now by a creator that does not impersonate:
    // the new thread gets no token, and says so.
    EXPECT_TRUE(impersonating.start());
    impersonating.release.set();
    EXPECT_TRUE(impersonating.join(Thread::kJoinForever));
    EXPECT_FALSE(impersonating.hadToken);
    EXPECT_FALSE(impersonating.isImpersonating());
}

struct Throwing : Thread {
    Throwing() : Logged("Throwing", "") {}
    void run() override { throw Failure("body failed"); }
};

struct Faulting : Thread {
    Faulting() : Logged("Faulting", "") {}
    void run() override {
        volatile int zero = 0;
        result = 1 / zero;
    }
    volatile int result = 0;
};

template <typename Body>
void runToTheEnd() {
    Body body;
    body.start();
    body.join(Thread::kJoinForever);
    std::fprintf(stderr, "the process went on\n");
    std::exit(0);
}

std::string fileStart(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char start[4] = {};
    file.read(start, 4);
    return std::string(start, static_cast<std::size_t>(file.gcount()));
}

// In a child process: the body's exception ends the process (abort, exit
// status 3) after the level-1 record; a dump lands where dumps go.
TEST(ThreadDeathTest, ExceptionOrFaultEscapingTheBodyIsFatalWithRecordAndDump) {
    const std::string dump = debugLocation(false) + executableBaseName() + ".dmp";
    std::remove(dump.c_str());
    EXPECT_EXIT(runToTheEnd<Throwing>(), testing::ExitedWithCode(3),
                "Crash dump written to .*\\s.*FATAL\\sthread.cpp:87\\sException escaped the thread body: .*body failed");
    EXPECT_EQ(fileStart(dump), "MDMP");

    std::remove(dump.c_str());
    EXPECT_EXIT((installErrorHandlers(), runToTheEnd<Faulting>()), testing::ExitedWithCode(3),
                "Crash dump written to .*\\s.*FATAL\\s.*Exception escaped the thread body: .*C0000094 "
                "Integer Divide By Zero");
    EXPECT_EQ(fileStart(dump), "MDMP");
}

} // namespace
} // namespace qv::sys
