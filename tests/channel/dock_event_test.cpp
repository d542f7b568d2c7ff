#include "channel/dock_event.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

using namespace qv::telemetry;
using nlohmann::json;

namespace {

// Runs the decoder and returns the exception's text, or "" when it succeeded.
template <typename Exception>
std::string failureOf(const std::string& text) {
    try {
        decodeDockEvent(text);
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

MacAddress mac(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint8_t e,
               std::uint8_t f) {
    return MacAddress(std::array<std::uint8_t, 6>{a, b, c, d, e, f});
}

const std::string minimal = R"({"timestamp":1000,"event":1,"deviceId":"X"})";

} // namespace

TEST(MacAddress, TextIsLowerCaseHexAndZeroMeansUnset) {
    EXPECT_EQ(mac(0, 26, 43, 60, 77, 94).toText(), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(mac(0xA0, 0xCE, 0xFF, 1, 2, 3).toText(), "a0:ce:ff:01:02:03");
    EXPECT_FALSE(MacAddress().isSet());
    EXPECT_TRUE(mac(0, 0, 0, 0, 0, 1).isSet());
    const std::uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(MacAddress(buffer), mac(1, 2, 3, 4, 5, 6));
}

TEST(ParseMacAddress, AcceptsAnySingleSeparatorAndOneTrailingCharacter) {
    const auto expected = mac(0xa0, 0xce, 0xc8, 1, 2, 3);
    EXPECT_EQ(parseMacAddress("a0:ce:c8:01:02:03"), expected);
    EXPECT_EQ(parseMacAddress("a0-ce-c8-01-02-03"), expected);
    EXPECT_EQ(parseMacAddress("a0:ce:c8:01:02:03:"), expected);
    EXPECT_EQ(parseMacAddress("A0 CE C8 1 2 0x3"), expected);
    // Wider fields keep their low byte; signs and white space are read as strtol does.
    EXPECT_EQ(parseMacAddress("1a0:ce:c8:01:02:03"), expected);
    EXPECT_EQ(parseMacAddress("-1: 2:3:4:5:6"), mac(0xff, 2, 3, 4, 5, 6));
    EXPECT_EQ(parseMacAddress("7fffffff:0:0:0:0:0"), mac(0xff, 0, 0, 0, 0, 0));
    EXPECT_EQ(parseMacAddress("-80000000:0:0:0:0:1"), mac(0, 0, 0, 0, 0, 1));
}

TEST(ParseMacAddress, RefusesShortLongAndDigitlessTextAsZero) {
    for (const char* text : {"", "a0:ce:c8:01:02", "a0:ce:c8:01:02:03::", "zz:00:00:00:00:00",
                             "a0:ce:c8:01:02:", "0x:1:2:3:4:5", "+:1:2:3:4:5", "a0:ce:c8:01:02:03 x"})
        EXPECT_FALSE(parseMacAddress(text).isSet()) << text;
    // A zero byte ends the text for the field reader.
    EXPECT_FALSE(parseMacAddress(std::string("a0:ce:c8:01:02:\0"
                                             "3",
                                             17))
                     .isSet());
}

TEST(ParseMacAddress, FieldBeyond32BitsThrowsOutOfRange) {
    for (const char* text : {"0123456789:0:0:0:0:0", "80000000:0:0:0:0:0", "-80000001:0:0:0:0:0"}) {
        try {
            parseMacAddress(text);
            ADD_FAILURE() << text;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stoi argument out of range");
        }
    }
}

TEST(DecodeDockEvent, MinimalObjectHasNoMacAndNoVersion) {
    const auto record = decodeDockEvent(minimal);
    EXPECT_EQ(record.timestamp, 1000);
    EXPECT_EQ(record.event, 1);
    EXPECT_EQ(record.deviceId, "X");
    EXPECT_FALSE(record.macAddress.isSet());
    EXPECT_FALSE(record.fwVersion.isSet());
}

TEST(DecodeDockEvent, FullRecordDecodes) {
    const auto record =
        decodeDockEvent(R"({"timestamp":1700000000,"event":3,"deviceId":"USB\\VID_17E9&PID_6015\\X",)"
                        R"("updMacAddress":"00:1a:2b:3c:4d:5e","fwVersion":[1,4,22],"other":{"x":[1]}})");
    EXPECT_EQ(record.timestamp, 1700000000);
    EXPECT_EQ(record.event, 3);
    EXPECT_EQ(record.deviceId, "USB\\VID_17E9&PID_6015\\X");
    EXPECT_EQ(record.macAddress, mac(0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e));
    EXPECT_EQ(record.fwVersion, (FirmwareVersion{1, 4, 22}));
}

TEST(DecodeDockEvent, NumbersConvertAsTheSchemaSays) {
    auto decode = [](const std::string& members) {
        return decodeDockEvent(R"({"deviceId":"d",)" + members + "}");
    };
    EXPECT_EQ(decode(R"("timestamp":1000.9,"event":1)").timestamp, 1000);
    EXPECT_EQ(decode(R"("timestamp":-1000.9,"event":1)").timestamp, -1000);
    EXPECT_EQ(decode(R"("timestamp":18446744073709551615,"event":1)").timestamp, -1);
    EXPECT_EQ(decode(R"("timestamp":-9223372036854775808,"event":1)").timestamp, INT64_MIN);
    EXPECT_EQ(decode(R"("timestamp":0,"event":65537)").event, 1);
    EXPECT_EQ(decode(R"("timestamp":0,"event":true)").event, 1);
    EXPECT_EQ(decode(R"("timestamp":0,"event":false)").event, 0);
    EXPECT_EQ(decode(R"("timestamp":0,"event":-1)").event, 65535);
    EXPECT_EQ(decode(R"("timestamp":0,"event":259.99)").event, 259);
    EXPECT_EQ(decode(R"("timestamp":0,"event":-2147483648.5)").event, 0);
    EXPECT_EQ(decode(R"("timestamp":0,"event":1,"fwVersion":[257,2.9,false])").fwVersion,
              (FirmwareVersion{1, 2, 0}));
    EXPECT_EQ(decode(R"("timestamp":0,"event":1,"fwVersion":[-1,true,4294967299])").fwVersion,
              (FirmwareVersion{255, 1, 3}));
}

TEST(DecodeDockEvent, FloatsBeyondTheTargetIntegerAreRefused) {
    using OutOfRange = json::out_of_range;
    for (const char* text : {R"({"timestamp":9223372036854775808.0,"event":1,"deviceId":"d"})",
                             R"({"timestamp":-1e300,"event":1,"deviceId":"d"})",
                             R"({"timestamp":0,"event":2147483648.0,"deviceId":"d"})",
                             R"({"timestamp":0,"event":-2147483649.0,"deviceId":"d"})",
                             R"({"timestamp":0,"event":1,"deviceId":"d","fwVersion":[1,2,1e10]})"})
        EXPECT_NE(failureOf<OutOfRange>(text), "") << text;
    // The largest floats that fit are still taken.
    EXPECT_EQ(
        decodeDockEvent(R"({"timestamp":-9223372036854775808.0,"event":2147483647.9,"deviceId":"d"})").event,
        0xFFFF);
}

TEST(DecodeDockEvent, WrongTypesReportTheJsonTypeName) {
    using TypeError = json::type_error;
    auto typeErrorOf = [](const std::string& text) { return failureOf<TypeError>(text); };
    EXPECT_EQ(typeErrorOf(R"({"timestamp":true,"event":1,"deviceId":"d"})"),
              "[json.exception.type_error.302] type must be number, but is boolean");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":"1","event":1,"deviceId":"d"})"),
              "[json.exception.type_error.302] type must be number, but is string");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":1,"event":null,"deviceId":"d"})"),
              "[json.exception.type_error.302] type must be number, but is null");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":1,"event":1,"deviceId":7})"),
              "[json.exception.type_error.302] type must be string, but is number");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":1,"event":1,"deviceId":"d","updMacAddress":[]})"),
              "[json.exception.type_error.302] type must be string, but is array");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":1,"event":1,"deviceId":"d","fwVersion":"1.2.3"})"),
              "[json.exception.type_error.302] type must be array, but is string");
    EXPECT_EQ(typeErrorOf(R"({"timestamp":1,"event":1,"deviceId":"d","fwVersion":[1,{},3]})"),
              "[json.exception.type_error.302] type must be number, but is object");
    EXPECT_EQ(typeErrorOf("[1,2]"), "[json.exception.type_error.304] cannot use at() with array");
    EXPECT_EQ(typeErrorOf("42"), "[json.exception.type_error.304] cannot use at() with number");
}

