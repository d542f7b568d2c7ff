// Reads the settings as the option classes do: REG_SZ values below
// Software\Quorvane\<section>, the user's hive first where it counts; a value
// of another type is not a setting. Every read is kept in this one file so
// that it can move onto the option classes without touching the callers.

#include "sys/errors/error_settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include <windows.h>

#include "sys/errors/error_handlers.h"
#include "sys/errors/quiet_log.h"

namespace qv::sys {

namespace {

class RegistryKey {
public:
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
    HKEY key_;
};

std::optional<std::string> readString(HKEY hive, const char* section, const char* name) {
    const std::string path = std::string("Software\\Quorvane\\") + section;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(hive, path.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const RegistryKey key(opened);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    // One zero more than reported: the stored text need not end in one.
    std::string text(size + 1, '\0');
    DWORD read = size;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &read) !=
            ERROR_SUCCESS ||
        type != REG_SZ || read > size) {
        return std::nullopt;
    }
    text.resize(text.find('\0'));
    return text;
}

std::optional<std::string> readSetting(const char* section, const char* name, bool includeUser) {
    if (includeUser) {
        if (auto text = readString(HKEY_CURRENT_USER, section, name)) {
            return text;
        }
    }
    return readString(HKEY_LOCAL_MACHINE, section, name);
}

// Leading blanks, an optional sign and decimal digits; no number reads as 0.
// A number beyond 32 bits is not taken for some other number: nothing.
std::optional<std::int32_t> decimalNumber(const std::string& text) {
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

std::string debugLocationSetting() {
    try {
        return readSetting("Core", "DebugLocation", true).value_or(std::string());
    } catch (...) {
        return std::string();
    }
}

bool uniqueDumpFilesSetting() {
    try {
        const auto text = readSetting("Core", "EnableUniqueDmpFiles", true);
        if (!text || text->empty()) {
            return false;
        }
        if (std::string("TYty").find((*text)[0]) != std::string::npos) {
            return true;
        }
        // A number too large for 32 bits is still not 0.
        const auto number = decimalNumber(*text);
        return !number || *number != 0;
    } catch (...) {
        return false;
    }
}

std::int32_t assertBehaviourSetting() {
    constexpr std::int32_t kDefault = 3;
    try {
        const auto text = readSetting("QuorvaneManager", "AssertBehaviour", false);
        if (!text) {
            return kDefault;
        }
        const auto number = decimalNumber(*text);
        if (!number) {
            QV_LOG_QUIETLY(defaultErrorIdentity(), Logger::kWarn,
                           "AssertBehaviour \"" << *text << "\" is out of range; the default 3 applies");
            return kDefault;
        }
        return *number;
    } catch (...) {
        return kDefault;
    }
}

} // namespace qv::sys
