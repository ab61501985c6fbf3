#pragma once
// Code tables of the OLT protocol and unit conversions of raw transceiver readings.
// Stateless: every operation is a static pure function, safe from any thread. Lookups of an
// unknown code throw Exception ("TK ... ID(<code>) not found"); the to* conversions of
// decimal text throw the standard conversion errors (std::invalid_argument,
// std::out_of_range) for text that is not a number.

#include <cstdint>
#include <string>

// Alarm codes: the alarm_id of an alarm report.
enum TKReportAlarmId : uint8_t {
    TK_ALARM_STANDARD_LINK_FAULT = 16,
    TK_ALARM_LOSS_OF_SIGNAL = 17,
    TK_ALARM_TRANSMIT_FAIL = 18,
    TK_ALARM_TRANSMIT_DEGRADE = 19,
    TK_ALARM_MAC_LEARNING_OVERFLOW = 21,
    TK_ALARM_REPORT_TIMEOUT = 23,
    TK_ALARM_OAM_KEEPALIVE_TIMEOUT = 25,
    TK_ALARM_KEY_EXCHANGE_FAILURE = 26,
    TK_ALARM_AUTO_NEGOTIATION_FAILURE = 27,
    TK_ALARM_EXTERNAL_LINK_FAULT = 28,
    TK_ALARM_ONU_BURST_CAP = 29,
    TK_ALARM_CTC_KEY_EXCHANGE_FAILURE_3_TIMES = 30,
    TK_ALARM_LOOPBACK = 32,
    TK_ALARM_PORT_DISABLED = 33,
    TK_ALARM_STANDARD_DYING_GASP = 64,
    TK_ALARM_POWER_FAIL = 65,
    TK_ALARM_EXTERNAL_DYING_GASP = 66,
    TK_ALARM_STANDARD_CRITICAL_EVENT = 96,
    TK_ALARM_EXTERNAL_CRITICAL_EVENT = 98,
    TK_ALARM_STANDARD_OTHER_EVENT = 128,
    TK_ALARM_TEMPERATURE = 129,
    TK_ALARM_EXTERNAL_ALARM_GPIO = 130,
    TK_ALARM_NUM_LINKS = 135,
    TK_ALARM_MIXED_NETWORK_ERROR = 137,
    TK_ALARM_LAYER3_IP_MAC_TABLE_OVERFLOW = 138,
    TK_ALARM_DHCP_ARP_DOS = 140,
    TK_ALARM_FPGA_PROGRAMMING_ERROR = 153,
    TK_ALARM_IGMP_OUT_OF_INTERNAL_RESOURCES = 154,
    TK_ALARM_PPPOE_TABLE_OVERFLOW = 155,
    TK_ALARM_IPV6_TABLE_OVERFLOW = 158,
    TK_ALARM_IMPROPER_REPORT_FORMAT = 161,
    TK_ALARM_ONU_FLASH_BUSY = 162,
    TK_ALARM_NO_REPORTS_ON_EPON_PORT = 163,
    TK_ALARM_LOOP_DETECTED = 164,
    TK_ALARM_OPTICAL_POWER_LOW = 165,
    TK_ALARM_EPON_STANDBY_LOS = 166,
    TK_ALARM_CRITICAL_RESOURCE_UNAVAILABLE = 167,
    TK_ALARM_LINK_ACTIVATION_FAILURE = 168,
    TK_ALARM_LINK_OVER_GRANT = 169,
    TK_ALARM_STACK_OVERFLOW = 170,
    TK_ALARM_POWER_SAVING_ONU_SLEEP = 171,
    TK_ALARM_ECC_UNCORRECTABLE_ERROR = 172,
};

// Entity tags: the entity_tag of an alarm report and the first byte of a request target.
enum TKEntityTagId : uint8_t {
    TK_ENTITY_ONU_LINK = 3,
    TK_ENTITY_OLT_PORT = 5,
    TK_ENTITY_OLT_LINK = 7,
};

// Port numbers of the OLT: the two EPON (PON) ports, then the two NNI ports.
enum TKEntityPortId : uint16_t {
    TK_PORT_EPON_0 = 0,
    TK_PORT_EPON_1 = 1,
    TK_PORT_NNI_0 = 2,
    TK_PORT_NNI_1 = 3,
};

