#include "app/app_main.h"

#include "app/dock_event_handler.h"
#include "app/end_of_cache.h"
#include "app/host_identity.h"
#include "app/module_path.h"
#include "sys/errors/error_handlers.h"
#include "sys/errors/exception.h"

#include <windows.h>

#include <future>

namespace qv::telemetry {

const std::string pipeName = "qvm_message_server";

std::string copyrightBanner() {
    return "QuorvaneAnalytics - Copyright (c) 2019-2026 Quorvane Technologies. All rights reserved.";
}

std::unique_ptr<sys::MessageReader> startMessageReader(std::unique_ptr<sys::MessageHandler> handler,
                                                       const std::string& pipeName) {
    return std::make_unique<sys::MessageReader>(std::move(handler), pipeName);
}

void appMain(AppState& state, std::ostream& out, const ReaderFactory& makeReader) {
    out << copyrightBanner() << std::endl;

    AdapterInfoList adapters;
    state.writer = std::make_unique<OutputStream>(&out, adapters, &endOfCache);

    if (!state.reader) {
        auto handler = std::make_unique<QvmMessageHandler>(state.writer.get());
        state.reader = makeReader(std::move(handler), pipeName);
    }

    {
        std::future<std::int32_t> done = endOfCache.get_future();
        // Whether the cache ended or the time ran out makes no difference here.
        done.wait_until(std::chrono::system_clock::now() + waitLimit);
    }

    // Joins the reader's thread; the handler then replays leaving docks to the writer.
    state.reader.reset();
}

namespace {

void setWorkingDirectory(const sys::Logger::Logged& logged) {
    const std::wstring directory = modulePath(L"\\");
    if (!SetCurrentDirectoryW(directory.c_str())) {
        QV_LOG_RECORD(logged, sys::Logger::kWarn, 24) << "Cannot change to the program's directory";
    }
}

} // namespace

int runAgent(std::ostream& out, const ReaderFactory& makeReader) {
    using namespace sys;
    installErrorHandlers();
    Logger::Logged logged("QuorvaneAnalytics", "", "", 0x100000, 0);
    // Outside the catch-all: a program that cannot find its own path ends
    // through the terminate handler.
    setWorkingDirectory(logged);
    Logger::setCurrentThreadName("QuorvaneAnalytics");

    try {
        AppState state;
        appMain(state, out, makeReader);
        state.reader.reset();
        state.writer.reset();
    } catch (...) {
        QV_LOG_RECORD(logged, Logger::kFatal, 33) << "QuorvaneAnalytics failed: " << currentExceptionText();
        fatalError("QuorvaneAnalytics appMain", nullptr);
    }
    return 0;
}

} // namespace qv::telemetry
