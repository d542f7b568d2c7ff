// Takes one failure path that ends the process, as the program meets it.

#include <windows.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>

#include "sys/errors/assertion.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/logger.h"

// Outside an unnamed namespace, so the compiler cannot know every override
// and call the one it sees instead of the pure one.
struct Base;
Base* volatile constructing = nullptr;
__attribute__((noinline)) void runConstructing();
struct Base {
    Base() {
        constructing = this;
        runConstructing(); // still a Base here: the pure function
    }
    virtual ~Base() = default;
    virtual void run() = 0;
};
struct Derived : Base {
    void run() override {}
};
void runConstructing() {
    constructing->run();
}

namespace {

struct StdoutSink : qv::sys::Logger::LineSink {
    void write(const std::string& line) override {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
};

volatile int zero = 0;

// Ends the process with the exception's code, without starting a debugger
// (which would outlive the process holding its output open).
LONG WINAPI reportUnhandled(EXCEPTION_POINTERS* pointers) {
    std::printf("unhandled %08lX\n", pointers->ExceptionRecord->ExceptionCode);
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

void divideCaught() {
    try {
        std::printf("%d\n", 1 / zero);
    } catch (const qv::sys::SystemException& e) {
        std::printf("caught: %s\n", e.what());
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    qv::sys::Logger::initialise("ErrorsChild", qv::sys::Logger::kInfo, 0, false,
                                std::make_unique<StdoutSink>());
    qv::sys::installErrorHandlers();
    SetUnhandledExceptionFilter(&reportUnhandled);
    const std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "fatal-claimed") {
        qv::sys::claimFatal(); // as if another thread were failing first
    }
    if (scenario.rfind("fatal", 0) == 0) {
        try {
            throw std::runtime_error("boom");
        } catch (...) {
            qv::sys::fatalError("QuorvaneAnalytics appMain", nullptr);
        }
    }
    if (scenario == "terminate") {
        std::terminate();
    } else if (scenario == "abort") {
        std::abort();
    } else if (scenario == "pure-call") {
        Derived derived;
    } else if (scenario == "invalid-parameter") {
        qv::sys::invalidParameterHandler(nullptr, nullptr, nullptr, 0, 0);
    } else if (scenario == "fault-twice") {
        divideCaught();
        divideCaught();
    } else if (scenario == "fault-other-thread") {
        std::thread(divideCaught).join();
    } else if (scenario == "assert") {
        QV_ASSERT_CMP(zero, ==, 1);
    }
    std::printf("carried on\n");
    return 0;
}
