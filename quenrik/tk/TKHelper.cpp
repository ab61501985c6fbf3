#include "TKHelper.h"

#include <cmath>
#include <map>

#include "Exception.h"
#include "Helper.h"

namespace {

const std::map<int, const char*>& alarmTexts() {
    static const std::map<int, const char*> texts = {
        {TK_ALARM_STANDARD_LINK_FAULT, "Standard Link Fault"},
        {TK_ALARM_LOSS_OF_SIGNAL, "Loss of Signal"},
        {TK_ALARM_TRANSMIT_FAIL, "Transmit Fail"},
        {TK_ALARM_TRANSMIT_DEGRADE, "Transmit Degrade"},
        {TK_ALARM_MAC_LEARNING_OVERFLOW, "MAC Learning Overflow"},
        {TK_ALARM_REPORT_TIMEOUT, "Report Timeout"},
        {TK_ALARM_OAM_KEEPALIVE_TIMEOUT, "OAM Keepalive Timeout"},
        {TK_ALARM_KEY_EXCHANGE_FAILURE, "Key Exchange Failure"},
        {TK_ALARM_AUTO_NEGOTIATION_FAILURE, "Auto Negotiation Failure"},
        {TK_ALARM_EXTERNAL_LINK_FAULT, "External Link Fault"},
        {TK_ALARM_ONU_BURST_CAP, "ONU Burst Cap"},
        {TK_ALARM_CTC_KEY_EXCHANGE_FAILURE_3_TIMES, "CTC Key Exchange Failure 3 Times"},
        {TK_ALARM_LOOPBACK, "Loopback"},
        {TK_ALARM_PORT_DISABLED, "Port Disabled"},
        {TK_ALARM_STANDARD_DYING_GASP, "Standard Dying Gasp"},
        {TK_ALARM_POWER_FAIL, "Power Fail"},
        {TK_ALARM_EXTERNAL_DYING_GASP, "External Dying Gasp"},
        {TK_ALARM_STANDARD_CRITICAL_EVENT, "Standard Critical Event"},
        {TK_ALARM_EXTERNAL_CRITICAL_EVENT, "External Critical Event"},
        {TK_ALARM_STANDARD_OTHER_EVENT, "Standard Other Event"},
        {TK_ALARM_TEMPERATURE, "Temperature"},
        {TK_ALARM_EXTERNAL_ALARM_GPIO, "External Alarm Gpio"},
        {TK_ALARM_NUM_LINKS, "Num Links"},
        {TK_ALARM_MIXED_NETWORK_ERROR, "Mixed Network Error"},
        {TK_ALARM_LAYER3_IP_MAC_TABLE_OVERFLOW, "Layer3 IP MAC Table Overflow"},
        {TK_ALARM_DHCP_ARP_DOS, "Dhcp Arp Dos"},
        {TK_ALARM_FPGA_PROGRAMMING_ERROR, "Fpga Programming Error"},
        {TK_ALARM_IGMP_OUT_OF_INTERNAL_RESOURCES, "IGMP Out Of Internal Resources"},
        {TK_ALARM_PPPOE_TABLE_OVERFLOW, "Pppoe Table Overflow"},
        {TK_ALARM_IPV6_TABLE_OVERFLOW, "IPv6 Table Overflow"},
        {TK_ALARM_IMPROPER_REPORT_FORMAT, "Improper Report Format"},
        {TK_ALARM_ONU_FLASH_BUSY, "ONU Flash Busy"},
        {TK_ALARM_NO_REPORTS_ON_EPON_PORT, "No Reports On EPON Port"},
        {TK_ALARM_LOOP_DETECTED, "Loop Detected"},
        {TK_ALARM_OPTICAL_POWER_LOW, "Optical Power Low"},
        {TK_ALARM_EPON_STANDBY_LOS, "EPON Standby LOS"},
        {TK_ALARM_CRITICAL_RESOURCE_UNAVAILABLE, "Critical Resource Unavailable"},
        {TK_ALARM_LINK_ACTIVATION_FAILURE, "Link Activation Failure"},
        {TK_ALARM_LINK_OVER_GRANT, "Link Over Grant"},
        {TK_ALARM_STACK_OVERFLOW, "Stack Overflow"},
        {TK_ALARM_POWER_SAVING_ONU_SLEEP, "Power Saving ONU Sleep"},
        {TK_ALARM_ECC_UNCORRECTABLE_ERROR, "ECC Uncorrectable Error"},
    };
    return texts;
}

}  // namespace

std::string TKHelper::getStringReportAlarmId(int code) {
    const auto found = alarmTexts().find(code);
    if (found == alarmTexts().end()) {
        throw Exception("TK Report Alarm ID(" + std::to_string(code) + ") not found", __func__, __LINE__);
    }
    return found->second;
}

std::string TKHelper::getStringReportAlarmId(const std::string& code) {
    return getStringReportAlarmId(toReportAlarmId(code));
}

std::string TKHelper::getStringEntityTagId(int tag) {
    switch (tag) {
        case TK_ENTITY_ONU_LINK: return "ONU Link";
        case TK_ENTITY_OLT_PORT: return "OLT Port";
        case TK_ENTITY_OLT_LINK: return "OLT Link";
        default: throw Exception("TK Entity Tag ID(" + std::to_string(tag) + ") not found", __func__, __LINE__);
    }
}

std::string TKHelper::getStringEntityTagId(const std::string& tag) { return getStringEntityTagId(toEntityTagId(tag)); }

std::string TKHelper::getStringEntityPortId(int code) {
    switch (code) {
        case TK_PORT_EPON_0: return "EPON-0";
        case TK_PORT_EPON_1: return "EPON-1";
        case TK_PORT_NNI_0: return "NNI-0";
        case TK_PORT_NNI_1: return "NNI-1";
        default: throw Exception("TK Entity Port ID(" + std::to_string(code) + ") not found", __func__, __LINE__);
    }
}

std::string TKHelper::getStringEntityPortId(const std::string& code) {
    return getStringEntityPortId(toEntityPortId(code));
}

std::string TKHelper::getStringGeneralReportAlarmId(int messageId) {
    if (messageId == TK_ONU_LINK_MOVED_BETWEEN_PON_PORTS) {
        return "ONU Link Moved Between PON Ports";
    }
    return "Alarm ID(" + std::to_string(messageId) + ")";
}

int TKHelper::toReportAlarmId(const std::string& text) { return std::stoi(text); }
int TKHelper::toEntityTagId(const std::string& text) { return std::stoi(text); }
int TKHelper::toEntityPortId(const std::string& text) { return std::stoi(text); }
int TKHelper::toGeneralReportAlarmId(const std::string& text) { return std::stoi(text); }

std::string TKHelper::toCelsius_Temperature(const std::string& raw) {
    // The reading is taken as unsigned: the OLT reports 0xFF00 as 255 degrees, not -1.
    const int r = std::stoi(raw);
    if (r <= 0) return raw;
    return Helper::toStringNumber(r / 256.0);
}

std::string TKHelper::toVoltage_VCC(const std::string& raw) {
    const int r = std::stoi(raw);
    if (r <= 0) return raw;
    return Helper::toStringNumber(r / 10000.0);
}

std::string TKHelper::toMiliAmps_Current(const std::string& raw) {
    const int r = std::stoi(raw);
    if (r <= 0) return raw;
    return Helper::toStringNumber(r * 2.0 / 1000.0);
}

std::string TKHelper::todBm_Power(const std::string& raw) {
    const int r = std::stoi(raw);
    return Helper::toStringNumber(10.0 * std::log10(r / 10.0) - 30.0);
}
