// QuorvaneAnalytics: connects to the manager service's pipe, writes a
// telemetry record for every dock that connects, and exits after a second.

#include "app/app_main.h"
#include "app/module_path.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/exception.h"
#include "sys/logger/logger.h"

#include <windows.h>

#include <iostream>

namespace {

using namespace qv::sys;

void setWorkingDirectory(const Logger::Logged& logged) {
    const std::wstring directory = qv::telemetry::modulePath(L"\\");
    if (!SetCurrentDirectoryW(directory.c_str())) {
        QV_LOG_RECORD(logged, Logger::kWarn, 24) << "Cannot change to the program's directory";
    }
}

} // namespace

int main(int, char**, char**) {
    Logger::initialise("QuorvaneAnalytics", Logger::kInfo, 1, false, nullptr);
    installErrorHandlers();
    Logger::Logged logged("QuorvaneAnalytics", "", "", 0x100000, 0);
    // Outside the catch-all: a program that cannot find its own path ends
    // through the terminate handler.
    setWorkingDirectory(logged);
    Logger::setCurrentThreadName("QuorvaneAnalytics");

    try {
        qv::telemetry::AppState state;
        qv::telemetry::appMain(state, std::cout);
        state.reader.reset();
        state.writer.reset();
    } catch (...) {
        QV_LOG_RECORD(logged, Logger::kFatal, 33) << "QuorvaneAnalytics failed: " << currentExceptionText();
        fatalError("QuorvaneAnalytics appMain", nullptr);
    }
    return 0;
}