// Message IDs: requests, whose replies echo them, and the unsolicited reports from 0x8000.
enum TKIDMessage : uint16_t {
    TK_SET_DEFAULT_OAM_RATE = 0x0001,
    TK_RESET_OLT = 0x0006,
    TK_GET_OLT_INFORMATION = 0x0007,
    TK_ENABLE_OLT = 0x0008,
    TK_DISABLE_OLT = 0x0009,
    TK_RESTORE_OLT_DEFAULTS = 0x000A,
    TK_GET_LIST_OF_DISCOVERED_LINKS = 0x0044,
    TK_SET_OLT_BRIDGING_CONFIGURATION = 0x0050,
    TK_RESET_ONU = 0x0053,
    TK_GET_LIST_OF_ALL_KNOWN_LOGICAL_LINKS = 0x0076,
    TK_CLEAR_ALL_PROVISIONING_FOR_LOGICAL_LINK = 0x0077,
    TK_ONU_PORT_VLAN = 0x0111,
    TK_CLEAR_ALL_ALLOWED_LINKS = 0x0126,
    TK_CTC_SET_ETHERNET_PORT = 0x012B,
    TK_GET_OLT_NVS_ENABLED = 0x012D,
    TK_SET_OLT_NVS_ENABLED = 0x012E,
    TK_GET_STATISTICS = 0x0138,
    TK_SET_OLT_IP_MULTICAST_GLOBAL_PROVISIONING = 0x014F,
    TK_SET_OLT_IP_MULTICAST_DOMAIN_PROXY_PROVISIONING = 0x0151,
    TK_SET_OLT_IP_MULTICAST_HOST_COPY = 0x015D,
    TK_SET_DBA_POLLING_INTERVAL_HIGH_RESOLUTION = 0x0163,
    TK_SET_EPON_LOOP_TIMING = 0x0167,
    TK_GET_ONU_INFORMATION = 0x016B,
    TK_SET_AGGREGATE_BANDWIDTH = 0x0173,
    TK_SET_PATH = 0x0178,
    TK_GET_ALL_PATHS = 0x0179,
    TK_DELETE_PATH = 0x017A,
    TK_GET_ALL_DOMAINS = 0x017D,
    TK_SET_QUEUE_SLA = 0x0180,
    TK_ENABLE_LINK = 0x0181,
    TK_DISABLE_LINK = 0x0182,
    TK_DELETE_QUEUE_SLA = 0x0183,
    TK_GET_OLT_BRIDGING_MODE = 0x0184,
    TK_SET_ENCRYPTION_MODE_DEFAULT = 0x0189,
    TK_SET_LINK_SLA = 0x018D,
    TK_GET_OLT_PORT_LINK_RULES = 0x018F,
    TK_SET_OLT_RULE = 0x0190,
    TK_DELETE_OLT_PORT_LINK_RULE = 0x0191,
    TK_SET_DOMAIN_RULES = 0x0193,
    TK_SET_DESTINATION = 0x0196,
    TK_DELETE_DESTINATION = 0x0198,
    TK_SET_DESTINATION_LEARNING_CONTROL = 0x019A,
    TK_SET_DBA_AGGREGATE_BANDWIDTH = 0x019C,
    TK_GET_OAM_EXTENSION_SET_SUPPORT = 0x01B3,
    TK_SET_OAM_EXTENSION_SET_SUPPORT = 0x01B4,
    TK_DELETE_DESTINATION_LEARNING_CONTROL = 0x01ED,
    TK_SET_DOMAIN_SELECTORS = 0x01F2,
    TK_GET_DESTINATION_RULES = 0x0204,
    TK_SET_DESTINATION_RULES = 0x0205,
    TK_DELETE_DESTINATION_RULES = 0x0206,
    TK_SET_EPON_SYNC_TIME = 0x0220,
    TK_SET_DOMAIN_VERSION2 = 0x0225,
    TK_GET_CTC21_OPTICAL_TRANSCEIVER_DIAGNOSIS = 0x0249,
    TK_OLT_READY = 0x8000,
    TK_LINK_DISCOVERY = 0x8019,
    TK_REPORT_ALARM = 0x801A,
    TK_ONU_LINK_MOVED_BETWEEN_PON_PORTS = 0x802B,
};

class TKHelper {
public:
    virtual ~TKHelper() = default;

    // Text of an alarm code; throws "TK Report Alarm ID(<code>) not found".
    static std::string getStringReportAlarmId(int code);
    static std::string getStringReportAlarmId(const std::string& code);
    // "ONU Link", "OLT Port", "OLT Link"; throws "TK Entity Tag ID(<tag>) not found".
    static std::string getStringEntityTagId(int tag);
    static std::string getStringEntityTagId(const std::string& tag);
    // "EPON-0", "EPON-1", "NNI-0", "NNI-1"; throws "TK Entity Port ID(<code>) not found".
    static std::string getStringEntityPortId(int code);
    static std::string getStringEntityPortId(const std::string& code);
    // Name of an unsolicited message: the link-moved report has its own, every other ID is
    // "Alarm ID(<id>)". Never fails.
    static std::string getStringGeneralReportAlarmId(int messageId);

    // Decimal text to number (std::stoi).
    static int toReportAlarmId(const std::string& text);
    static int toEntityTagId(const std::string& text);
    static int toEntityPortId(const std::string& text);
    static int toGeneralReportAlarmId(const std::string& text);

    // Raw 16-bit transceiver readings (unsigned decimal text) to units, two decimals.
    // A reading of 0 or less means "not measured" and comes back unchanged, except for the
    // power, which is always computed (0 gives "-inf").
    static std::string toCelsius_Temperature(const std::string& raw);  // 1/256 degree C
    static std::string toVoltage_VCC(const std::string& raw);          // 100 uV
    static std::string toMiliAmps_Current(const std::string& raw);     // 2 uA
    static std::string todBm_Power(const std::string& raw);            // 0.1 uW
};
