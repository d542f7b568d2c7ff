#include "channel/dock_event.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

using namespace qv::telemetry;
using nlohmann::json;

namespace {

// The text of the exception the decoder throws, or "" when it succeeds.
template <typename Exception = std::exception>
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

// An event with the required keys and the given extra members.
std::string withMembers(const std::string& members) {
    return R"({"timestamp":1,"event":1,"deviceId":"d")" + members + "}";
}

const std::string minimal = R"({"timestamp":1000,"event":1,"deviceId":"X"})";

} // namespace

TEST(ParseMacAddress, ReadsSixFieldsAsStrtolDoesWithAnySingleSeparator) {
    const auto expected = mac(0xa0, 0xce, 0xc8, 1, 2, 3);
    for (const char* text : {"a0:ce:c8:01:02:03", "a0-ce-c8-01-02-03",
                             "a0:ce:c8:01:02:03:", "A0 CE C8 1 2 0x3", "1a0:ce:c8:01:02:03"})
        EXPECT_EQ(parseMacAddress(text), expected) << text;
    EXPECT_EQ(parseMacAddress("-1: 2:3:4:5:6"), mac(0xff, 2, 3, 4, 5, 6));
    EXPECT_EQ(parseMacAddress("-80000000:0:0:0:0:1"), mac(0, 0, 0, 0, 0, 1));

    for (const char* text : {"", "a0:ce:c8:01:02", "a0:ce:c8:01:02:03::", "zz:00:00:00:00:00",
                             "a0:ce:c8:01:02:", "0x:1:2:3:4:5", "+:1:2:3:4:5", "a0:ce:c8:01:02:03 x"})
        EXPECT_FALSE(parseMacAddress(text).isSet()) << text;
    // A zero byte ends the field it stands in, and may itself be the separator;
    // a field that starts on one has no digits.
    EXPECT_EQ(parseMacAddress(std::string("a0\0ce:c8:01:02:03", 17)), expected);
    EXPECT_FALSE(parseMacAddress(std::string("a0:ce:c8:01:02:\0"
                                             "3",
                                             17))
                     .isSet());
}

TEST(ParseMacAddress, FieldBeyond32BitsThrowsOutOfRange) {
    for (const std::string& text :
         {std::string("0123456789:0:0:0:0:0"), std::string("80000000:0:0:0:0:0"),
          std::string("-80000001:0:0:0:0:0"), std::string("a0\0ce:123456789:0:0:0", 21)})
        EXPECT_THROW(parseMacAddress(text), std::out_of_range) << text;
    EXPECT_EQ(failureOf<std::out_of_range>(withMembers(R"(,"updMacAddress":"7fffffff0:0:0:0:0:0")")),
              "stoi argument out of range");
}

TEST(DecodeDockEvent, OptionalMembersDefaultAndOthersAreIgnored) {
    // Records compared as the encoder prints them, every field.
    const std::pair<std::string, std::string> cases[] = {
        {minimal, R"({"deviceId":"X","event":1,"fwVersion":[0,0,0],"timestamp":1000,)"
                  R"("updMacAddress":"00:00:00:00:00:00"})"},
        {R"({"timestamp":1700000000,"event":3,"deviceId":"USB\\X","updMacAddress":"00:1a:2b:3c:4d:5e",)"
         R"("fwVersion":[1,4,22],"x":{}})",
         R"({"deviceId":"USB\\X","event":3,"fwVersion":[1,4,22],"timestamp":1700000000,)"
         R"("updMacAddress":"00:1a:2b:3c:4d:5e"})"},
        // A MAC without digits is no address; the message still decodes.
        {withMembers(R"(,"updMacAddress":"zz:00:00:00:00:00","fwVersion":[1,0,0])"),
         R"({"deviceId":"d","event":1,"fwVersion":[1,0,0],"timestamp":1,"updMacAddress":"00:00:00:00:00:00"})"},
    };
    for (const auto& [text, record] : cases)
        EXPECT_EQ(encodeDockEvent(decodeDockEvent(text)), record);
}

