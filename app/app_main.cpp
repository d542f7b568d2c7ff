#include "app/app_main.h"

#include "app/dock_event_handler.h"
#include "app/end_of_cache.h"
#include "app/host_identity.h"

#include <future>

namespace qv::telemetry {

const std::string pipeName = "qvm_message_server";

std::string copyrightBanner() {
    return "QuorvaneAnalytics - Copyright (c) 2019-2026 Quorvane Technologies. All rights reserved.";
}

void appMain(AppState& state, std::ostream& out) {
    out << copyrightBanner() << std::endl;

    AdapterInfoList adapters;
    state.writer = std::make_unique<OutputStream>(&out, adapters, &endOfCache);

    if (!state.reader) {
        auto handler = std::make_unique<QvmMessageHandler>(state.writer.get());
        state.reader = std::make_unique<sys::MessageReader>(std::move(handler), pipeName);
    }

    {
        std::future<std::int32_t> done = endOfCache.get_future();
        // Whether the cache ended or the time ran out makes no difference here.
        done.wait_until(std::chrono::system_clock::now() + waitLimit);
    }

    // Joins the reader's thread; the handler then replays leaving docks to the writer.
    state.reader.reset();
}

} // namespace qv::telemetry
