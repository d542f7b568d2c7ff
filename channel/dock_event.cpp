#include "channel/dock_event.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace qv::telemetry {

using nlohmann::json;

namespace {

[[noreturn]] void throwWrongType(const char* expected, const json& value) {
    throw json::type_error::create(
        302, std::string("type must be ") + expected + ", but is " + value.type_name(), nullptr);
}

// A floating number that does not fit its target integer has no defined
// conversion; it is refused like a value of the wrong type would be.
[[noreturn]] void throwOutOfRange(const json& value, const char* target) {
    throw json::out_of_range::create(406, "number " + value.dump() + " is out of range for " + target,
                                     nullptr);
}

std::int64_t toInt64(const json& value) {
    switch (value.type()) {
    case json::value_t::number_integer:
        return value.get<std::int64_t>();
    case json::value_t::number_unsigned:
        // Taken as the 64-bit pattern it is.
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    case json::value_t::number_float: {
        const double truncated = std::trunc(value.get<double>());
        // -2^63 <= t < 2^63, both bounds exact in a double; NaN fails too.
        if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0))
            throwOutOfRange(value, "a 64-bit integer");
        return static_cast<std::int64_t>(truncated);
    }
    default:
        throwWrongType("number", value);
    }
}

// Numbers and booleans become a 32-bit pattern: integers keep their low 32
// bits, floating numbers are truncated toward zero into the signed range.
std::uint32_t toWord32(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return value.get<bool>() ? 1u : 0u;
    case json::value_t::number_integer:
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value.get<std::int64_t>()));
    case json::value_t::number_unsigned:
        return static_cast<std::uint32_t>(value.get<std::uint64_t>());
    case json::value_t::number_float: {
        const double truncated = std::trunc(value.get<double>());
        if (!(truncated >= -2147483648.0 && truncated < 2147483648.0))
            throwOutOfRange(value, "a 32-bit integer");
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(truncated));
    }
    default:
        throwWrongType("number", value);
    }
}

const std::string& asString(const json& value) {
    if (!value.is_string())
        throwWrongType("string", value);
    return value.get_ref<const std::string&>();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one base-16 integer at `pos` the way the standard string-to-int
// conversion does (leading white space, sign, optional 0x), as a signed
// 32-bit value. Returns the number of characters used, 0 when there is no
// digit. The field is read as a C string starting at `pos`: up to the first
// zero byte from there on, so a zero byte ends this field only.
std::size_t readHexField(const std::string& text, std::size_t pos, std::int32_t& result) {
    const std::size_t zero = text.find('\0', pos);
    const std::size_t end = zero == std::string::npos ? text.size() : zero;
    std::size_t i = pos;
    while (i < end && isCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 2 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        isHexDigit(text[i + 2]))
        i += 2;
    if (i >= end || !isHexDigit(text[i]))
        return 0;
    // The magnitude may reach 2^31 for a negative value.
    const std::uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < end && isHexDigit(text[i]); ++i) {
        magnitude = magnitude * 16 + static_cast<std::uint64_t>(hexValue(text[i]));
        if (magnitude > limit) {
            overflow = true;
            magnitude = limit; // keep reading the digits, the field is refused anyway
        }
    }
    if (overflow)
        throw std::out_of_range("stoi argument out of range");
    result = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                      : static_cast<std::int32_t>(magnitude);
    return i - pos;
}

} // namespace

MacAddress::MacAddress(const std::uint8_t* bytes) {
    std::memcpy(bytes_.data(), bytes, size);
}

bool MacAddress::isSet() const {
    for (auto b : bytes_)
        if (b != 0)
            return true;
    return false;
}

std::string MacAddress::toText() const {
    std::string text;
    appendText(text);
    return text;
}

void MacAddress::appendText(std::string& out) const {
    // Without the cost of a printf: this runs for every record.
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0)
            out += ':';
        out += digits[bytes_[i] >> 4];
        out += digits[bytes_[i] & 0xF];
    }
}

std::ostream& operator<<(std::ostream& out, const MacAddress& mac) {
    return out << mac.toText();
}

std::string FirmwareVersion::toText() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

DockEventMessage::DockEventMessage(std::uint16_t event_, std::string deviceId_, const MacAddress& macAddress_,
                                   const FirmwareVersion& fwVersion_)
    : deviceId(std::move(deviceId_)), macAddress(macAddress_), fwVersion(fwVersion_), event(event_) {
    using namespace std::chrono;
    timestamp = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

MacAddress parseMacAddress(const std::string& text) {
    std::array<std::uint8_t, MacAddress::size> bytes{};
    std::size_t pos = 0;
    for (auto& byte : bytes) {
        if (pos >= text.size())
            return MacAddress();
        std::int32_t value = 0;
        const std::size_t used = readHexField(text, pos, value);
        if (used == 0)
            return MacAddress();
        byte = static_cast<std::uint8_t>(value & 0xFF);
        pos += used + 1; // the separator, whatever it is
    }
    if (pos < text.size())
        return MacAddress();
    return MacAddress(bytes);
}

DockEventMessage decodeDockEvent(const std::string& text) {
    const char* begin = text.data();
    const void* zero = std::memchr(begin, 0, text.size());
    const char* end = zero ? static_cast<const char*>(zero) : begin + text.size();

    const json document = json::parse(begin, end);

    DockEventMessage record;
    record.timestamp = toInt64(document.at("timestamp"));
    record.event = static_cast<std::uint16_t>(toWord32(document.at("event")));
    record.deviceId = asString(document.at("deviceId"));

    const auto mac = document.find("updMacAddress");
    if (mac != document.end())
        record.macAddress = parseMacAddress(asString(*mac));

    const auto version = document.find("fwVersion");
    if (version != document.end()) {
        if (!version->is_array())
            throwWrongType("array", *version);
        std::vector<std::uint32_t> fields;
        fields.reserve(version->size());
        for (const auto& field : *version)
            fields.push_back(toWord32(field));
        if (fields.size() != 3)
            throw std::invalid_argument("Wrong number of fields for version");
        record.fwVersion = {static_cast<std::uint8_t>(fields[0]), static_cast<std::uint8_t>(fields[1]),
                            static_cast<std::uint8_t>(fields[2])};
    }
    return record;
}

std::string encodeDockEvent(const DockEventMessage& record) {
    json document = json::object();
    document["timestamp"] = record.timestamp;
    document["deviceId"] = record.deviceId;
    document["updMacAddress"] = record.macAddress.toText();
    document["event"] = static_cast<unsigned>(record.event);
    document["fwVersion"] = json::array({static_cast<unsigned>(record.fwVersion.major),
                                         static_cast<unsigned>(record.fwVersion.minor),
                                         static_cast<unsigned>(record.fwVersion.patch)});
    return document.dump();
}

} // namespace qv::telemetry