TEST(DecodeDockEvent, StepsRunInOrderSoTheFirstProblemIsReported) {
    EXPECT_EQ(failureOf<json::out_of_range>("{}"),
              "[json.exception.out_of_range.403] key 'timestamp' not found");
    EXPECT_EQ(failureOf<json::out_of_range>(R"({"timestamp":1,"deviceId":5})"),
              "[json.exception.out_of_range.403] key 'event' not found");
    EXPECT_EQ(failureOf<json::out_of_range>(R"({"timestamp":1,"event":1})"),
              "[json.exception.out_of_range.403] key 'deviceId' not found");
    // A bad MAC is checked before the version.
    EXPECT_EQ(
        failureOf<std::out_of_range>(
            R"({"timestamp":1,"event":1,"deviceId":"d","updMacAddress":"0123456789:0:0:0:0:0","fwVersion":[1]})"),
        "stoi argument out of range");
}

TEST(DecodeDockEvent, FirmwareVersionNeedsExactlyThreeFields) {
    for (const char* version : {"[]", "[1,2]", "[1,2,3,4]"})
        EXPECT_EQ(failureOf<std::invalid_argument>(
                      std::string(R"({"timestamp":1,"event":1,"deviceId":"d","fwVersion":)") + version + "}"),
                  "Wrong number of fields for version")
            << version;
}

