#pragma once

// Owners and accessors over SetupAPI: a device set of one class, one device
// of it, its instance id and a string from its driver key. Every failure reads
// as an empty result; nothing here throws except std::bad_alloc.

#include <windows.h>
#include <setupapi.h>

#include <string>

#include "sys/logger/logger.h"

namespace qv::sys::win32::device {

class DeviceInfo;

// Owns one device information set; the handle may be invalid when opening failed.
class DeviceInfoSet {
public:
    // Present devices of a device setup class, or of a device interface class.
    DeviceInfoSet(const GUID& classGuid, bool interfaceClass);
    ~DeviceInfoSet();

    DeviceInfoSet(DeviceInfoSet&& other) noexcept;
    DeviceInfoSet& operator=(DeviceInfoSet&& other) noexcept;
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool isOpen() const;
    // An empty DeviceInfo past the last device or on any error; callers
    // enumerate from 0 and stop at the first empty one.
    DeviceInfo deviceAt(DWORD index) const;

private:
    void destroy() noexcept;

    HDEVINFO handle_;
};

// One device of a set. A view: it must not outlive its DeviceInfoSet.
// It logs nothing; the identity names it in the log like every other object.
class DeviceInfo : public virtual Logger::Logged {
public:
    DeviceInfo();
    DeviceInfo(HDEVINFO set, const SP_DEVINFO_DATA& data);
    ~DeviceInfo() override = default;

    // A moved-to device is a new object with its own identity.
    DeviceInfo(DeviceInfo&& other) noexcept;
    DeviceInfo& operator=(DeviceInfo&& other) noexcept;

    bool isValid() const { return set_ != nullptr; }
    std::string deviceInstanceId() const;
    // A REG_SZ value of the device's driver key; empty when the key or value
    // is missing or the value has any other type.
    std::string driverKeyValue(const std::string& name) const;

private:
    HDEVINFO set_;
    SP_DEVINFO_DATA data_;
};

} // namespace qv::sys::win32::device
