#include "app/device_lookup.h"
#include "app/host_identity.h"

#include <gtest/gtest.h>

#include <iphlpapi.h>

#include <algorithm>
#include <string>
#include <vector>

using qv::sys::win32::device::DeviceInfo;

namespace {

const std::string netClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string enumRoot = "System\\CurrentControlSet\\Enum\\";
const std::string classRoot = "System\\CurrentControlSet\\Control\\Class\\";

void setValue(const std::string& key, const std::string& name, DWORD type, const std::string& bytes) {
    EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), type, bytes.data(),
                              DWORD(bytes.size())),
              0)
        << key << " " << name;
}

// A network-class device in the test prefix's registry, where Wine's SetupAPI
// finds devices; removed when it goes, also when the test fails. The tests of
// a build share one prefix, but none runs twice at once: each names its own
// devices, and first removes what a crashed run of it left behind.
struct FakeNetDevice {
    // At most 9 characters in `name`: Wine reads the driver path into 50.
    FakeNetDevice(const std::string& bus, const std::string& name)
        : bus(bus), hardwareKey(bus + "\\VEN_QV&DEV_" + name), driver(netClass + "\\" + name) {
        remove();
        setValue(enumRoot + instanceId(), "ClassGUID", REG_SZ, netClass + '\0');
        setValue(enumRoot + instanceId(), "Driver", REG_SZ, driver + '\0');
    }
    ~FakeNetDevice() {
        remove();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (enumRoot + bus).c_str()); // fails while others use it
    }
    void remove() const {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (enumRoot + hardwareKey).c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classRoot + driver).c_str());
    }
    std::string instanceId() const { return hardwareKey + "\\0"; }
    void setDriverValue(const std::string& name, DWORD type, const std::string& bytes) const {
        setValue(classRoot + driver, name, type, bytes);
    }

    std::string bus, hardwareKey, driver;
};

} // namespace

TEST(DeviceInfo, ReadsInstanceIdAndPlainStringDriverValuesOnly) {
    const FakeNetDevice fake("PCI", "QVVALUES");
    fake.setDriverValue("Plain", REG_SZ, std::string("some text") + '\0');
    fake.setDriverValue("Unterminated", REG_SZ, "abcdef");
    fake.setDriverValue("Number", REG_DWORD, std::string("\7\0\0\0", 4));
    fake.setDriverValue("Expandable", REG_EXPAND_SZ, std::string("%TEMP%") + '\0');

    const GUID netClassGuid = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    const qv::sys::win32::device::DeviceInfoSet devices(netClassGuid, false);
    DeviceInfo device = devices.deviceAt(0);
    for (DWORD index = 1; device.isValid() && device.deviceInstanceId() != fake.instanceId(); ++index)
        device = devices.deviceAt(index);
    ASSERT_TRUE(device.isValid());
    EXPECT_EQ(device.driverKeyValue("Plain"), "some text");
    EXPECT_EQ(device.driverKeyValue("Unterminated"), "abcdef");
    EXPECT_EQ(device.driverKeyValue("Number") + device.driverKeyValue("Expandable"), "");
    EXPECT_EQ(device.driverKeyValue("Missing"), "");
    // A device without the value is nobody's device, not the empty name's.
    EXPECT_EQ(qv::telemetry::deviceInstanceIdForAdapter(""), "");
}

TEST(HostIdentity, RealAdapterOnFakePciDeviceBecomesTheWiredAdapter) {
    using qv::telemetry::NetworkAdapter;
    const qv::telemetry::AdapterInfoList snapshot;
    const IP_ADAPTER_INFO* wired = snapshot.first();
    while (wired && wired->Type != MIB_IF_TYPE_ETHERNET)
        wired = wired->Next;
    if (wired == nullptr)
        GTEST_SKIP()
            << "GetAdaptersInfo reports no Ethernet adapter on this host: none to put on a fake device";

    const FakeNetDevice pci("PCI", "QVHOSTNIC");
    pci.setDriverValue("NetCfgInstanceId", REG_SZ, wired->AdapterName + std::string(1, '\0'));
    const FakeNetDevice usb("USB", "QVHOSTUSB");
    const IP_ADAPTER_INFO* other = wired->Next;
    if (other)
        usb.setDriverValue("NetCfgInstanceId", REG_SZ, other->AdapterName + std::string(1, '\0'));

    EXPECT_EQ(qv::telemetry::deviceInstanceIdForAdapter(std::string(wired->AdapterName) + " "), "");
    // Every adapter with a device is listed; only the one on the PCI bus is the host's.
    const auto find = [](const std::vector<NetworkAdapter>& adapters, const FakeNetDevice& device) {
        return std::find_if(adapters.begin(), adapters.end(), [&](const NetworkAdapter& a) {
            return a.deviceInstanceId == device.instanceId();
        });
    };
    const auto hosts = qv::telemetry::wiredPciAdapters(snapshot);
    ASSERT_NE(find(hosts, pci), hosts.end());
    EXPECT_EQ(find(hosts, pci)->macAddress, qv::telemetry::MacAddress(wired->Address));
    EXPECT_EQ(find(hosts, usb), hosts.end());
    const auto listed = qv::telemetry::listAdapters(snapshot);
    EXPECT_EQ(find(listed, usb) != listed.end(), other != nullptr);
}