TEST(DecodeDockEvent, MacWithoutDigitsIsZeroAndTheRestDecodes) {
    const auto record = decodeDockEvent(
        R"({"timestamp":5,"event":3,"deviceId":"d","updMacAddress":"zz:00:00:00:00:00","fwVersion":[1,0,0]})");
    EXPECT_FALSE(record.macAddress.isSet());
    EXPECT_EQ(record.fwVersion, (FirmwareVersion{1, 0, 0}));
}

TEST(DecodeDockEvent, TextEndsAtFirstZeroByteAndTrailingWhiteSpaceIsAccepted) {
    EXPECT_EQ(decodeDockEvent(minimal + std::string(11, '\0')).timestamp, 1000);
    EXPECT_EQ(decodeDockEvent(minimal + std::string("\0garbage}", 9)).timestamp, 1000);
    EXPECT_EQ(decodeDockEvent(" \t\r\n" + minimal + " \r\n\t ").timestamp, 1000);
    EXPECT_EQ(decodeDockEvent("\xEF\xBB\xBF" + minimal).timestamp, 1000);

    using ParseError = json::parse_error;
    for (const std::string& text :
         {minimal + "x", minimal + minimal, std::string(), std::string(" \n"), std::string(1, '\0') + minimal,
          minimal.substr(0, minimal.size() - 1), std::string("{\"timestamp\":1,}")}) {
        const auto what = failureOf<ParseError>(text);
        EXPECT_NE(what.find("parse_error.101"), std::string::npos) << text << " -> " << what;
    }
}

TEST(EncodeDockEvent, PrintsSortedCompactJsonThatDecodesToTheSameRecord) {
    DockEventMessage record;
    record.timestamp = -5;
    record.deviceId = "dock \xC3\xA9 \"1\"";
    record.macAddress = mac(0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e);
    record.fwVersion = {1, 255, 0};
    record.event = 65535;
    const auto text = encodeDockEvent(record);
    EXPECT_EQ(text, "{\"deviceId\":\"dock \xC3\xA9 \\\"1\\\"\",\"event\":65535,\"fwVersion\":[1,255,0],"
                    "\"timestamp\":-5,\"updMacAddress\":\"00:1a:2b:3c:4d:5e\"}");
    const auto back = decodeDockEvent(text);
    EXPECT_EQ(back.timestamp, record.timestamp);
    EXPECT_EQ(back.deviceId, record.deviceId);
    EXPECT_EQ(back.macAddress, record.macAddress);
    EXPECT_EQ(back.fwVersion, record.fwVersion);
    EXPECT_EQ(back.event, record.event);

    EXPECT_EQ(
        encodeDockEvent(DockEventMessage()),
        R"({"deviceId":"","event":0,"fwVersion":[0,0,0],"timestamp":0,"updMacAddress":"00:00:00:00:00:00"})");
}

TEST(EncodeDockEvent, DeviceIdThatIsNotUtf8FailsWithTypeError316) {
    DockEventMessage record;
    record.deviceId = "bad \xFF byte";
    try {
        encodeDockEvent(record);
        FAIL();
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 316);
    }
}

TEST(DockEventMessage, ConstructorStampsTheCurrentTime) {
    const auto before =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const DockEventMessage record(3, "dock", mac(1, 2, 3, 4, 5, 6), FirmwareVersion{1, 2, 3});
    const auto after =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_GE(record.timestamp, before);
    EXPECT_LE(record.timestamp, after);
    EXPECT_GT(record.timestamp, 1600000000); // a plausible wall clock, not ticks or local time
    EXPECT_EQ(record.event, 3);
    EXPECT_EQ(record.deviceId, "dock");
}