TEST(DecodeDockEvent, NumbersConvertAsTheSchemaSays) {
    auto decode = [](const std::string& members) {
        return decodeDockEvent(R"({"deviceId":"d",)" + members + "}");
    };
    const std::pair<const char*, std::int64_t> timestamps[] = {{"1000.9", 1000},
                                                               {"-1000.9", -1000},
                                                               {"18446744073709551615", -1},
                                                               {"-9223372036854775808", INT64_MIN},
                                                               {"-9223372036854775808.0", INT64_MIN}};
    for (const auto& [text, expected] : timestamps)
        EXPECT_EQ(decode(std::string(R"("event":1,"timestamp":)") + text).timestamp, expected) << text;
    const std::pair<const char*, std::uint16_t> events[] = {{"65537", 1},
                                                            {"true", 1},
                                                            {"false", 0},
                                                            {"-1", 65535},
                                                            {"259.99", 259},
                                                            {"-2147483648.5", 0},
                                                            {"2147483647.9", 0xFFFF}};
    for (const auto& [text, expected] : events)
        EXPECT_EQ(decode(std::string(R"("timestamp":0,"event":)") + text).event, expected) << text;
    EXPECT_EQ(decodeDockEvent(withMembers(R"(,"fwVersion":[257,2.9,false])")).fwVersion,
              (FirmwareVersion{1, 2, 0}));
    EXPECT_EQ(decodeDockEvent(withMembers(R"(,"fwVersion":[-1,true,4294967299])")).fwVersion,
              (FirmwareVersion{255, 1, 3}));
}

TEST(DecodeDockEvent, FailuresReportTheFirstBrokenStepWithTheLibraryError) {
    const std::pair<std::string, std::string> cases[] = {
        {"[1,2]", "[json.exception.type_error.304] cannot use at() with array"},
        {"{}", "[json.exception.out_of_range.403] key 'timestamp' not found"},
        {R"({"timestamp":1,"deviceId":5})", "[json.exception.out_of_range.403] key 'event' not found"},
        {R"({"timestamp":1,"event":1})", "[json.exception.out_of_range.403] key 'deviceId' not found"},
        {R"({"timestamp":true,"event":1,"deviceId":"d"})",
         "[json.exception.type_error.302] type must be number, but is boolean"},
        {R"({"timestamp":1,"event":null,"deviceId":"d"})",
         "[json.exception.type_error.302] type must be number, but is null"},
        {R"({"timestamp":1,"event":1,"deviceId":7})",
         "[json.exception.type_error.302] type must be string, but is number"},
        {withMembers(R"(,"updMacAddress":[])"),
         "[json.exception.type_error.302] type must be string, but is array"},
        {withMembers(R"(,"fwVersion":"1.2.3")"),
         "[json.exception.type_error.302] type must be array, but is string"},
        {withMembers(R"(,"fwVersion":[1,{},3])"),
         "[json.exception.type_error.302] type must be number, but is object"},
        // The MAC is read before the version.
        {withMembers(R"(,"updMacAddress":"0123456789:0:0:0:0:0","fwVersion":[1])"),
         "stoi argument out of range"},
    };
    for (const auto& [text, what] : cases)
        EXPECT_EQ(failureOf(text), what) << text;

    for (const char* version : {"[]", "[1,2]", "[1,2,3,4]"})
        EXPECT_EQ(failureOf<std::invalid_argument>(withMembers(std::string(R"(,"fwVersion":)") + version)),
                  "Wrong number of fields for version")
            << version;
}

TEST(DecodeDockEvent, FloatsBeyondTheTargetIntegerAreRefused) {
    for (const std::string& text :
         std::initializer_list<std::string>{R"({"timestamp":9223372036854775808.0,"event":1,"deviceId":"d"})",
                                            R"({"timestamp":-1e300,"event":1,"deviceId":"d"})",
                                            R"({"timestamp":0,"event":2147483648.0,"deviceId":"d"})",
                                            R"({"timestamp":0,"event":-2147483649.0,"deviceId":"d"})",
                                            withMembers(R"(,"fwVersion":[1,2,1e10])")})
        EXPECT_NE(failureOf<json::out_of_range>(text), "") << text;
}

TEST(DecodeDockEvent, TextEndsAtFirstZeroByteAndOnlyWhiteSpaceMayFollowTheValue) {
    for (const std::string& text : {minimal + std::string(11, '\0'), minimal + std::string("\0garbage}", 9),
                                    " \t\r\n" + minimal + " \r\n\t ", "\xEF\xBB\xBF" + minimal})
        EXPECT_EQ(decodeDockEvent(text).timestamp, 1000);

    for (const std::string& text :
         {minimal + "x", minimal + minimal, std::string(), std::string(" \n"), std::string(1, '\0') + minimal,
          minimal.substr(0, minimal.size() - 1), std::string("{\"timestamp\":1,}")})
        EXPECT_NE(failureOf<json::parse_error>(text).find("parse_error.101"), std::string::npos) << text;
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
    EXPECT_EQ(encodeDockEvent(decodeDockEvent(text)), text);

    EXPECT_EQ(
        encodeDockEvent(DockEventMessage()),
        R"({"deviceId":"","event":0,"fwVersion":[0,0,0],"timestamp":0,"updMacAddress":"00:00:00:00:00:00"})");

    record.deviceId = "bad \xFF byte";
    EXPECT_THAT([&] { encodeDockEvent(record); },
                testing::Throws<json::type_error>(testing::Field(&json::type_error::id, 316)));
}
