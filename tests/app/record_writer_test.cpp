#include "app/record_writer.h"
#include "telemetry_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using namespace qv::telemetry;
using namespace qv::telemetry::test;

namespace {

// Counts flushes so a test can see that a record is one write and one flush.
class CountingBuffer : public std::stringbuf {
public:
    int flushes = 0;
    int writes = 0;

protected:
    int sync() override {
        ++flushes;
        return 0;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        ++writes;
        return std::stringbuf::xsputn(s, n);
    }
};

TelemetryRecord connected(std::int64_t timestamp, const MacAddress& address, FirmwareVersion version = {}) {
    return TelemetryRecord{dockConnectedEventName, timestamp, address, version};
}

class RecordWriter : public ::testing::Test {
protected:
    void SetUp() override { zone = useTimeZone("UTC"); }
    std::string zone;
    std::ostringstream out;
    std::promise<std::int32_t> signal;
};

} // namespace

TEST_F(RecordWriter, ExampleRecordAndItsOptionalLines) {
    OutputStream writer(&out, exampleHost(), &signal);
    writer.receive(connected(1700000000, mac(0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e), {1, 2, 3}));
    EXPECT_EQ(out.str(),
              "---\n" + exampleRecord("Tue Nov 14 22:13:20 2023 " + zone, "00:1a:2b:3c:4d:5e", "1.2.3"));
    EXPECT_FALSE(zone.empty());

    // Firmware 0.0.1 has its line, 0.0.0 none; of two wired adapters the
    // first counts; no Wi-Fi adapter, no line; an empty computer name.
    HostFacts host;
    host.wiredAdapters = {adapter(mac(1, 1, 1, 1, 1, 1), AdapterKind::Ethernet),
                          adapter(mac(2, 2, 2, 2, 2, 2), AdapterKind::Ethernet)};
    const OutputStream twoWired(&out, host, &signal);
    const std::string head = "-\n  event_type: Quorvane Dock Connected\n  time: Thu Jan 01 00:00:00 1970 " +
                             zone + "\n  dock: \n    mac_address: 00:00:00:00:00:09\n";
    EXPECT_EQ(
        twoWired.formatRecord(connected(0, mac(0, 0, 0, 0, 0, 9), {0, 0, 1})),
        head + "    fw_version: 0.0.1\n  host: \n    computer_name: \n    mac_address: 01:01:01:01:01:01\n");
    const OutputStream bare(&out, HostFacts{}, &signal);
    EXPECT_EQ(bare.formatRecord(connected(0, mac(0, 0, 0, 0, 0, 9))),
              head + "  host: \n    computer_name: \n");
}

TEST_F(RecordWriter, OnlyTheExactDockConnectedNameWithAMacIsWritten) {
    CountingBuffer buffer;
    std::ostream stream(&buffer);
    OutputStream writer(&stream, exampleHost(), &signal);
    EXPECT_EQ(buffer.str(), "---\n");
    EXPECT_EQ(buffer.flushes, 0);

    writer.receive(connected(1, MacAddress()));
    for (const char* name : {"quorvane dock connected", "Quorvane Dock Connected ", "Dock Left", ""})
        writer.receive(TelemetryRecord{name, 1, mac(1, 2, 3, 4, 5, 6), {}});
    EXPECT_EQ(buffer.str(), "---\n");
    EXPECT_EQ(buffer.flushes, 0);

    const int writesBefore = buffer.writes;
    writer.receive(connected(1, mac(1, 2, 3, 4, 5, 6)));
    EXPECT_EQ(buffer.writes - writesBefore, 1);
    EXPECT_EQ(buffer.flushes, 1);
}

