// Tasks a slot refuses before anything changes: an "/olt/config" whose addresses are not
// IPv4 (they would reach the ping command line) and an "/olt/vlan" whose PON number or VLAN
// cannot be right. Run on a slot that is not started: no threads, no card, no network.
#include <gtest/gtest.h>

#include "APIData.h"
#include "IPCWorker.h"
#include "JsonHelper.h"
#include "PMTask.h"
#include "PONCardTask.h"
#include "Periods.h"

namespace {

class SlotTasks : public ::testing::Test {
protected:
    SlotTasks() {
        Periods periods;
        periods.response = std::chrono::milliseconds(5);  // nobody answers here
        slot_.setPeriods(periods);
        slot_.setSlotForTest("3");
        slot_.getHelperForTest().setNotifier(&notifications_);
    }
    // Runs a task and returns what it printed.
    std::string run(const std::string& uri, const std::string& data) {
        APIData request;
        request.createRequest("set", uri, data);
        PMTask task;
        task.parseTask(request);
        testing::internal::CaptureStdout();
        slot_.runTask(task);
        return testing::internal::GetCapturedStdout();
    }
    size_t notificationsQueued() { return notifications_.getQueueSizeForTest(); }

    IPCWorker notifications_;  // never started
    PONCardTask slot_;
};

}  // namespace

