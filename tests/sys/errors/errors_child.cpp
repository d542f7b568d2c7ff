// Takes one failure path that ends the process, as the program meets it.

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "sys/errors/assertion.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/runtime_abort.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/plain_line.h"
#include "sys/logger/logger.h"

// Where GCC sends a call of a pure virtual function.
extern "C" void __cxa_pure_virtual();

namespace {

volatile int zero = 0;
int* volatile nowhere = nullptr;

// Frameless: it faults with the stack 8 bytes off the alignment of a body.
__attribute__((noinline)) int readLeaf(const int* p) {
    return *p;
}

template <typename Fault>
void faultCaught(Fault fault) {
    struct Local {
        ~Local() { std::printf("unwound\n"); }
    };
    try {
        Local local;
        fault();
    } catch (const qv::sys::SystemException& e) {
        std::printf("caught: %s\n", e.what());
    }
}

void divide() {
    zero = 1 / zero;
}

__attribute__((noinline)) void writeThroughNull() {
    *nowhere = 1;
}

// Ends the process with the code, starting no debugger (which would outlive
// the process with its output open).
LONG WINAPI reportUnhandled(EXCEPTION_POINTERS* pointers) {
    std::printf("unhandled %08lX\n", pointers->ExceptionRecord->ExceptionCode);
    std::fflush(stdout);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Shows the abort flags asked for, then hands over to the library's handler.
void (*g_libraryAbortHandler)(int) = nullptr;
void showAbortFlags(int signal) {
    std::printf("abort flags %u\n", qv::sys::requestedAbortBehaviour());
    std::fflush(stdout);
    g_libraryAbortHandler(signal);
}

} // namespace

int main(int argc, char** argv) {
    qv::sys::Logger::initialise("ErrorsChild", qv::sys::Logger::kInfo, 0, false,
                                std::make_unique<qv::sys::test::PrintingSink>(stdout));
    qv::sys::installErrorHandlers();
    SetUnhandledExceptionFilter(&reportUnhandled);
    const std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "fatal-claimed") {
        qv::sys::claimFatal(); // as if another thread were failing first
    }
    try {
        if (scenario.rfind("fatal", 0) == 0) {
            throw std::runtime_error("boom");
        }
    } catch (...) {
        qv::sys::fatalError("QuorvaneAnalytics appMain", nullptr);
    }
    if (scenario == "escape-main") {
        throw std::runtime_error("out of main");
    } else if (scenario == "fault-main") {
        // Nothing catches it: the fault's dump, then the terminate handler's.
        std::printf("fault in thread %lu function %p\n", GetCurrentThreadId(),
                    reinterpret_cast<void*>(&writeThroughNull));
        std::fflush(stdout);
        writeThroughNull();
    } else if (scenario == "abort") {
        std::abort();
    } else if (scenario == "pure-call") {
        __cxa_pure_virtual();
    } else if (scenario == "invalid-parameter") {
        qv::sys::invalidParameterHandler(nullptr, nullptr, nullptr, 0, 0);
    } else if (scenario == "translate") {
        std::thread([] {
            qv::sys::installStructuredExceptionTranslator();
            faultCaught(divide);
            qv::sys::installStructuredExceptionTranslator();
            faultCaught([] { zero = readLeaf(nowhere); });
            try {
                throw std::runtime_error("plain"); // GCC's own throws pass the handler untouched
            } catch (const std::exception& e) {
                std::printf("then %s\n", e.what());
            }
            faultCaught(divide); // the translator went with its translation
        }).join();
    } else if (scenario == "fault-other-thread") {
        std::thread([] { faultCaught(divide); }).join();
    } else if (scenario == "assert") {
        g_libraryAbortHandler = std::signal(SIGABRT, &showAbortFlags);
        QV_ASSERT_CMP(zero, ==, 1);
    }
    std::printf("carried on\n");
    return 0;
}
