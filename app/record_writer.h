#pragma once

// Writes telemetry records as one YAML document: "---", then one sequence item
// per record. Host facts (and the time-zone name) are taken once, when the
// writer is built.
//
// Threads: the writer has no lock. receive() is called by one thread at a time
// (the message reader's, later the main thread's once the reader has ended).

#include "app/host_identity.h"
#include "channel/dock_event.h"

#include <cstdint>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qv::telemetry {

extern const char* const dockConnectedEventName; // "Quorvane Dock Connected"
extern const char* const endOfCacheEventName;    // "EndOfCache"

struct TelemetryRecord {
    std::string eventType;
    std::int64_t timestamp = 0;
    MacAddress macAddress;
    FirmwareVersion fwVersion;
};

class Receiver {
public:
    virtual ~Receiver() = default;
    virtual void receive(const TelemetryRecord& record) = 0;
};

// What a record says about the host. The computer name is as the host gives
// it, in its ANSI code page.
struct HostFacts {
    std::vector<NetworkAdapter> wiredAdapters;
    std::vector<NetworkAdapter> wirelessAdapters;
    std::string computerName;

    static HostFacts gather(const AdapterInfoList& adapters);
};

class OutputStream : public Receiver {
public:
    // `out` and `endOfCache` must outlive the writer. Writes the document
    // start line (not flushed).
    OutputStream(std::ostream* out, const AdapterInfoList& adapters, std::promise<std::int32_t>* endOfCache);
    OutputStream(std::ostream* out, HostFacts host, std::promise<std::int32_t>* endOfCache);

    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Throws std::future_error for "EndOfCache" when the signal has no state
    // or was completed before.
    void receive(const TelemetryRecord& record) override;

    // The text of one record, or "" when the record is not to be written.
    std::string formatRecord(const TelemetryRecord& record) const;

private:
    std::ostream* out_;
    std::string zoneName_;  // the host's zone name when the writer was built
    std::string hostLines_; // the host part of every record
    std::promise<std::int32_t>* endOfCache_;
};

// "%a %b %d %H:%M:%S %Y %Z" of the timestamp as UTC calendar time, in the
// classic locale, with the host's standard-time zone name. Nothing for
// timestamps that the Windows runtime cannot convert (before 1969-12-31
// 12:00:00 or after 3001-01-19 20:59:59 UTC), so the program writes the same
// text on every system it runs on.
std::optional<std::string> utcTimeText(std::int64_t timestamp, const std::string& zoneName);

// The host's name for its standard time, as the runtime's "%Z" gives it; empty
// when it has none.
std::string standardZoneName();

// The value (UTF-8) as a YAML scalar: unchanged when every YAML 1.1 and 1.2
// reader takes it for the same plain text, otherwise double-quoted, with
// everything outside printable ASCII written as a \u or \U escape.
void appendYamlScalar(std::string& out, const std::string& value);

} // namespace qv::telemetry