TEST_F(RecordWriter, EndOfCacheCompletesTheSignalOnceAndWritesNothing) {
    const auto endOfCacheFails = [](OutputStream& writer, std::future_errc error) {
        EXPECT_THAT(
            [&] {
                writer.receive(TelemetryRecord{endOfCacheEventName, 0, {}, {}});
            },
            testing::Throws<std::future_error>(
                testing::Property(&std::future_error::code, std::make_error_code(error))));
    };
    OutputStream writer(&out, exampleHost(), &signal);
    auto future = signal.get_future();
    writer.receive(TelemetryRecord{endOfCacheEventName, 0, mac(1, 2, 3, 4, 5, 6), {}});
    ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(future.get(), 1);
    endOfCacheFails(writer, std::future_errc::promise_already_satisfied);
    EXPECT_EQ(out.str(), "---\n");
    OutputStream unsignalled(&out, HostFacts{}, nullptr);
    endOfCacheFails(unsignalled, std::future_errc::no_state);
}

TEST_F(RecordWriter, UtcTimeTextCoversTheRuntimeRangeAndRefusesTheRest) {
    EXPECT_EQ(utcTimeText(-43200, zone), "Wed Dec 31 12:00:00 1969 " + zone);
    EXPECT_EQ(utcTimeText(951782400, zone), "Tue Feb 29 00:00:00 2000 " + zone);
    EXPECT_EQ(utcTimeText(4107542399, zone), "Sun Feb 28 23:59:59 2100 " + zone);
    EXPECT_EQ(utcTimeText(32536846799, zone), "Mon Jan 19 20:59:59 3001 " + zone);
    EXPECT_EQ(utcTimeText(-43201, zone), std::nullopt);
    EXPECT_EQ(utcTimeText(32536846800, zone), std::nullopt);
    EXPECT_EQ(utcTimeText(INT64_MIN, zone), std::nullopt);

    const OutputStream writer(&out, HostFacts{}, &signal);
    const auto text = writer.formatRecord(connected(-50000, mac(1, 2, 3, 4, 5, 6)));
    EXPECT_NE(text.find("\n  time: invalid timestamp -50000\n"), std::string::npos) << text;
}

TEST_F(RecordWriter, ZoneNameComesFromTheHostAndIsNotAnOffset) {
    const std::string eastern = useTimeZone("EST5EDT");
    const OutputStream writer(&out, HostFacts{}, &signal);
    useTimeZone("UTC");
    const auto text = writer.formatRecord(connected(1700000000, mac(1, 2, 3, 4, 5, 6)));
    EXPECT_NE(text.find("\n  time: Tue Nov 14 22:13:20 2023 " + eastern + "\n"), std::string::npos) << text;
}

TEST(YamlScalar, TextThatSomeYamlReaderTakesForAnotherValueIsQuotedWithUnicodeEscapes) {
    const auto yamlScalar = [](const std::string& value) {
        std::string text;
        appendYamlScalar(text, value);
        return text;
    };
    for (const char* plain : {"", "HOST1", "DESKTOP-4F2K", "Tue Nov 14 22:13:20 2023 UTC", "a:b", "x#1",
                              "Nullx", "Yesterday", "PC-1e3", "inf", "NaN"})
        EXPECT_EQ(yamlScalar(plain), plain);
    // Null and boolean words of YAML 1.1 and 1.2 in any letter case, what their
    // numbers, special floats, merge and value keys begin with, indicators,
    // ": ", " #", a trailing ":" or blank.
    for (const char* quoted :
         {"NULL", "~",       "TRUE",  "fAlSe", "YES",   "no", "On",       "OFF",        "y",
          "N",    "1e3",     "0x1F",  ".inf",  "-.INF", "+1", "12:30:45", "2023-11-14", "<<",
          "=",    "HOST: X", "{ABC}", "A #1",  "end:",  "-x", "trailing "})
        EXPECT_EQ(yamlScalar(quoted), "\"" + std::string(quoted) + "\"");
    // Quotes, backslashes, control characters and everything beyond ASCII are
    // escaped; a byte that is not UTF-8 stands for U+FFFD.
    EXPECT_EQ(yamlScalar("M\xC3\xBCnchen \"1\"\\\t"), R"("M\u00FCnchen \"1\"\\\u0009")");
    EXPECT_EQ(yamlScalar("PC\x7F"), R"("PC\u007F")");
    EXPECT_EQ(yamlScalar("\xE2\x82\xAC \xF0\x9F\x96\xA5 \xFF\xC3 \xED\xA0\x80"),
              R"("\u20AC \U0001F5A5 \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD")");
}
