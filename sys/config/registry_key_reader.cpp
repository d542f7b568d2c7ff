#include "sys/config/registry_key_reader.h"

#include "sys/win32/unique_handle.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <windows.h>

namespace qv::sys::win32::registry {

#define QV_REGISTRY_COPY_SLOTS(Class)                                                                        \
    std::unique_ptr<Exception> Class::clone() const {                                                        \
        return std::make_unique<Class>(*this);                                                               \
    }                                                                                                        \
    void Class::rethrow() const {                                                                            \
        throw Class(*this);                                                                                  \
    }

QV_REGISTRY_COPY_SLOTS(RegistryException)
QV_REGISTRY_COPY_SLOTS(InvalidKeyNameException)
QV_REGISTRY_COPY_SLOTS(KeyDoesNotExistException)
QV_REGISTRY_COPY_SLOTS(AccessDeniedException)
QV_REGISTRY_COPY_SLOTS(CannotOpenKeyException)
QV_REGISTRY_COPY_SLOTS(CannotReadValueException)
QV_REGISTRY_COPY_SLOTS(InvalidHandleException)

#undef QV_REGISTRY_COPY_SLOTS

namespace {

using win32::UniqueHkey;

// Values at or beyond this size are refused rather than read.
constexpr DWORD kValueSizeLimit = 0x100000;

HKEY rootFromName(const std::wstring& name) {
    struct Root {
        const wchar_t* name;
        HKEY key;
    };
    static const Root roots[] = {
        {L"HKCR", HKEY_CLASSES_ROOT},  {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", HKEY_CURRENT_USER},  {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", HKEY_USERS},          {L"HKEY_USERS", HKEY_USERS},
    };
    for (const Root& root : roots) {
        if (name == root.name) {
            return root.key;
        }
    }
    throw InvalidKeyNameException(ERROR_PATH_NOT_FOUND);
}

class SystemKeyOpener : public IKeyOpener {
public:
    long openUserClassesRoot(void* userToken, std::uint32_t access, void*& key) override {
        HKEY opened = nullptr;
        const LONG status = RegOpenUserClassesRoot(static_cast<HANDLE>(userToken), 0, access, &opened);
        key = opened;
        return status;
    }
    long openKey(void* root, const std::wstring& subPath, std::uint32_t access, void*& key) override {
        HKEY opened = nullptr;
        const LONG status = RegOpenKeyExW(static_cast<HKEY>(root), subPath.c_str(), 0, access, &opened);
        key = opened;
        return status;
    }
};

UniqueHkey openKey(const std::wstring& path, REGSAM access, HANDLE userToken, IKeyOpener* opener) {
    static SystemKeyOpener systemOpener;
    IKeyOpener& calls = opener != nullptr ? *opener : systemOpener;
    const std::size_t separator = path.find(L'\\');
    const std::wstring rootName = path.substr(0, separator);
    const std::wstring subPath =
        separator == std::wstring::npos ? std::wstring() : path.substr(separator + 1);
    HKEY root = rootFromName(rootName);

    UniqueHkey userClasses;
    if (root == HKEY_CLASSES_ROOT && userToken != nullptr) {
        void* opened = nullptr;
        const long status = calls.openUserClassesRoot(userToken, access, opened);
        userClasses.reset(static_cast<HKEY>(opened));
        if (status != ERROR_SUCCESS) {
            throw CannotOpenKeyException(static_cast<std::uint32_t>(status));
        }
        root = userClasses.get();
    }

    // An empty sub-path opens the root itself again.
    void* opened = nullptr;
    const long status = calls.openKey(root, subPath, access, opened);
    UniqueHkey key(static_cast<HKEY>(opened));
    switch (status) {
    case ERROR_SUCCESS:
        return key;
    case ERROR_FILE_NOT_FOUND:
        throw KeyDoesNotExistException(ERROR_FILE_NOT_FOUND);
    case ERROR_ACCESS_DENIED:
        throw AccessDeniedException(ERROR_ACCESS_DENIED);
    default:
        throw CannotOpenKeyException(static_cast<std::uint32_t>(status));
    }
}

// The raw data of one value, at most kValueSizeLimit bytes; the type is not checked.
std::vector<BYTE> queryValue(HKEY key, const std::wstring& valueName) {
    std::vector<BYTE> data(16);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        const LONG status = RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(std::min<std::size_t>(size, data.size()));
            return data;
        }
        if (status != ERROR_MORE_DATA || size >= kValueSizeLimit) {
            throw CannotReadValueException(static_cast<std::uint32_t>(status));
        }
        // Twice the reported size leaves room for a value that grows meanwhile.
        data.assign(static_cast<std::size_t>(size) * 2, 0);
    }
}

bool isMalformedValue(const RegistryException& e) {
    return dynamic_cast<const CannotReadValueException*>(&e) != nullptr &&
           (e.code() == ERROR_INTERNAL_ERROR || e.code() == ERROR_MORE_DATA);
}

