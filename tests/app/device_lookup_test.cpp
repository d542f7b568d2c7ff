#include "app/device_lookup.h"
#include "app/host_identity.h"

#include <gtest/gtest.h>

#include <iphlpapi.h>

#include <cstdio>
#include <string>

using qv::sys::win32::device::DeviceInfo;
using qv::sys::win32::device::DeviceInfoSet;

namespace {

const GUID netClassGuid = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const std::string netClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string enumRoot = "System\\CurrentControlSet\\Enum\\";
const std::string classRoot = "System\\CurrentControlSet\\Control\\Class\\";

// A network-class device in the test prefix's registry, where Wine's SetupAPI
// finds devices; removed when it goes, also when the test fails. Names carry
// the process id: the test processes of a build share one prefix.
class FakeNetDevice {
public:
    FakeNetDevice(const std::string& bus, const std::string& name, bool withDriverKey = true)
        : bus_(bus), hardwareId_("VEN_QV&DEV_" + name + "_" + std::to_string(GetCurrentProcessId())) {
        setValue(enumRoot + instanceId(), "ClassGUID", REG_SZ, netClass.c_str(), netClass.size() + 1);
        if (withDriverKey) {
            // Wine reads the driver path into 50 characters: the class, "\" and at most 10 more.
            static unsigned count = 0;
            char driver[11];
            std::snprintf(driver, sizeof(driver), "%lX%02X", GetCurrentProcessId(), ++count & 0xFFu);
            driver_ = netClass + "\\" + driver;
            setValue(enumRoot + instanceId(), "Driver", REG_SZ, driver_.c_str(), driver_.size() + 1);
        }
    }
    ~FakeNetDevice() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (enumRoot + bus_ + "\\" + hardwareId_).c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (enumRoot + bus_).c_str()); // fails while others use it
        if (!driver_.empty())
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classRoot + driver_).c_str());
    }

    std::string instanceId() const { return bus_ + "\\" + hardwareId_ + "\\0"; }
    void setDriverValue(const std::string& name, DWORD type, const void* data, std::size_t size) {
        setValue(classRoot + driver_, name, type, data, size);
    }
    void setDriverString(const std::string& name, const std::string& text) {
        setDriverValue(name, REG_SZ, text.c_str(), text.size() + 1);
    }

private:
    static void setValue(const std::string& key, const std::string& name, DWORD type, const void* data,
                         std::size_t size) {
        EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), type, data, DWORD(size)), 0)
            << key << " " << name;
    }

    std::string bus_, hardwareId_, driver_;
};

DeviceInfo findDevice(const DeviceInfoSet& devices, const std::string& instanceId) {
    for (DWORD index = 0;; ++index) {
        DeviceInfo device = devices.deviceAt(index);
        if (!device.isValid() || device.deviceInstanceId() == instanceId)
            return device;
    }
}

} // namespace

TEST(DeviceInfo, ReadsInstanceIdAndPlainStringDriverValuesOnly) {
    const FakeNetDevice noDriver("PCI", "A_NODRIVER", false);
    FakeNetDevice fake("PCI", "B_VALUES");
    fake.setDriverString("Plain", "some text");
    fake.setDriverValue("Unterminated", REG_SZ, "abcdef", 6);
    const DWORD number = 7;
    fake.setDriverValue("Number", REG_DWORD, &number, sizeof(number));
    fake.setDriverValue("Expandable", REG_EXPAND_SZ, "%TEMP%", 7);

    const DeviceInfoSet devices(netClassGuid, false);
    const DeviceInfo device = findDevice(devices, fake.instanceId());
    ASSERT_TRUE(device.isValid());
    EXPECT_EQ(device.driverKeyValue("Plain"), "some text");
    EXPECT_EQ(device.driverKeyValue("Unterminated"), "abcdef");
    EXPECT_EQ(device.driverKeyValue("Number") + device.driverKeyValue("Expandable"), "");
    EXPECT_EQ(device.driverKeyValue("Missing"), "");
    EXPECT_EQ(findDevice(devices, noDriver.instanceId()).driverKeyValue("NetCfgInstanceId"), "");
    // A device without the value is nobody's device, not the empty name's.
    EXPECT_EQ(qv::telemetry::deviceInstanceIdForAdapter(""), "");

    const GUID noDevices = {0x7A1C0C5E, 0x51D2, 0x4F1B, {0x9A, 0x44, 0x0D, 0x6E, 0x21, 0x93, 0x55, 0x01}};
    DeviceInfoSet empty(noDevices, false);
    EXPECT_FALSE(empty.deviceAt(0).isValid());
    const DeviceInfoSet moved(std::move(empty));
    EXPECT_FALSE(empty.deviceAt(0).isValid());
}

TEST(HostIdentity, RealAdapterOnFakePciDeviceBecomesTheWiredAdapter) {
    const qv::telemetry::AdapterInfoList snapshot;
    const IP_ADAPTER_INFO* wired = snapshot.first();
    while (wired && wired->Type != MIB_IF_TYPE_ETHERNET)
        wired = wired->Next;
    ASSERT_NE(wired, nullptr) << "GetAdaptersInfo reports no Ethernet adapter on this host";
    EXPECT_TRUE(qv::telemetry::listAdapters(snapshot).empty()); // a stock prefix has no network devices

    FakeNetDevice pci("PCI", "HOSTNIC");
    pci.setDriverString("NetCfgInstanceId", wired->AdapterName);
    FakeNetDevice usb("USB", "HOSTUSB");
    const IP_ADAPTER_INFO* other = wired->Next;
    if (other)
        usb.setDriverString("NetCfgInstanceId", other->AdapterName);

    EXPECT_EQ(qv::telemetry::deviceInstanceIdForAdapter(std::string(wired->AdapterName) + " "), "");
    const auto adapters = qv::telemetry::wiredPciAdapters(snapshot);
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].deviceInstanceId, pci.instanceId());
    EXPECT_EQ(adapters[0].macAddress, qv::telemetry::MacAddress(wired->Address));
    EXPECT_TRUE(qv::telemetry::wirelessPciAdapters(snapshot).empty());
    EXPECT_EQ(qv::telemetry::listAdapters(snapshot).size(), other ? 2u : 1u);
}

TEST(HostIdentity, ComputerNameIsTheSystemsName) {
    char expected[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(expected);
    ASSERT_TRUE(GetComputerNameA(expected, &size));
    EXPECT_NE(qv::telemetry::computerName(), "");
    EXPECT_EQ(qv::telemetry::computerName(), expected);
}
