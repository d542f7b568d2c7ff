#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace qv::telemetry {

// A hardware address, first byte first. All zero means "no address".
class MacAddress {
public:
    static constexpr std::size_t size = 6;

    MacAddress() = default;
    explicit MacAddress(const std::array<std::uint8_t, size>& bytes) : bytes_(bytes) {}
    // Takes the first six bytes of a hardware-address buffer.
    explicit MacAddress(const std::uint8_t* bytes);

    bool isSet() const;
    // "%02x:%02x:%02x:%02x:%02x:%02x": always 17 characters.
    std::string toText() const;
    // The same text, appended.
    void appendText(std::string& out) const;
    const std::array<std::uint8_t, size>& bytes() const { return bytes_; }

    friend bool operator==(const MacAddress& a, const MacAddress& b) { return a.bytes_ == b.bytes_; }
    friend bool operator!=(const MacAddress& a, const MacAddress& b) { return !(a == b); }

private:
    std::array<std::uint8_t, size> bytes_{};
};

std::ostream& operator<<(std::ostream& out, const MacAddress& mac);

// 0.0.0 means that the dock reported no version.
struct FirmwareVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t patch = 0;

    bool isSet() const { return major != 0 || minor != 0 || patch != 0; }
    std::string toText() const;

    friend bool operator==(const FirmwareVersion& a, const FirmwareVersion& b) {
        return a.major == b.major && a.minor == b.minor && a.patch == b.patch;
    }
    friend bool operator!=(const FirmwareVersion& a, const FirmwareVersion& b) { return !(a == b); }
};

// One dock event as the manager service reports it.
struct DockEventMessage {
    std::int64_t timestamp = 0; // seconds since 1970-01-01 00:00 UTC
    std::string deviceId;
    MacAddress macAddress;
    FirmwareVersion fwVersion;
    std::uint16_t event = 0;

    DockEventMessage() = default;
    // Stamps the record with the current time (whole seconds, truncated).
    DockEventMessage(std::uint16_t event, std::string deviceId, const MacAddress& macAddress,
                     const FirmwareVersion& fwVersion);
};

// Decodes one dock event JSON text. The text ends at its first zero byte, so
// the fill of a deciphered message is accepted. Throws the JSON library's
// parse_error, type_error and out_of_range, std::invalid_argument for a
// firmware version without three fields and std::out_of_range for a MAC field
// beyond 32 bits; never returns a partly filled record.
DockEventMessage decodeDockEvent(const std::string& text);

// Six hexadecimal fields, each followed by one separator of any kind; the zero
// address for text it does not accept. Throws std::out_of_range for a field
// that does not fit in 32 signed bits.
MacAddress parseMacAddress(const std::string& text);

// Compact JSON with the keys in byte order. Throws the JSON library's
// type_error 316 for a device id that is not UTF-8.
std::string encodeDockEvent(const DockEventMessage& record);

} // namespace qv::telemetry
