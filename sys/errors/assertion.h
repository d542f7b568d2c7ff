#pragma once

// Internal consistency checks. A failed check does not throw: it is reported
// to the assertion handling, which by default logs it and writes a dump, and
// the caller carries on. The machine setting "AssertBehaviour" (read at every
// failure) chooses the handlers: bit 0 log, bit 1 dump, bit 2 abort with the
// runtime's message and fault report, bit 3 abort silently.
//
//   QV_ASSERT(handle != nullptr);
//   QV_ASSERT_MSG(cancelled, "CancelIo failed: " + text);
//   QV_ASSERT_CMP(transferred, ==, total);   // expansion "30 == 8"

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

namespace qv::sys {

class IAssertFailureHandler {
public:
    virtual ~IAssertFailureHandler() = default;
    virtual void failed(const std::wstring& description, const std::wstring& file, std::uint32_t line) = 0;
    virtual void failedAt(const std::wstring& file, std::uint32_t line) = 0;
};

// The handlers chosen by the current "AssertBehaviour", in bit order.
std::unique_ptr<IAssertFailureHandler> createAssertHandler();

// The one entry point of the checks. `expression` is the failed condition's
// text, `expansion` the values it saw and `message` an extra text (both may
// be empty). Returns unless a handler ends the process.
void reportAssertionFailure(const char* expression, const std::string& expansion, const std::string& message,
                            const std::wstring& file, std::uint32_t line);

// Value texts of expansions.
inline std::string assertionValueText(bool value) {
    return value ? "true" : "false";
}
inline std::string assertionValueText(std::nullptr_t) {
    return "{null ptr}";
}
template <typename T>
std::string assertionValueText(const T* pointer) {
    return pointer != nullptr ? "{not null pointer}" : "{null ptr}";
}
template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
std::string assertionValueText(T value) {
    if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<std::underlying_type_t<T>>(value));
    } else {
        return std::to_string(value);
    }
}

} // namespace qv::sys

#define QV_ASSERT_WIDE_TEXT_(text) L##text
#define QV_ASSERT_WIDE_TEXT(text) QV_ASSERT_WIDE_TEXT_(text)

#define QV_ASSERT_MSG(condition, message)                                                                    \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            ::qv::sys::reportAssertionFailure(#condition, std::string(), (message),                          \
                                              QV_ASSERT_WIDE_TEXT(__FILE__), __LINE__);                      \
        }                                                                                                    \
    } while (false)

#define QV_ASSERT(condition) QV_ASSERT_MSG(condition, std::string())

// Compares with `op`; on failure the expansion shows both values, so the
// operands are evaluated a second time then.
#define QV_ASSERT_CMP(left, op, right) QV_ASSERT_CMP_AT(left, op, right, __LINE__)
// The same with a fixed line number, for failures that log readers know by it.
#define QV_ASSERT_CMP_AT(left, op, right, line)                                                              \
    do {                                                                                                     \
        if (!((left)op(right))) {                                                                            \
            ::qv::sys::reportAssertionFailure(#left " " #op " " #right,                                      \
                                              ::qv::sys::assertionValueText(left) + " " #op " " +            \
                                                  ::qv::sys::assertionValueText(right),                      \
                                              std::string(), QV_ASSERT_WIDE_TEXT(__FILE__), (line));         \
        }                                                                                                    \
    } while (false)