// Runs `read`, turning a registry failure into false and a record: a warning
// for malformed data, a debug note for a missing key or value.
template <typename Read>
bool answered(const Logger::Logged& log, const char* kind, const std::wstring& valueName,
              const std::wstring& keyPath, Read read) {
    try {
        read();
        return true;
    } catch (const RegistryException& e) {
        const Logger::Level level = isMalformedValue(e) ? Logger::kWarn : Logger::kDebug;
        QV_LOG_AS(log, level) << kind << ' ' << narrowText(valueName) << " of " << narrowText(keyPath)
                              << " unread: " << narrowText(e.text());
        return false;
    }
}

} // namespace

RegistryKeyReader::RegistryKeyReader(std::wstring keyPath, std::uint32_t accessMask, void* userToken,
                                     IKeyOpener* opener)
    : Logged("RegistryKeyReader", ""), keyPath_(std::move(keyPath)), accessMask_(accessMask),
      userToken_(userToken), opener_(opener) {}

RegistryKeyReader::~RegistryKeyReader() = default;

void RegistryKeyReader::setKeyPath(const std::wstring& path) {
    keyPath_ = path;
}

std::uint32_t RegistryKeyReader::dwordValue(const std::wstring& valueName) const {
    const UniqueHkey key = openKey(keyPath_, accessMask_, userToken_, opener_);
    const std::vector<BYTE> data = queryValue(key.get(), valueName);
    if (data.size() != sizeof(std::uint32_t)) {
        throw CannotReadValueException(ERROR_INTERNAL_ERROR);
    }
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::wstring RegistryKeyReader::stringValue(const std::wstring& valueName) const {
    const UniqueHkey key = openKey(keyPath_, accessMask_, userToken_, opener_);
    const std::vector<BYTE> data = queryValue(key.get(), valueName);
    // Registry strings need not be terminated, and an odd last byte is no character.
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

bool RegistryKeyReader::readDword(const std::wstring& valueName, std::uint32_t& value) {
    return answered(*this, "DWORD", valueName, keyPath_, [&] { value = dwordValue(valueName); });
}

bool RegistryKeyReader::readString(const std::wstring& valueName, std::wstring& value) {
    return answered(*this, "string", valueName, keyPath_, [&] { value = stringValue(valueName); });
}

bool RegistryKeyReader::readBool(const std::wstring& valueName, bool& value) {
    std::uint32_t number = 0;
    if (!readDword(valueName, number)) {
        return false;
    }
    value = number != 0;
    return true;
}

bool RegistryKeyReader::keyExists(const std::wstring& path) {
    try {
        openKey(path, accessMask_, userToken_, opener_);
        return true;
    } catch (const RegistryException&) {
        return false;
    }
}

} // namespace qv::sys::win32::registry

namespace qv::sys::win32 {

namespace {

// Digits only, no sign or blanks, within 32 bits.
std::optional<std::uint32_t> parseBuildNumber(const std::wstring& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
        if (number > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(number);
}

} // namespace

bool WindowsVersionFacts::atLeast(std::uint32_t major, std::uint32_t minor) const {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) !=
           FALSE;
}

bool WindowsVersionFacts::isServer() const {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.wProductType = VER_NT_WORKSTATION;
    return VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL)) ==
           FALSE;
}

std::uint32_t WindowsVersionFacts::productType() const {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        throw SystemErrorCodeException(GetLastError());
    }
    DWORD type = 0;
    GetProductInfo(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor, info.wServicePackMinor,
                   &type);
    return type;
}

std::optional<std::uint32_t> windowsBuildNumber() {
    static const std::optional<std::uint32_t> build = [] {
        registry::RegistryKeyReader reader(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                           registry::kKeyQueryValue);
        std::wstring text;
        return reader.readString(L"CurrentBuildNumber", text) ? parseBuildNumber(text) : std::nullopt;
    }();
    return build;
}

std::uint32_t windowsVersionCode(const WindowsVersionFacts& facts) {
    if (facts.atLeast(10, 1)) {
        return 16;
    }
    if (facts.atLeast(10, 0)) {
        const std::optional<std::uint32_t> build = facts.buildNumber();
        if (build && *build >= 16300) {
            return 15;
        }
        if (build && *build >= 15064) {
            return 14;
        }
        if (build && *build >= 14394) {
            return 13;
        }
        if (build && *build >= 10587) {
            return 12;
        }
        return 11;
    }
    if (facts.atLeast(6, 3)) {
        return 10;
    }
    if (facts.atLeast(6, 2)) {
        return 9;
    }
    if (facts.atLeast(6, 1)) {
        if (!facts.isServer()) {
            return 6;
        }
        return facts.productType() == PRODUCT_SOLUTION_EMBEDDEDSERVER ? 8 : 7;
    }
    if (facts.atLeast(6, 0)) {
        return facts.isServer() ? 5 : 4;
    }
    if (facts.atLeast(5, 1)) {
        return facts.isServer() ? 3 : 2;
    }
    return 1;
}

} // namespace qv::sys::win32
