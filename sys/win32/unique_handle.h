#pragma once

// Single owners of Win32 handles and registry keys. Null and
// INVALID_HANDLE_VALUE both mean "nothing owned", since the API reports
// failure with either, depending on the call. Closing keeps the caller's
// last error, which may still be read after the owner goes away.

#include <windows.h>

#include <utility>

namespace qv::sys::win32 {

template <typename T, typename Closer>
class UniqueWin32 {
public:
    UniqueWin32() noexcept = default;
    explicit UniqueWin32(T value) noexcept : value_(value) {}
    UniqueWin32(UniqueWin32&& other) noexcept : value_(other.take()) {}
    UniqueWin32& operator=(UniqueWin32&& other) noexcept {
        if (this != &other) {
            reset(other.take());
        }
        return *this;
    }
    UniqueWin32(const UniqueWin32&) = delete;
    UniqueWin32& operator=(const UniqueWin32&) = delete;
    ~UniqueWin32() { reset(); }

    bool isValid() const noexcept {
        return value_ != nullptr && value_ != reinterpret_cast<T>(INVALID_HANDLE_VALUE);
    }
    explicit operator bool() const noexcept { return isValid(); }
    T get() const noexcept { return value_; }
    // For an out-parameter: closes what is owned first.
    T* put() noexcept {
        reset();
        return &value_;
    }
    [[nodiscard]] T take() noexcept { return std::exchange(value_, nullptr); }
    void reset(T other = nullptr) noexcept {
        if (isValid()) {
            const DWORD error = GetLastError();
            Closer()(value_);
            SetLastError(error);
        }
        value_ = other;
    }

private:
    T value_ = nullptr;
};

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
struct KeyCloser {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};

using UniqueHandle = UniqueWin32<HANDLE, HandleCloser>;
using UniqueHkey = UniqueWin32<HKEY, KeyCloser>;

} // namespace qv::sys::win32
