#pragma once

// The host's part of a telemetry record: its computer name and the hardware
// addresses of its wired and Wi-Fi adapters on the PCI bus. Adapters on any
// other bus never count as the host's address.

#include "channel/dock_event.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct _IP_ADAPTER_INFO; // <iptypes.h>

namespace qv::telemetry {

enum class AdapterKind : std::int32_t {
    Other = 0,
    Ethernet = 1, // IP Helper type 6
    Wireless = 2, // IP Helper type 71 (IEEE 802.11)
};

struct NetworkAdapter {
    std::string deviceInstanceId; // never empty; begins with the bus, e.g. "PCI"
    MacAddress macAddress;
    AdapterKind kind = AdapterKind::Other;
};

// One snapshot of GetAdaptersInfo: a chain of adapter records in one block,
// or nothing when the call failed or there are no adapters.
class AdapterInfoList {
public:
    AdapterInfoList();

    AdapterInfoList(AdapterInfoList&&) noexcept = default;
    AdapterInfoList& operator=(AdapterInfoList&&) noexcept = default;
    AdapterInfoList(const AdapterInfoList&) = delete;
    AdapterInfoList& operator=(const AdapterInfoList&) = delete;

    bool empty() const { return !block_; }
    // The first record of the chain, or null.
    const _IP_ADAPTER_INFO* first() const;

private:
    std::unique_ptr<unsigned char[]> block_;
};

// Adapter name (an interface GUID in braces) to the instance id of its device;
// empty when not found.
using DeviceIdLookup = std::function<std::string(const std::string& adapterName)>;

// The instance id of the network-class device whose driver key value
// "NetCfgInstanceId" equals adapterName exactly, or "".
std::string deviceInstanceIdForAdapter(const std::string& adapterName);

// Adapters in chain order whose device was found; the lookup defaults to SetupAPI.
std::vector<NetworkAdapter> listAdapters(const AdapterInfoList& snapshot,
                                         const DeviceIdLookup& lookup = deviceInstanceIdForAdapter);
std::vector<NetworkAdapter> listAdapters(const _IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup);

std::vector<NetworkAdapter> wiredPciAdapters(const AdapterInfoList& snapshot,
                                             const DeviceIdLookup& lookup = deviceInstanceIdForAdapter);
std::vector<NetworkAdapter> wiredPciAdapters(const _IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup);

std::vector<NetworkAdapter> wirelessPciAdapters(const AdapterInfoList& snapshot,
                                                const DeviceIdLookup& lookup = deviceInstanceIdForAdapter);
std::vector<NetworkAdapter> wirelessPciAdapters(const _IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup);

// The NetBIOS computer name; empty when it cannot be read.
std::string computerName();

} // namespace qv::telemetry
