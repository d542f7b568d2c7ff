#include "app/device_lookup.h"
#include "app/host_identity.h"

#include <gtest/gtest.h>

#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
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
// finds devices; removed when it goes, also when the test fails. Names carry
// the process id: the test processes of a build share one prefix.
struct FakeNetDevice {
    FakeNetDevice(const std::string& bus, const std::string& name)
        : bus(bus), hardwareKey(bus + "\\VEN_QV&DEV_" + name + "_" + std::to_string(GetCurrentProcessId())) {
        // Wine reads the driver path into 50 characters: the class, "\" and at most 10 more.
        static unsigned count = 0;
        char driverNumber[11];
        std::snprintf(driverNumber, sizeof(driverNumber), "%lX%02X", GetCurrentProcessId(), ++count & 0xFFu);
        driver = netClass + "\\" + driverNumber;
        setValue(enumRoot + instanceId(), "ClassGUID", REG_SZ, netClass + '\0');
        setValue(enumRoot + instanceId(), "Driver", REG_SZ, driver + '\0');
    }
    ~FakeNetDevice() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (enumRoot + hardwareKey).c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (enumRoot + bus).c_str()); // fails while others use it
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classRoot + driver).c_str());
    }
    std::string instanceId() const { return hardwareKey + "\\0"; }
    void setDriverValue(const std::string& name, DWORD type, const std::string& bytes) const {
        setValue(classRoot + driver, name, type, bytes);
    }

    std::string bus, hardwareKey, driver;
};

// Fake devices of the host identity test that an earlier run left behind
// (crashed, or ended by a time-out): they would claim its adapters. That test
// never runs twice at once, so every one of them is stale.
void removeStaleHostDevices() {
    for (const std::string bus : {"PCI", "USB"}) {
        std::vector<std::string> stale;
        HKEY devices = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (enumRoot + bus).c_str(), 0, KEY_READ, &devices) ==
            ERROR_SUCCESS) {
            char name[256];
            for (DWORD i = 0, size = sizeof name;
                 RegEnumKeyExA(devices, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
                 ++i, size = sizeof name) {
                if (std::string(name).rfind("VEN_QV&DEV_HOST", 0) == 0)
                    stale.push_back(bus + "\\" + name);
            }
            RegCloseKey(devices);
        }
        for (const std::string& hardwareKey : stale) {
            char driver[128] = {};
            DWORD size = sizeof driver;
            if (RegGetValueA(HKEY_LOCAL_MACHINE, (enumRoot + hardwareKey + "\\0").c_str(), "Driver",
                             RRF_RT_REG_SZ, nullptr, driver, &size) == ERROR_SUCCESS)
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classRoot + driver).c_str());
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (enumRoot + hardwareKey).c_str());
        }
    }
}

} // namespace

TEST(DeviceInfo, ReadsInstanceIdAndPlainStringDriverValuesOnly) {
    const FakeNetDevice fake("PCI", "VALUES");
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
    removeStaleHostDevices();
    const qv::telemetry::AdapterInfoList snapshot;
    const IP_ADAPTER_INFO* wired = snapshot.first();
    while (wired && wired->Type != MIB_IF_TYPE_ETHERNET)
        wired = wired->Next;
    if (wired == nullptr)
        GTEST_SKIP()
            << "GetAdaptersInfo reports no Ethernet adapter on this host: none to put on a fake device";
    const std::size_t listedBefore = qv::telemetry::listAdapters(snapshot).size();

    const FakeNetDevice pci("PCI", "HOSTNIC");
    pci.setDriverValue("NetCfgInstanceId", REG_SZ, wired->AdapterName + std::string(1, '\0'));
    const FakeNetDevice usb("USB", "HOSTUSB");
    const IP_ADAPTER_INFO* other = wired->Next;
    if (other)
        usb.setDriverValue("NetCfgInstanceId", REG_SZ, other->AdapterName + std::string(1, '\0'));

    EXPECT_EQ(qv::telemetry::deviceInstanceIdForAdapter(std::string(wired->AdapterName) + " "), "");
    const auto adapters = qv::telemetry::wiredPciAdapters(snapshot);
    const auto ours =
        std::find_if(adapters.begin(), adapters.end(), [&](const qv::telemetry::NetworkAdapter& a) {
            return a.deviceInstanceId == pci.instanceId();
        });
    ASSERT_NE(ours, adapters.end());
    EXPECT_EQ(ours->macAddress, qv::telemetry::MacAddress(wired->Address));
    for (const auto& adapter : qv::telemetry::wirelessPciAdapters(snapshot))
        EXPECT_NE(adapter.deviceInstanceId, usb.instanceId());
    EXPECT_EQ(qv::telemetry::listAdapters(snapshot).size(), listedBefore + (other ? 2 : 1));
}
