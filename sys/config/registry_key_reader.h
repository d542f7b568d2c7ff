#pragma once

// Reads single values of one registry key named by a full path such as
// L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", and classifies
// the running Windows version from it. The key is opened for each read and
// closed afterwards, so a reader holds no handle between calls.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sys/errors/exception.h"
#include "sys/logger/logger.h"

namespace qv::sys::win32::registry {

// Every failure to open a key or read a value; all carry a Win32 error code.
class RegistryException : public SystemErrorCodeException {
public:
    explicit RegistryException(std::uint32_t code) : SystemErrorCodeException(code) {}
    ~RegistryException() override = default;
    std::unique_ptr<Exception> clone() const override;
    [[noreturn]] void rethrow() const override;
};

// clone and rethrow keep the dynamic type, so a copy can be caught by its own class.
#define QV_REGISTRY_EXCEPTION(Class)                                                                         \
    class Class : public RegistryException {                                                                 \
    public:                                                                                                  \
        explicit Class(std::uint32_t code) : RegistryException(code) {}                                      \
        ~Class() override = default;                                                                         \
        std::unique_ptr<Exception> clone() const override;                                                   \
        [[noreturn]] void rethrow() const override;                                                          \
    };

QV_REGISTRY_EXCEPTION(InvalidKeyNameException)  // root name not known (code 3)
QV_REGISTRY_EXCEPTION(KeyDoesNotExistException) // opening failed with 2
QV_REGISTRY_EXCEPTION(AccessDeniedException)    // opening failed with 5
QV_REGISTRY_EXCEPTION(CannotOpenKeyException)   // any other opening failure
QV_REGISTRY_EXCEPTION(CannotReadValueException) // query failed, or a DWORD of the wrong size (1359)
QV_REGISTRY_EXCEPTION(InvalidHandleException)   // an open key could not be opened again for a copy

#undef QV_REGISTRY_EXCEPTION

class IRegistryKeyReader {
public:
    virtual ~IRegistryKeyReader() = default;
    virtual void setKeyPath(const std::wstring& path) = 0;
    // The read operations answer false on any registry failure; other
    // exceptions (std::bad_alloc) pass through.
    virtual bool readDword(const std::wstring& valueName, std::uint32_t& value) = 0;
    virtual bool readString(const std::wstring& valueName, std::wstring& value) = 0;
    virtual bool readBool(const std::wstring& valueName, bool& value) = 0;
    // Whether the key at `path` (not the stored path) opens with this reader's access.
    virtual bool keyExists(const std::wstring& path) = 0;
};

constexpr std::uint32_t kKeyQueryValue = 0x0001; // KEY_QUERY_VALUE

// The two calls that open keys (RegOpenUserClassesRoot, RegOpenKeyExW), each
// answering a Win32 status; a test stands in for them where the host cannot
// fail. Keys are HKEY values.
class IKeyOpener {
public:
    virtual ~IKeyOpener() = default;
    virtual long openUserClassesRoot(void* userToken, std::uint32_t access, void*& key) = 0;
    virtual long openKey(void* root, const std::wstring& subPath, std::uint32_t access, void*& key) = 0;
};

// Root names are case-sensitive: "HKLM" and "HKEY_LOCAL_MACHINE" work, "hklm" does not.
// Any thread may use its own reader; one reader is not for two threads at once.
class RegistryKeyReader : public IRegistryKeyReader, private Logger::Logged {
public:
    // `userToken` (a Win32 token handle, not owned) makes "HKCR" that user's
    // classes root; null means the process's own view. `opener` (not owned)
    // replaces the system's calls.
    explicit RegistryKeyReader(std::wstring keyPath, std::uint32_t accessMask = kKeyQueryValue,
                               void* userToken = nullptr, IKeyOpener* opener = nullptr);
    ~RegistryKeyReader() override;

    void setKeyPath(const std::wstring& path) override;
    bool readDword(const std::wstring& valueName, std::uint32_t& value) override;
    bool readString(const std::wstring& valueName, std::wstring& value) override;
    bool readBool(const std::wstring& valueName, bool& value) override;
    bool keyExists(const std::wstring& path) override;

    // The throwing forms behind the read operations.
    std::uint32_t dwordValue(const std::wstring& valueName) const;
    std::wstring stringValue(const std::wstring& valueName) const;

private:
    std::wstring keyPath_;
    std::uint32_t accessMask_;
    void* userToken_;
    IKeyOpener* opener_;
};

} // namespace qv::sys::win32::registry

namespace qv::sys::win32 {

// "CurrentBuildNumber" of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion,
// read once per process; nothing when it is missing or not a decimal number.
std::optional<std::uint32_t> windowsBuildNumber();

// What the version code is decided from; the base class answers for the
// running system.
class WindowsVersionFacts {
public:
    virtual ~WindowsVersionFacts() = default;
    // Major, minor and service-pack major (0) each at least as given.
    virtual bool atLeast(std::uint32_t major, std::uint32_t minor) const;
    // The product type is not a workstation.
    virtual bool isServer() const;
    // GetProductInfo's type; throws SystemErrorCodeException when the version cannot be read.
    virtual std::uint32_t productType() const;
    virtual std::optional<std::uint32_t> buildNumber() const { return windowsBuildNumber(); }
};

// A small integer that grows with the Windows version: 1 (older than XP) up to
// 16 (newer than Windows 10); 11 to 15 are Windows 10 builds by age. A program
// without a manifest declaring Windows 10 support sees at most 9 (Windows 8).
std::uint32_t windowsVersionCode(const WindowsVersionFacts& facts);
inline std::uint32_t windowsVersionCode() {
    return windowsVersionCode(WindowsVersionFacts());
}

} // namespace qv::sys::win32
