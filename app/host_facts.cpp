#include "app/record_writer.h"

namespace qv::telemetry {

HostFacts HostFacts::gather(const AdapterInfoList& adapters) {
    HostFacts host;
    host.wiredAdapters = wiredPciAdapters(adapters);
    host.wirelessAdapters = wirelessPciAdapters(adapters);
    host.computerName = qv::telemetry::computerName();
    return host;
}

OutputStream::OutputStream(std::ostream* out, const AdapterInfoList& adapters,
                           std::promise<std::int32_t>* endOfCache)
    : OutputStream(out, HostFacts::gather(adapters), endOfCache) {}

} // namespace qv::telemetry
