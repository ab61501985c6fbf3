#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Exception.h"
#include "JsonHelper.h"
#include "OnuLink.h"
#include "PONCard.h"

namespace {

std::vector<std::string> memberNames(const std::string& json) {
    JsonPtr root(JsonHelper::parseJObject(json));
    std::vector<std::string> names;
    for (const cJSON* m = root->child; m != nullptr; m = m->next) names.push_back(m->string);
    return names;
}

TEST(OnuLink, PrintsAllMembersFormattedInKeyOrder) {
    OnuLink link("00:11:22:33:44:55");
    const std::string json = link.getJsonData();
    EXPECT_NE(json.find("\n\t\"alarm_message\":\t\"\""), std::string::npos);
    EXPECT_EQ(memberNames(json), (std::vector<std::string>{"alarm_message",
                                                           "brdcst_p2p_queue",
                                                           "down_p2p_queue",
                                                           "downstream_queue",
                                                           "ether_up_status",
                                                           "has_destination",
                                                           "id",
                                                           "is_gigabit",
                                                           "mac_address",
                                                           "mcast_queue",
                                                           "online_status",
                                                           "pon_port",
                                                           "slot_id",
                                                           "status_reported",
                                                           "supply_voltage",
                                                           "temperature",
                                                           "tx_bias_current",
                                                           "tx_power_input",
                                                           "tx_power_output",
                                                           "up_p2p_queue",
                                                           "upstream_queue"}));
    EXPECT_EQ(link.getMacAddress(), "00:11:22:33:44:55");
    EXPECT_EQ(link.getHexMacAddress(), "001122334455");
    EXPECT_EQ(link.getPonPort(), "-");
    EXPECT_EQ(link.getDestinationId(), 0);
    EXPECT_FALSE(link.getHasModified());
}

TEST(OnuLink, PointToPointQueuesFollowTheDownstreamQueue) {
    struct Case {
        const char* queue;
        const char* down;
        const char* up;
        const char* broadcast;
        int destination;
    };
    const Case cases[] = {
        {"0", "1A14", "1A15", "1A16", 512},
        {"2", "1A1A", "1A1B", "1A1C", 514},
        {"A", "1A32", "1A33", "1A34", 522},
        {" 1f", "1A71", "1A72", "1A73", 543},
        {"5000", "0A14", "0A15", "0A16", 0x5000 + 512},   // 3q + 0x1A14 wraps past 16 bits
        {"A1F9", "FFFF", "0000", "0001", 0xA1F9 + 512},   // so do the up and broadcast queues
        {"1A1F9", "FFFF", "0000", "0001", 0xA1F9 + 512},  // the queue itself is 16 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.queue);
        OnuLink link("00:11:22:33:44:55");
        link.setDownstreamQueue(c.queue);
        EXPECT_EQ(link.getDownstreamQueue(), c.queue);
        EXPECT_EQ(link.getDownstreamP2PQueue(), c.down);
        EXPECT_EQ(link.getUpstreamP2PQueue(), c.up);
        EXPECT_EQ(link.getBroadcastP2PQueue(), c.broadcast);
        EXPECT_EQ(link.getDestinationId(), c.destination);
    }
}

TEST(OnuLink, QueueTextWithoutHexDigitsIsAConversionError) {
    OnuLink link("00:11:22:33:44:55");
    link.setDownstreamQueue("2");
    EXPECT_THROW(link.setDownstreamQueue("zz"), std::invalid_argument);
    EXPECT_THROW(link.getDestinationId(), std::invalid_argument);
    EXPECT_EQ(link.getDownstreamP2PQueue(), "1A1A");  // the derived queues stay as they were
    EXPECT_THROW(link.setDownstreamQueue(""), std::invalid_argument);
    EXPECT_EQ(link.getDestinationId(), 0);
}

TEST(OnuLink, FlagsAlarmsAndJsonUpdate) {
    OnuLink link("00:11:22:33:44:55");
    link.setOnlineStatus(true);
    link.setIsGigabit(true);
    link.setHasDestination(true);
    EXPECT_TRUE(link.getHasModified());
    link.clearHasModified();
    link.setOnlineStatus(true);
    EXPECT_FALSE(link.getHasModified());
    link.setOnlineStatus(false);
    EXPECT_FALSE(link.getOnlineStatus());
    EXPECT_TRUE(link.getIsGigabit());
    EXPECT_TRUE(link.hasDestination());
    EXPECT_NE(link.getJsonData().find("\"is_gigabit\":\t\"1\""), std::string::npos);

    link.addAlarmMessage("Link Fault");
    link.addAlarmMessage("Dying Gasp");
    EXPECT_EQ(link.getAlarmMessage(), "Link Fault,Dying Gasp");
    link.clearAlarmMessage();
    EXPECT_EQ(link.getAlarmMessage(), "");

    // How the database rebuilds a link from a notification: strings only, never "id".
    OnuLink copy("00:11:22:33:44:55");
    EXPECT_FALSE(copy.setJsonData(R"({"online_status":1,"id":"4"})"));
    EXPECT_FALSE(copy.getOnlineStatus());
    EXPECT_TRUE(copy.setJsonData(R"({"online_status":"1","temperature":"41.20","unknown":"x"})"));
    EXPECT_TRUE(copy.getOnlineStatus());
    EXPECT_EQ(copy.getTemperature(), "41.20");
    EXPECT_EQ(copy.getJsonData().find("unknown"), std::string::npos);
}

TEST(PONCard, PrintsKeysThenTheTwoModules) {
    PONCard card;
    const std::string module =
        R"({"id":"0","qvOpticModuleOltPonIndex":"","qvOpticModuleOltSlotIndex":"","qvOpticModuleOltTemperature":"-",)"
        R"("qvOpticModuleOltTxBias":"-","qvOpticModuleOltTxPower":"-","qvOpticModuleOltVcc":"-"})";
    EXPECT_EQ(card.getJsonData(), R"({"app_version":"","id":"0","mac_address":"","nvs_enabled":"0",)"
                                  R"("online_status":"0","slot_id":"","status_reported":"0","module_olt_table":[)" +
                                      module + "," + module + "]}");
    card.setMacAddress("00:0a:0b:0c:0d:0e");
    EXPECT_EQ(card.getHexMacAddress(), "000a0b0c0d0e");
    card.clearMacAddress();
    EXPECT_EQ(card.getMacAddress(), "");
    card.setNVSEnabled(true);
    EXPECT_TRUE(card.getNVSEnabled());
}

TEST(PONCard, ModulesByPort) {
    PONCard card;
    ModuleOltTableRow* port0 = card.getModuleOltTable(0);
    ModuleOltTableRow* port1 = card.getModuleOltTable(1);
    ASSERT_NE(port0, port1);

    // The JSON update reaches both modules by position.
    EXPECT_TRUE(card.setJsonData(R"({"online_status":"1","module_olt_table":[{"qvOpticModuleOltTxPower":"2.10"},)"
                                 R"({"qvOpticModuleOltTxPower":"2.20"}]})"));
    EXPECT_TRUE(card.getOnlineStatus());
    EXPECT_EQ(port0->getValue("qvOpticModuleOltTxPower"), "2.10");
    EXPECT_EQ(port1->getValue("qvOpticModuleOltTxPower"), "2.20");

    for (int port : {2, -1}) {
        SCOPED_TRACE(port);
        try {
            card.getModuleOltTable(port);
            ADD_FAILURE() << "no Exception raised";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), "PON (" + std::to_string(port) + ") not found");
            EXPECT_EQ(std::string(e.what()).rfind("getModuleOltTable[", 0), 0u);
        }
    }

    card.clear();
    try {
        card.getModuleOltTable(0);
        ADD_FAILURE() << "no Exception raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Key 'module_olt_table' not found");
    }
    EXPECT_EQ(card.getJsonData(), R"({"id":"0"})");
}

}  // namespace
