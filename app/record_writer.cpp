#include "app/record_writer.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <ctime>
#include <utility>

namespace qv::telemetry {

const char* const dockConnectedEventName = "Quorvane Dock Connected";
const char* const endOfCacheEventName = "EndOfCache";

namespace {

// The range of the Windows runtime's 64-bit UTC conversion.
constexpr std::int64_t earliestTimestamp = -43200;
constexpr std::int64_t latestTimestamp = 32536846799;

struct CivilDate {
    std::int64_t year;
    unsigned month; // 1..12
    unsigned day;   // 1..31
};

// Proleptic Gregorian date of a day count since 1970-01-01 (after H. Hinnant).
CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

} // namespace

std::string standardZoneName() {
    std::tm tm{};
    tm.tm_year = 100;
    tm.tm_mday = 1;
    tm.tm_isdst = 0;
    char zone[128] = {};
    if (std::strftime(zone, sizeof zone, "%Z", &tm) == 0)
        return std::string();
    return zone;
}

namespace {

void appendHostLine(std::string& out, const char* key, const std::vector<NetworkAdapter>& adapters) {
    if (adapters.empty())
        return;
    out += "    ";
    out += key;
    out += ": ";
    adapters.front().macAddress.appendText(out);
    out += '\n';
}

// The host's texts (computer name, zone name) are in its ANSI code page; the
// document carries the characters they stand for.
std::string hostTextToUtf8(const std::string& text) {
#ifdef _WIN32
    const int size = static_cast<int>(text.size());
    const int wideSize = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wideSize <= 0)
        return text;
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), wideSize);
    const int utf8Size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0)
        return text;
    std::string utf8(static_cast<std::size_t>(utf8Size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), utf8Size, nullptr, nullptr);
    return utf8;
#else
    // The C library's texts are in the locale's encoding, UTF-8 where this is built natively.
    return text;
#endif
}

// Whether every YAML 1.1 and 1.2 reader takes `value` as plain text for the
// same string. Kept simple and on the safe side: the first characters of every
// number, null, special float, merge or value key force quotes, and so do all
// spellings of the null and boolean words in any letter case.
bool staysPlain(const std::string& value) {
    if (value.empty())
        return true; // the record's layout: nothing after the key's blank
    static const std::string quotedFirst = "-?:,[]{}#&*!|>'\"%@` ~+.<=0123456789";
    if (quotedFirst.find(value.front()) != std::string::npos || value.back() == ' ' || value.back() == ':')
        return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c > 0x7E)
            return false;
        if ((c == ':' && value[i + 1] == ' ') || (c == '#' && value[i - 1] == ' '))
            return false;
    }
    static const char* const words[] = {"null", "y", "n", "yes", "no", "on", "off", "true", "false"};
    for (const char* word : words) {
        std::size_t i = 0;
        while (word[i] != '\0' && i < value.size() && (value[i] | 0x20) == word[i])
            ++i;
        if (word[i] == '\0' && i == value.size())
            return false;
    }
    return true;
}

// The code point of the UTF-8 sequence at `text[i]`, advancing `i`; U+FFFD
// for a byte that does not begin a valid sequence (it alone is consumed).
std::uint32_t nextCodePoint(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 1) {
        ++i;
        return lead;
    }
    std::uint32_t point = length == 0 ? 0 : lead & (0x7F >> length);
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
        valid = (byte(i + k) & 0xC0) == 0x80;
        point = point << 6 | (byte(i + k) & 0x3F);
    }
    static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return point;
}

} // namespace

std::optional<std::string> utcTimeText(std::int64_t timestamp, const std::string& zoneName) {
    if (timestamp < earliestTimestamp || timestamp > latestTimestamp)
        return std::nullopt;
    static const char* const dayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t days = timestamp / 86400;
    std::int64_t seconds = timestamp % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    const auto weekday = static_cast<unsigned>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    const auto twoDigits = [](std::string& out, unsigned value) {
        out += static_cast<char>('0' + value / 10);
        out += static_cast<char>('0' + value % 10);
    };
    std::string text;
    text.reserve(32 + zoneName.size());
    text += dayNames[weekday];
    text += ' ';
    text += monthNames[date.month - 1];
    text += ' ';
    twoDigits(text, date.day);
    text += ' ';
    twoDigits(text, static_cast<unsigned>(seconds / 3600));
    text += ':';
    twoDigits(text, static_cast<unsigned>(seconds / 60 % 60));
    text += ':';
    twoDigits(text, static_cast<unsigned>(seconds % 60));
    text += ' ';
    text += std::to_string(date.year); // 1969..3001: always four digits
    text += ' ';
    return text + zoneName;
}

void appendYamlScalar(std::string& out, const std::string& value) {
    if (staysPlain(value)) {
        out += value;
        return;
    }
    out += '"';
    for (std::size_t i = 0; i < value.size();) {
        const std::uint32_t c = nextCodePoint(value, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c <= 0x7E) {
            out += static_cast<char>(c);
        } else {
            char escape[11];
            std::snprintf(escape, sizeof escape, c <= 0xFFFF ? "\\u%04X" : "\\U%08X",
                          static_cast<unsigned>(c));
            out += escape;
        }
    }
    out += '"';
}

OutputStream::OutputStream(std::ostream* out, HostFacts host, std::promise<std::int32_t>* endOfCache)
    : out_(out), zoneName_(hostTextToUtf8(standardZoneName())), endOfCache_(endOfCache) {
    // The host part is the same in every record.
    hostLines_ = "  host: \n    computer_name: ";
    appendYamlScalar(hostLines_, hostTextToUtf8(host.computerName));
    hostLines_ += '\n';
    appendHostLine(hostLines_, "mac_address", host.wiredAdapters);
    appendHostLine(hostLines_, "wifi_mac_address", host.wirelessAdapters);
    out_->write("---\n", 4);
}

void OutputStream::receive(const TelemetryRecord& record) {
    if (record.eventType == endOfCacheEventName) {
        if (!endOfCache_)
            throw std::future_error(std::future_errc::no_state);
        endOfCache_->set_value(1);
        return;
    }
    if (record.eventType != dockConnectedEventName)
        return;
    const std::string text = formatRecord(record);
    if (text.empty())
        return;
    // One write and one flush, so that a record is never split by other output.
    out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    out_->flush();
}

std::string OutputStream::formatRecord(const TelemetryRecord& record) const {
    if (!record.macAddress.isSet())
        return std::string();
    std::string text;
    text.reserve(224 + hostLines_.size());
    text += "-\n  event_type: ";
    appendYamlScalar(text, record.eventType);
    text += "\n  time: ";
    if (const auto time = utcTimeText(record.timestamp, zoneName_)) {
        appendYamlScalar(text, *time);
    } else {
        text += "invalid timestamp ";
        text += std::to_string(record.timestamp);
    }
    text += "\n  dock: \n    mac_address: ";
    record.macAddress.appendText(text);
    text += '\n';
    if (record.fwVersion.isSet()) {
        text += "    fw_version: ";
        text += record.fwVersion.toText();
        text += '\n';
    }
    text += hostLines_;
    return text;
}

} // namespace qv::telemetry
