#pragma once

// How a setting's text reads as a number and as yes/no. The number is the
// decimal number at its start, read as atoi reads it (blanks, an optional
// sign, digits) but without overflowing: a magnitude beyond the 64-bit range
// is held at its limit. Portable, header only.

#include <cctype>
#include <cstdint>
#include <limits>
#include <string>

namespace qv::sys {

struct LeadingNumber {
    bool found = false;   // at least one digit
    bool nonZero = false; // some digit is not 0 (right also when the value is held at a limit)
    std::int64_t value = 0;

    // The value held to the range of T.
    template <typename T>
    T clamped() const {
        if (value < std::numeric_limits<T>::min()) {
            return std::numeric_limits<T>::min();
        }
        if (value > std::numeric_limits<T>::max()) {
            return std::numeric_limits<T>::max();
        }
        return static_cast<T>(value);
    }
    template <typename T>
    bool fits() const {
        return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
    }
};

inline LeadingNumber leadingNumber(const std::string& text) {
    LeadingNumber number;
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        number.found = true;
        number.nonZero = number.nonZero || digit != 0;
        magnitude = magnitude > (kMax - digit) / 10 ? kMax : magnitude * 10 + digit;
    }
    number.value = negative ? -magnitude : magnitude;
    return number;
}

// A yes/no text is yes when it begins with T, Y, t or y.
inline bool beginsWithYes(const std::string& text) {
    return !text.empty() && (text[0] == 'T' || text[0] == 'Y' || text[0] == 't' || text[0] == 'y');
}

} // namespace qv::sys
