// The logger's settings from the registry: keys below Software\Quorvane of the
// current user's hive and of the machine's, read as snapshots of their string
// values and subkey names.

#include "sys/logger/logger_core.h"

#include <windows.h>

#include <vector>

namespace qv::sys::Logger {

namespace {
// Owns an open registry key (none at null).
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Names are read into 256 characters, as registry value and key names fit;
// the first entry that does not fit ends the reading of its kind.
constexpr DWORD kNameSize = 256;

void readValues(HKEY key, SettingsKey& result) {
    for (DWORD index = 0;; ++index) {
        char name[kNameSize];
        DWORD nameLength = kNameSize;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return;
        }
        if (type != REG_SZ) {
            continue;
        }
        // One byte more, zeroed: data stored without a terminating zero still end in one.
        std::vector<char> data(size + 1, '\0');
        nameLength = kNameSize;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            continue; // changed under our feet
        }
        result.putValue(std::string(name, nameLength), std::string(data.data()));
    }
}

void readSubkeys(HKEY key, SettingsKey& result) {
    for (DWORD index = 0;; ++index) {
        char name[kNameSize];
        DWORD nameLength = kNameSize;
        if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        result.putSubkey(std::string(name, nameLength));
    }
}

RegistryKey openCurrentUser() {
    HKEY opened = nullptr;
    if (RegOpenCurrentUser(KEY_READ, &opened) != ERROR_SUCCESS) {
        return RegistryKey();
    }
    return RegistryKey(opened);
}

class RegistrySettingsSource : public SettingsSource {
public:
    SettingsKey read(const std::vector<std::string>& path, Hive hive) override {
        SettingsKey result;
        const RegistryKey user = hive == Hive::User ? openCurrentUser() : RegistryKey();
        if (hive == Hive::User && user.get() == nullptr) {
            return result; // no user hive: nothing there
        }
        const HKEY root = hive == Hive::User ? user.get() : HKEY_LOCAL_MACHINE;
        std::string name = "Software\\Quorvane";
        for (const std::string& part : path) {
            name += '\\';
            name += part;
        }
        HKEY opened = nullptr;
        if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
            return result;
        }
        const RegistryKey key(opened);
        readValues(key.get(), result);
        readSubkeys(key.get(), result);
        return result;
    }
};
} // namespace

std::unique_ptr<SettingsSource> makeRegistrySettingsSource() {
    return std::make_unique<RegistrySettingsSource>();
}

} // namespace qv::sys::Logger
