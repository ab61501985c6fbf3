// Code tables (texts are sent to the database daemon and shown to operators, so they are
// pinned exactly) and the unit conversions of raw transceiver readings.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "Exception.h"
#include "TKHelper.h"

namespace {

struct Code {
    int code;
    const char* text;
};

const Code kAlarms[] = {
    {16, "Standard Link Fault"},
    {17, "Loss of Signal"},
    {18, "Transmit Fail"},
    {19, "Transmit Degrade"},
    {21, "MAC Learning Overflow"},
    {23, "Report Timeout"},
    {25, "OAM Keepalive Timeout"},
    {26, "Key Exchange Failure"},
    {27, "Auto Negotiation Failure"},
    {28, "External Link Fault"},
    {29, "ONU Burst Cap"},
    {30, "CTC Key Exchange Failure 3 Times"},
    {32, "Loopback"},
    {33, "Port Disabled"},
    {64, "Standard Dying Gasp"},
    {65, "Power Fail"},
    {66, "External Dying Gasp"},
    {96, "Standard Critical Event"},
    {98, "External Critical Event"},
    {128, "Standard Other Event"},
    {129, "Temperature"},
    {130, "External Alarm Gpio"},
    {135, "Num Links"},
    {137, "Mixed Network Error"},
    {138, "Layer3 IP MAC Table Overflow"},
    {140, "Dhcp Arp Dos"},
    {153, "Fpga Programming Error"},
    {154, "IGMP Out Of Internal Resources"},
    {155, "Pppoe Table Overflow"},
    {158, "IPv6 Table Overflow"},
    {161, "Improper Report Format"},
    {162, "ONU Flash Busy"},
    {163, "No Reports On EPON Port"},
    {164, "Loop Detected"},
    {165, "Optical Power Low"},
    {166, "EPON Standby LOS"},
    {167, "Critical Resource Unavailable"},
    {168, "Link Activation Failure"},
    {169, "Link Over Grant"},
    {170, "Stack Overflow"},
    {171, "Power Saving ONU Sleep"},
    {172, "ECC Uncorrectable Error"},
};

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exception& e) {
        return e.getMessage();
    }
    return "no exception";
}

TEST(TKHelperCodes, AlarmTextsByNumberAndByDecimalText) {
    for (const auto& c : kAlarms) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(TKHelper::getStringReportAlarmId(c.code), c.text);
        EXPECT_EQ(TKHelper::getStringReportAlarmId(std::to_string(c.code)), c.text);
    }
    // No code outside the table has a text: every byte value is either a row or refused.
    int known = 0;
    for (int code = 0; code <= 255; ++code) {
        try {
            TKHelper::getStringReportAlarmId(code);
            ++known;
        } catch (const Exception&) {}
    }
    EXPECT_EQ(known, 42);
}

TEST(TKHelperCodes, UnknownCodesAreRefusedWithTheirNumber) {
    for (int code : {20, 22, 24, 31, 97, 131, 0, 256}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(messageOf([&] { TKHelper::getStringReportAlarmId(code); }),
                  "TK Report Alarm ID(" + std::to_string(code) + ") not found");
    }
    EXPECT_EQ(messageOf([] { TKHelper::getStringReportAlarmId("131"); }), "TK Report Alarm ID(131) not found");
    EXPECT_EQ(messageOf([] { TKHelper::getStringEntityTagId(4); }), "TK Entity Tag ID(4) not found");
    EXPECT_EQ(messageOf([] { TKHelper::getStringEntityTagId("4"); }), "TK Entity Tag ID(4) not found");
    EXPECT_EQ(messageOf([] { TKHelper::getStringEntityPortId(4); }), "TK Entity Port ID(4) not found");
    EXPECT_EQ(messageOf([] { TKHelper::getStringEntityPortId(-1); }), "TK Entity Port ID(-1) not found");
}

TEST(TKHelperCodes, EntityTagsPortsAndUnsolicitedNames) {
    const Code tags[] = {{3, "ONU Link"}, {5, "OLT Port"}, {7, "OLT Link"}};
    for (const auto& c : tags) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TKHelper::getStringEntityTagId(c.code), c.text);
        EXPECT_EQ(TKHelper::getStringEntityTagId(std::to_string(c.code)), c.text);
    }
    const Code ports[] = {{0, "EPON-0"}, {1, "EPON-1"}, {2, "NNI-0"}, {3, "NNI-1"}};
    for (const auto& c : ports) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TKHelper::getStringEntityPortId(c.code), c.text);
        EXPECT_EQ(TKHelper::getStringEntityPortId(std::to_string(c.code)), c.text);
    }
    EXPECT_EQ(TKHelper::getStringGeneralReportAlarmId(32811), "ONU Link Moved Between PON Ports");
    EXPECT_EQ(TKHelper::getStringGeneralReportAlarmId(32794), "Alarm ID(32794)");
    EXPECT_EQ(TKHelper::getStringGeneralReportAlarmId(TKHelper::toGeneralReportAlarmId("32768")), "Alarm ID(32768)");
}

TEST(TKHelperCodes, DecimalTextThatIsNoNumberRaisesTheStandardError) {
    EXPECT_THROW(TKHelper::toReportAlarmId("abc"), std::invalid_argument);
    EXPECT_THROW(TKHelper::getStringEntityTagId(""), std::invalid_argument);
    EXPECT_THROW(TKHelper::toEntityPortId("99999999999"), std::out_of_range);
    EXPECT_EQ(TKHelper::toEntityTagId(" 5"), 5);
}

TEST(TKHelperUnits, RawReadingsToUnits) {
    struct Case {
        const char* name;
        std::string (*convert)(const std::string&);
        const char* raw;
        const char* expected;
    };
    const Case cases[] = {
        {"temperature 0x1900", TKHelper::toCelsius_Temperature, "6400", "25.00"},
        {"temperature 0xFF00 is unsigned", TKHelper::toCelsius_Temperature, "65280", "255.00"},
        {"temperature 1/256", TKHelper::toCelsius_Temperature, "1", "0.00"},
        {"temperature 0 unchanged", TKHelper::toCelsius_Temperature, "0", "0"},
        {"temperature negative unchanged", TKHelper::toCelsius_Temperature, "-12", "-12"},
        {"voltage", TKHelper::toVoltage_VCC, "33000", "3.30"},
        {"voltage 0 unchanged", TKHelper::toVoltage_VCC, "0", "0"},
        {"current", TKHelper::toMiliAmps_Current, "5000", "10.00"},
        {"current of the largest reading", TKHelper::toMiliAmps_Current, "65535", "131.07"},
        {"current 0 unchanged", TKHelper::toMiliAmps_Current, "0", "0"},
        {"power 1 mW", TKHelper::todBm_Power, "10000", "0.00"},
        {"power 0.1 mW", TKHelper::todBm_Power, "1000", "-10.00"},
        {"power 0.1 uW", TKHelper::todBm_Power, "1", "-40.00"},
        {"power 6.5535 mW", TKHelper::todBm_Power, "65535", "8.16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.convert(c.raw), c.expected);
    }
    EXPECT_THROW(TKHelper::toVoltage_VCC("-"), std::invalid_argument);
}

}  // namespace
