#pragma once

#include "app/record_writer.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace qv::telemetry::test {

inline MacAddress mac(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e,
                      std::uint8_t f) {
    return MacAddress(std::array<std::uint8_t, 6>{a, b, c, d, e, f});
}

inline NetworkAdapter adapter(const MacAddress& address, AdapterKind kind) {
    return NetworkAdapter{"PCI\\VEN_8086&DEV_15BB\\3&11583659&0&FE", address, kind};
}

// The host of the example record: HOST1 with one wired and one Wi-Fi adapter.
inline HostFacts exampleHost() {
    HostFacts host;
    host.computerName = "HOST1";
    host.wiredAdapters = {adapter(mac(0x10, 0x20, 0x30, 0x40, 0x50, 0x60), AdapterKind::Ethernet)};
    host.wirelessAdapters = {adapter(mac(0xa0, 0xb0, 0xc0, 0xd0, 0xe0, 0xf0), AdapterKind::Wireless)};
    return host;
}

// One record for the example host, as the writer prints it; `fw` empty for none.
inline std::string exampleRecord(const std::string& time, const std::string& mac,
                                 const std::string& fw = "") {
    return "-\n  event_type: Quorvane Dock Connected\n  time: " + time +
           "\n  dock: \n    mac_address: " + mac + "\n" + (fw.empty() ? "" : "    fw_version: " + fw + "\n") +
           "  host: \n    computer_name: HOST1\n    mac_address: 10:20:30:40:50:60\n"
           "    wifi_mac_address: a0:b0:c0:d0:e0:f0\n";
}

// Pins the runtime's time zone and returns the standard-time name it reports.
inline std::string useTimeZone(const char* tz) {
#ifdef _WIN32
    _putenv_s("TZ", tz);
    _tzset();
    return _tzname[0];
#else
    setenv("TZ", tz, 1);
    tzset();
    return tzname[0];
#endif
}

} // namespace qv::telemetry::test
