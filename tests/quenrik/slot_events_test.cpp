// What a slot makes of the messages its OLT sends on its own, fed straight into the slot's
// event queue: each message handled on its own, the alarm rows built from them.
#include <gtest/gtest.h>

#include "APIData.h"
#include "IPCWorker.h"
#include "JsonHelper.h"
#include "OnuLink.h"
#include "PONCardHelper.h"
#include "SocketHelper.h"
#include "harness/Frames.h"
#include "JsonFields.h"

using namespace quenrik_test;
using halvorn_test::field;

namespace {

const std::string kA = "02:4f:4e:05:00:00";
const std::string kB = "02:4f:4e:05:01:07";

class SlotEvents : public ::testing::Test {
protected:
    SlotEvents() {
        slot_.setNotifier(&notifications_);
        slot_.start(socketHelper_, "5");  // registers only: this helper never opens a socket
    }
    void feed(std::unique_ptr<TKMessage> message) { ASSERT_TRUE(slot_.getUDPSocket().processRxQueue(message)); }
    // The notifications queued so far, as "uri data" texts.
    std::vector<std::pair<std::string, std::string>> sent() {
        std::vector<std::pair<std::string, std::string>> out;
        while (auto n = notifications_.takeNotificationForTest()) out.push_back({n->getUri(), n->getJsonData()});
        return out;
    }
    OnuLink* link(const std::string& mac) { return slot_.getOnuLinkList().getOnuLinkFromMAC(mac); }

    IPCWorker notifications_;  // never started: notifications stay queued for the test
    SocketHelper socketHelper_;
    PONCardHelper slot_;
};

// The rows of an "/olt/alarm/new" data text as "label|alarm|state|slot" lines.
std::vector<std::string> rows(const std::string& data) {
    std::vector<std::string> out;
    JsonPtr json(cJSON_Parse(data.c_str()));
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, cJSON_GetObjectItemCaseSensitive(json.get(), "alarm_list")) {
        const std::string text = JsonHelper::toString(row, true);
        out.push_back(field(text, "label") + "|" + field(text, "alarm") + "|" + field(text, "state") + "|" +
                      field(text, "slot_id"));
        EXPECT_EQ(19u, field(text, "datetime").size()) << text;  // dd/mm/yyyy hh:mm:ss
    }
    return out;
}

}  // namespace

TEST_F(SlotEvents, AnUnreadableMessageIsSkippedAndTheOthersOfTheBatchAreHandled) {
    feed(event(0x8099, {1, 2, 3}));  // an ID without a decoder
    feed(linkDiscovery(kA, 0));
    feed(reportAlarm(4, kA, 23, 1));  // an entity tag the decoder refuses
    feed(linkDiscovery(kB, 1));
    feed(reportAlarm(3, kA, 23, 1));  // Report Timeout for A
    testing::internal::CaptureStdout();
    EXPECT_TRUE(slot_.handleAlarms());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, printed.find("Response Message ID (32921) not handled")) << printed;
    EXPECT_NE(std::string::npos, printed.find("Entity Tag(4) not handled")) << printed;

    ASSERT_EQ(2u, slot_.getOnuLinkList().size());
    ASSERT_NE(nullptr, link(kA));
    EXPECT_FALSE(link(kA)->getOnlineStatus());
    EXPECT_EQ("Report Timeout", link(kA)->getAlarmMessage());
    EXPECT_EQ("0", link(kA)->getPonPort());
    ASSERT_NE(nullptr, link(kB));
    EXPECT_TRUE(link(kB)->getOnlineStatus());
    EXPECT_FALSE(link(kB)->getStatusReported());
    EXPECT_EQ("1", link(kB)->getPonPort());

    // One report for the pass, its rows in the order of the messages.
    slot_.doReportAlarmToHalvorn();
    const auto out = sent();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ("/olt/alarm/new", out[0].first);
    EXPECT_EQ((std::vector<std::string>{"ONU Link: " + kA + "|Report Timeout|Off|5",
                                        "ONU Link: " + kB + "|Report Timeout|Off|5",
                                        "ONU Link: " + kA + "|Report Timeout|On|5"}),
              rows(out[0].second));
    // A pass without new messages sends nothing.
    EXPECT_TRUE(slot_.handleAlarms());
    slot_.doReportAlarmToHalvorn();
    EXPECT_TRUE(sent().empty());
}

TEST_F(SlotEvents, OltReadyStartsTheSlotOverAndDropsTheMessagesAfterIt) {
    slot_.getPONCard().setMacAddress("02:4f:4c:54:00:05");
    feed(linkDiscovery(kA, 0));
    feed(oltReady("02:4f:4c:54:00:05"));
    feed(linkDiscovery(kB, 1));
    EXPECT_FALSE(slot_.handleAlarms());
    EXPECT_FALSE(slot_.hasOltMacAddress());
    EXPECT_NE(nullptr, link(kA));
    EXPECT_EQ(nullptr, link(kB));
    bool offline = false;
    for (const auto& [uri, data] : sent()) offline |= uri == "/onu/set/all/offline";
    EXPECT_TRUE(offline);
    // Nothing of the dropped part comes back at the next pass.
    EXPECT_TRUE(slot_.handleAlarms());
    EXPECT_EQ(nullptr, link(kB));
}

TEST_F(SlotEvents, AMovedLinkTakesItsNewPortAndADyingGaspTakesItOffline) {
    feed(linkDiscovery(kA, 0));
    ASSERT_TRUE(slot_.handleAlarms());
    link(kA)->setStatusReported(true);
    feed(linkMoved(kA, 0, 1));
    feed(reportAlarm(5, "02:4f:4c:54:00:05", 17, 0, 1));  // an OLT port alarm: no link touched
    ASSERT_TRUE(slot_.handleAlarms());
    EXPECT_EQ("1", link(kA)->getPonPort());
    EXPECT_TRUE(link(kA)->getOnlineStatus());
    EXPECT_FALSE(link(kA)->getStatusReported());

    feed(reportAlarm(3, kA, 64, 1));
    ASSERT_TRUE(slot_.handleAlarms());
    EXPECT_FALSE(link(kA)->getOnlineStatus());
    EXPECT_EQ("Standard Dying Gasp", link(kA)->getAlarmMessage());
    slot_.doReportAlarmToHalvorn();
    const auto out = sent();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(
        (std::vector<std::string>{
            "ONU Link: " + kA + "|Report Timeout|Off|5", "ONU Link: " + kA + "|ONU Link Moved Between PON Ports|On|5",
            "OLT Port: EPON-1|Loss of Signal|Off|5", "ONU Link: " + kA + "|Standard Dying Gasp|On|5"}),
        rows(out[0].second));
}
