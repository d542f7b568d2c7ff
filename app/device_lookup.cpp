#include "app/device_lookup.h"

#include "sys/win32/unique_handle.h"

#include <cstring>
#include <memory>
#include <utility>

namespace qv::sys::win32::device {

namespace {

bool isUsable(HDEVINFO handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

std::string textUpToZero(const char* text, std::size_t capacity) {
    const void* end = std::memchr(text, 0, capacity);
    return std::string(text, end ? static_cast<const char*>(end) - text : capacity);
}

} // namespace

DeviceInfoSet::DeviceInfoSet(const GUID& classGuid, bool interfaceClass)
    : handle_(SetupDiGetClassDevsA(&classGuid, nullptr, nullptr,
                                   DIGCF_PRESENT | (interfaceClass ? DIGCF_DEVICEINTERFACE : 0))) {}

DeviceInfoSet::~DeviceInfoSet() {
    destroy();
}

DeviceInfoSet::DeviceInfoSet(DeviceInfoSet&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DeviceInfoSet& DeviceInfoSet::operator=(DeviceInfoSet&& other) noexcept {
    if (this != &other) {
        destroy();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void DeviceInfoSet::destroy() noexcept {
    // A failed open leaves INVALID_HANDLE_VALUE, which must not be destroyed.
    if (isUsable(handle_)) {
        const DWORD lastError = GetLastError();
        SetupDiDestroyDeviceInfoList(handle_);
        SetLastError(lastError);
    }
    handle_ = nullptr;
}

bool DeviceInfoSet::isOpen() const {
    return isUsable(handle_);
}

DeviceInfo DeviceInfoSet::deviceAt(DWORD index) const {
    if (!isOpen())
        return DeviceInfo();
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInfo(handle_, index, &data))
        return DeviceInfo();
    return DeviceInfo(handle_, data);
}

DeviceInfo::DeviceInfo() : Logged("DeviceInfo", ""), set_(nullptr), data_{} {
    data_.cbSize = sizeof(data_);
}

DeviceInfo::DeviceInfo(HDEVINFO set, const SP_DEVINFO_DATA& data)
    : Logged("DeviceInfo", ""), set_(set), data_(data) {
    data_.cbSize = sizeof(data_);
}

DeviceInfo::DeviceInfo(DeviceInfo&& other) noexcept
    : Logged("DeviceInfo", ""), set_(other.set_), data_(other.data_) {}

DeviceInfo& DeviceInfo::operator=(DeviceInfo&& other) noexcept {
    set_ = other.set_;
    data_ = other.data_;
    return *this;
}

std::string DeviceInfo::deviceInstanceId() const {
    if (!isValid())
        return std::string();
    // The first call only learns the size; it fails with ERROR_INSUFFICIENT_BUFFER.
    DWORD required = 0;
    SetupDiGetDeviceInstanceIdA(set_, const_cast<SP_DEVINFO_DATA*>(&data_), nullptr, 0, &required);
    if (required == 0)
        return std::string();
    auto buffer = std::make_unique<char[]>(required);
    if (!SetupDiGetDeviceInstanceIdA(set_, const_cast<SP_DEVINFO_DATA*>(&data_), buffer.get(), required,
                                     nullptr))
        return std::string();
    return textUpToZero(buffer.get(), required);
}

std::string DeviceInfo::driverKeyValue(const std::string& name) const {
    if (!isValid())
        return std::string();
    // SetupDiOpenDevRegKey reports failure as INVALID_HANDLE_VALUE, not null.
    const sys::win32::UniqueHkey key(SetupDiOpenDevRegKey(set_, const_cast<SP_DEVINFO_DATA*>(&data_),
                                                          DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
    if (!key.isValid())
        return std::string();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::string();
    // One spare zero byte ends a string stored without its terminator.
    const std::size_t capacity = static_cast<std::size_t>(size) + 1;
    auto buffer = std::make_unique<char[]>(capacity);
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.get()),
                         &size) != ERROR_SUCCESS)
        return std::string();
    if (type != REG_SZ)
        return std::string();
    return textUpToZero(buffer.get(), capacity);
}

} // namespace qv::sys::win32::device
