// Leaves a dump as the agent would: a fault translated on the main thread
// while a second thread waits ("fault"), or a dump of its own state
// ("dump-here"). The dump goes where the library puts it (the executable's
// directory when no debug location is set). Line numbers of the marked lines
// are looked up by the test.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "sys/errors/error_handlers.h"
#include "sys/errors/structured_exception.h"
#include "sys/logger/logger.h"
#include "sys/logger/plain_line.h"

namespace {

int* volatile nowhere = nullptr;

__attribute__((noinline)) void writeThroughNull(int value) {
    *nowhere = value; // the fault
}

__attribute__((noinline)) void waitForever(HANDLE started) {
    SetEvent(started);
    Sleep(INFINITE);
}

__attribute__((noinline)) void leaveDumpHere(const qv::sys::Logger::Logged* logged) {
    qv::sys::dumpHere(logged); // the dump here
    std::printf("dumped\n");
}

} // namespace

int main(int argc, char** argv) {
    qv::sys::Logger::initialise("DumpChild", qv::sys::Logger::kInfo, 0, false,
                                std::make_unique<qv::sys::test::PrintingSink>(stdout));
    qv::sys::installErrorHandlers();
    const std::string scenario = argc > 1 ? argv[1] : "";
    try {
        if (scenario == "fault") {
            HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            std::thread([started] { waitForever(started); }).detach();
            WaitForSingleObject(started, INFINITE);
            writeThroughNull(argc);
        } else if (scenario == "dump-here") {
            leaveDumpHere(qv::sys::defaultErrorIdentity());
        }
    } catch (const qv::sys::SystemException& e) {
        std::printf("caught: %s\n", e.what());
    }
    return 0;
}