TEST_F(SlotTasks, AnOltConfigWithAnAddressThatIsNotIPv4IsRefusedBeforeAnythingChanges) {
    EXPECT_EQ("", run("/olt/config",
                      R"({"slot_id":"3","src_ip_address":"127.0.1.1","ip_address":"127.0.2.3","onu2onu":"2"})"));
    PONCardHelper& helper = slot_.getHelperForTest();
    ASSERT_EQ("127.0.2.3", slot_.getOltIpAddress());
    ASSERT_EQ("127.0.1.1", slot_.getSourceIpAddress());
    ASSERT_TRUE(helper.hasRequestConfig());
    ASSERT_TRUE(helper.getEnabledOnu2Onu());
    EXPECT_EQ(1u, notificationsQueued());  // the slot started over: its ONUs reported offline
    // State a new address would reset.
    helper.setHasBridgeDomain(true);

    struct Case {
        const char* name;
        const char* key;
        std::string value;
    };
    const Case cases[] = {
        {"command after it", "ip_address", "127.0.2.3;reboot"},
        {"command substitution", "ip_address", "$(reboot)"},
        {"backquotes in the source", "src_ip_address", "`reboot`"},
        {"pipe", "src_ip_address", "127.0.1.1|sh"},
        {"blank inside", "ip_address", "127.0.2.3 127.0.2.4"},
        {"trailing newline", "ip_address", "127.0.2.4\n"},
        {"three parts", "ip_address", "127.0.2"},
        {"five parts", "ip_address", "127.0.2.3.4"},
        {"above 255", "src_ip_address", "127.0.1.256"},
        {"sign", "ip_address", "-127.0.2.3"},
        {"IPv6", "ip_address", "::1"},
        {"host name", "ip_address", "olt3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The other address is a valid new one: it must not be taken either.
        const std::string other = std::string(c.key) == "ip_address" ? "src_ip_address" : "ip_address";
        JsonPtr data(cJSON_CreateObject());
        cJSON_AddStringToObject(data.get(), "slot_id", "3");
        cJSON_AddStringToObject(data.get(), c.key, c.value.c_str());
        cJSON_AddStringToObject(data.get(), other.c_str(), "127.0.9.9");
        cJSON_AddStringToObject(data.get(), "onu2onu", "1");
        const std::string printed = run("/olt/config", JsonHelper::toString(data.get(), true));
        EXPECT_NE(std::string::npos, printed.find("Exception: Invalid IPv4(" + c.value + ") for '" + c.key +
                                                  "', task /olt/config of slot 3 ignored"))
            << printed;
        EXPECT_EQ("127.0.2.3", slot_.getOltIpAddress());
        EXPECT_EQ("127.0.1.1", slot_.getSourceIpAddress());
        EXPECT_EQ("127.0.2.3", helper.getUDPSocket().getClientIpAddress());
        EXPECT_TRUE(helper.getEnabledOnu2Onu());
        EXPECT_TRUE(helper.getHasBridgeDomain());
        EXPECT_EQ(1u, notificationsQueued());
    }

    // A task with the switch alone changes the switch and nothing else.
    EXPECT_EQ("", run("/olt/config", R"({"slot_id":"3","onu2onu":"1"})"));
    EXPECT_FALSE(helper.getEnabledOnu2Onu());
    EXPECT_EQ("127.0.2.3", slot_.getOltIpAddress());
    EXPECT_TRUE(helper.getHasBridgeDomain());
}

TEST_F(SlotTasks, AnOltVlanIsCheckedBeforeAnyRuleIsDeleted) {
    run("/olt/config", R"({"slot_id":"3","src_ip_address":"127.0.1.1","ip_address":"127.0.2.3"})");
    slot_.getHelperForTest().getPONCard().setMacAddress("02:4f:4c:54:00:03");
    struct Case {
        const char* pon;
        const char* vlan;
        std::string refusal;  // "" when the checks pass (the rules are then asked for)
    };
    const Case cases[] = {
        {"0", "100", ""},
        {"1", "4095", ""},
        {"1", "", ""},  // no VLAN: the rules are deleted, none added
        {"2", "100", "Impossible to add VLAN to PON Number(2)"},
        {"02", "100", "Impossible to add VLAN to PON Number(02)"},
        {"65536", "100", "Impossible to add VLAN to PON Number(65536)"},  // would wrap to port 0
        {"-1", "100", "Impossible to add VLAN to PON Number(-1)"},
        {"", "100", "Impossible to add VLAN to PON Number()"},
        {"1x", "100", "Impossible to add VLAN to PON Number(1x)"},
        {"0", "0", "Impossible to set VLAN ID equals to (0)"},
        {"0", "4096", "Impossible to set VLAN ID equals to (4096)"},
        {"0", "65636", "Impossible to set VLAN ID equals to (65636)"},  // would wrap to VLAN 100
        {"0", "4294967396", "Impossible to set VLAN ID equals to (4294967396)"},
        {"0", "-5", "Impossible to set VLAN ID equals to (-5)"},
        {"0", "1e3", "Impossible to set VLAN ID equals to (1e3)"},
        {"0", " 100", "Impossible to set VLAN ID equals to ( 100)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("pon '") + c.pon + "' vlan '" + c.vlan + "'");
        const std::string printed = run("/olt/vlan", std::string(R"({"slot_id":"3","pon_number":")") + c.pon +
                                                         R"(","vlan_id":")" + c.vlan + R"(","discard_untagged":"1"})");
        if (c.refusal.empty()) {
            // Past the checks: the rule listing is sent (and, with no card here, unanswered).
            EXPECT_NE(std::string::npos, printed.find("Impossible to send messages to card")) << printed;
        } else {
            EXPECT_NE(std::string::npos, printed.find("doSetOltVlan[")) << printed;
            EXPECT_NE(std::string::npos, printed.find("]: " + c.refusal + "\n")) << printed;
            EXPECT_EQ(std::string::npos, printed.find("Impossible to send messages to card")) << printed;
        }
    }
}

TEST(Periods, TheScaleComesFromTheEnvironmentAndOnlyShortens) {
    EXPECT_EQ(0.1, Periods::parseScale("0.1"));
    EXPECT_EQ(1.0, Periods::parseScale("1"));
    for (const char* bad : {"", "0", "-0.5", "1.5", "0.1s", "abc", " "})
        EXPECT_EQ(0.0, Periods::parseScale(bad)) << bad;
    const Periods real;
    EXPECT_EQ(std::chrono::milliseconds(1000), real.pass);
    EXPECT_EQ(std::chrono::milliseconds(5000), real.configWait);
    EXPECT_EQ(std::chrono::milliseconds(10000), real.pingCycle);
    const Periods fast = Periods::scaled(0.1);
    EXPECT_EQ(std::chrono::milliseconds(100), fast.pass);
    EXPECT_EQ(std::chrono::milliseconds(500), fast.response);
    EXPECT_EQ(std::chrono::milliseconds(1), Periods::scaled(1e-9).pass);
}
