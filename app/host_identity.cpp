#include "app/host_identity.h"

#include "app/device_lookup.h"

#include <iphlpapi.h>

#include <cstring>
#include <utility>

namespace qv::telemetry {

namespace {

// {4D36E972-E325-11CE-BFC1-08002BE10318}
constexpr GUID networkAdapterClass = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Adapters can appear between the sizing call and the real one; a few tries
// catch up with that without looping forever on a misbehaving driver.
constexpr int maxSnapshotAttempts = 4;

constexpr UINT ieee80211AdapterType = 71; // IF_TYPE_IEEE80211

AdapterKind kindOf(UINT adapterType) {
    switch (adapterType) {
    case MIB_IF_TYPE_ETHERNET:
        return AdapterKind::Ethernet;
    case ieee80211AdapterType:
        return AdapterKind::Wireless;
    default:
        return AdapterKind::Other;
    }
}

bool isOnPciBus(const std::string& deviceInstanceId) {
    return deviceInstanceId.compare(0, 3, "PCI") == 0;
}

std::vector<NetworkAdapter> pciAdaptersOfKind(const IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup,
                                              AdapterKind kind) {
    std::vector<NetworkAdapter> selected;
    for (NetworkAdapter& adapter : listAdapters(chain, lookup)) {
        if (adapter.kind == kind && isOnPciBus(adapter.deviceInstanceId))
            selected.push_back(std::move(adapter));
    }
    return selected;
}

} // namespace

AdapterInfoList::AdapterInfoList() {
    ULONG size = 0;
    DWORD result = GetAdaptersInfo(nullptr, &size);
    for (int attempt = 0; attempt < maxSnapshotAttempts && result == ERROR_BUFFER_OVERFLOW && size != 0;
         ++attempt) {
        auto block = std::make_unique<unsigned char[]>(size);
        result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(block.get()), &size);
        if (result == NO_ERROR) {
            block_ = std::move(block);
            return;
        }
    }
}

const IP_ADAPTER_INFO* AdapterInfoList::first() const {
    return reinterpret_cast<const IP_ADAPTER_INFO*>(block_.get());
}

std::string deviceInstanceIdForAdapter(const std::string& adapterName) {
    using sys::win32::device::DeviceInfo;
    const sys::win32::device::DeviceInfoSet devices(networkAdapterClass, false);
    for (DWORD index = 0;; ++index) {
        const DeviceInfo device = devices.deviceAt(index);
        if (!device.isValid())
            return std::string();
        // A device whose value is missing or unreadable is no match, even for an empty name.
        const std::string netCfgInstanceId = device.driverKeyValue("NetCfgInstanceId");
        if (!netCfgInstanceId.empty() && netCfgInstanceId == adapterName)
            return device.deviceInstanceId();
    }
}

std::vector<NetworkAdapter> listAdapters(const AdapterInfoList& snapshot, const DeviceIdLookup& lookup) {
    return listAdapters(snapshot.first(), lookup);
}

std::vector<NetworkAdapter> listAdapters(const IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup) {
    std::vector<NetworkAdapter> adapters;
    for (const IP_ADAPTER_INFO* info = chain; info != nullptr; info = info->Next) {
        const std::string name(info->AdapterName, strnlen(info->AdapterName, sizeof(info->AdapterName)));
        std::string deviceInstanceId = lookup(name);
        if (deviceInstanceId.empty())
            continue;
        // The first six bytes, whatever AddressLength says.
        static_assert(sizeof(info->Address) >= MacAddress::size, "hardware address buffer too short");
        adapters.push_back(
            NetworkAdapter{std::move(deviceInstanceId), MacAddress(info->Address), kindOf(info->Type)});
    }
    return adapters;
}

std::vector<NetworkAdapter> wiredPciAdapters(const AdapterInfoList& snapshot, const DeviceIdLookup& lookup) {
    return pciAdaptersOfKind(snapshot.first(), lookup, AdapterKind::Ethernet);
}

std::vector<NetworkAdapter> wiredPciAdapters(const IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup) {
    return pciAdaptersOfKind(chain, lookup, AdapterKind::Ethernet);
}

std::vector<NetworkAdapter> wirelessPciAdapters(const AdapterInfoList& snapshot,
                                                const DeviceIdLookup& lookup) {
    return pciAdaptersOfKind(snapshot.first(), lookup, AdapterKind::Wireless);
}

std::vector<NetworkAdapter> wirelessPciAdapters(const IP_ADAPTER_INFO* chain, const DeviceIdLookup& lookup) {
    return pciAdaptersOfKind(chain, lookup, AdapterKind::Wireless);
}

std::string computerName() {
    // The longest NetBIOS name, 15 characters, and its terminator.
    char buffer[16] = {};
    DWORD size = sizeof(buffer);
    GetComputerNameA(buffer, &size);
    return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

} // namespace qv::telemetry
