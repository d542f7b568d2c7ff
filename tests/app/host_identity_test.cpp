#include "app/host_identity.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

using qv::telemetry::AdapterKind;
using qv::telemetry::NetworkAdapter;

namespace {

// An adapter chain laid out as GetAdaptersInfo returns it, and the device ids
// an injected lookup finds for the adapter names.
struct AdapterChain {
    std::deque<IP_ADAPTER_INFO> adapters; // stable addresses for the Next links
    std::map<std::string, std::string> deviceIds;

    void add(const std::string& name, UINT type, BYTE lastMacByte, const std::string& deviceId) {
        IP_ADAPTER_INFO& info = adapters.emplace_back(IP_ADAPTER_INFO{});
        std::strncpy(info.AdapterName, name.c_str(), sizeof(info.AdapterName) - 1);
        info.Type = type;
        info.AddressLength = 8; // only the first six bytes count
        const BYTE address[8] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, lastMacByte, 0xEE, 0xEE};
        std::memcpy(info.Address, address, sizeof(address));
        if (adapters.size() > 1)
            adapters[adapters.size() - 2].Next = &info;
        deviceIds[name] = deviceId;
    }
    std::vector<std::string>
    ids(std::vector<NetworkAdapter> (*select)(const IP_ADAPTER_INFO*,
                                              const qv::telemetry::DeviceIdLookup&)) const {
        std::vector<std::string> result;
        for (const NetworkAdapter& adapter :
             select(&adapters.front(), [&](const std::string& name) { return deviceIds.at(name); }))
            result.push_back(adapter.deviceInstanceId);
        return result;
    }
};

using Ids = std::vector<std::string>;

} // namespace

TEST(HostAdapters, SelectsPciAdaptersByKindInSnapshotOrder) {
    AdapterChain chain;
    chain.add("{wired-1}", MIB_IF_TYPE_ETHERNET, 1, "PCI\\VEN_1");
    chain.add("{wifi}", 71, 2, "PCI\\VEN_2");
    chain.add("{usb}", MIB_IF_TYPE_ETHERNET, 3, "USB\\VID_3");
    chain.add("{no-device}", 71, 4, "");
    chain.add("{loopback}", MIB_IF_TYPE_LOOPBACK, 5, "PCI\\VEN_5");
    chain.add("{wired-2}", MIB_IF_TYPE_ETHERNET, 6, "PCI\\VEN_6");

    EXPECT_EQ(chain.ids(qv::telemetry::listAdapters),
              (Ids{"PCI\\VEN_1", "PCI\\VEN_2", "USB\\VID_3", "PCI\\VEN_5", "PCI\\VEN_6"}));
    EXPECT_EQ(chain.ids(qv::telemetry::wiredPciAdapters), (Ids{"PCI\\VEN_1", "PCI\\VEN_6"}));
    EXPECT_EQ(chain.ids(qv::telemetry::wirelessPciAdapters), Ids{"PCI\\VEN_2"});

    const auto all =
        qv::telemetry::listAdapters(&chain.adapters.front(), [](const std::string&) { return "PCI"; });
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[1].kind, AdapterKind::Wireless);
    EXPECT_EQ(all[4].kind, AdapterKind::Other);
    EXPECT_EQ(all[5].macAddress.toText(), "00:1a:2b:3c:4d:06");
    EXPECT_TRUE(qv::telemetry::listAdapters(nullptr, [](const std::string&) { return "PCI"; }).empty());
}

TEST(HostAdapters, BusPrefixIsExactlyUpperCasePci) {
    AdapterChain chain;
    const Ids ids = {"pci\\VEN_1", "Pci\\VEN_2", "PC", " PCI\\VEN_3", "ROOT\\PCI", "PCI", "PCI\\VEN_4"};
    for (const std::string& id : ids) {
        chain.add("{wired " + id + "}", MIB_IF_TYPE_ETHERNET, 0, id);
        chain.add("{wifi " + id + "}", 71, 0, id);
    }
    EXPECT_EQ(chain.ids(qv::telemetry::wiredPciAdapters), (Ids{"PCI", "PCI\\VEN_4"}));
    EXPECT_EQ(chain.ids(qv::telemetry::wirelessPciAdapters), (Ids{"PCI", "PCI\\VEN_4"}));
}
