#include "app/host_identity.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

using namespace qv::telemetry;

TEST(HostAdapters, SelectsAdaptersOfEachKindOnExactlyThePciBusInSnapshotOrder) {
    // A chain laid out as GetAdaptersInfo gives it. The injected lookup finds
    // the device id in braces as the adapter's name; "{}" is an adapter
    // without a device.
    std::deque<IP_ADAPTER_INFO> chain; // stable addresses for the Next links
    const DeviceIdLookup lookup = [](const std::string& name) { return name.substr(1, name.size() - 2); };
    const auto add = [&chain](UINT type, const std::string& deviceId) {
        IP_ADAPTER_INFO& info = chain.emplace_back(IP_ADAPTER_INFO{});
        std::strncpy(info.AdapterName, ("{" + deviceId + "}").c_str(), sizeof(info.AdapterName) - 1);
        info.Type = type;
        info.AddressLength = 8; // only the first six bytes count
        const BYTE address[8] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, BYTE(chain.size()), 0xEE, 0xEE};
        std::memcpy(info.Address, address, sizeof(address));
        if (chain.size() > 1)
            chain[chain.size() - 2].Next = &info;
    };
    const UINT wired = MIB_IF_TYPE_ETHERNET;
    const UINT wifi = 71;
    add(wired, "PCI\\VEN_1");
    add(wifi, "PCI\\VEN_2");
    add(wired, "USB\\VID_3");
    add(wifi, "");
    add(MIB_IF_TYPE_LOOPBACK, "PCI\\VEN_5");
    for (const std::string notPci : {"pci\\VEN_6", "Pci\\VEN_7", "PC", " PCI\\VEN_8", "ROOT\\PCI"}) {
        add(wired, notPci);
        add(wifi, notPci);
    }
    add(wired, "PCI");
    add(wifi, "PCI\\VEN_9");

    using Ids = std::vector<std::string>;
    const auto ids = [](const std::vector<NetworkAdapter>& adapters) {
        Ids result;
        for (const NetworkAdapter& adapter : adapters)
            result.push_back(adapter.deviceInstanceId);
        return result;
    };
    EXPECT_EQ(ids(wiredPciAdapters(&chain.front(), lookup)), (Ids{"PCI\\VEN_1", "PCI"}));
    EXPECT_EQ(ids(wirelessPciAdapters(&chain.front(), lookup)), (Ids{"PCI\\VEN_2", "PCI\\VEN_9"}));

    const std::vector<NetworkAdapter> all = listAdapters(&chain.front(), lookup);
    ASSERT_EQ(all.size(), chain.size() - 1); // without the one that has no device
    EXPECT_EQ(ids({all.begin(), all.begin() + 4}),
              (Ids{"PCI\\VEN_1", "PCI\\VEN_2", "USB\\VID_3", "PCI\\VEN_5"}));
    EXPECT_EQ((std::vector<AdapterKind>{all[0].kind, all[1].kind, all[3].kind}),
              (std::vector<AdapterKind>{AdapterKind::Ethernet, AdapterKind::Wireless, AdapterKind::Other}));
    EXPECT_EQ(all[3].macAddress.toText(), "00:1a:2b:3c:4d:05");
    EXPECT_TRUE(listAdapters(nullptr, lookup).empty());
}
