// ONUs that leave, return and move, and cards that restart or go silent, seen end to end:
// the simulator acts, the tables of the real Halvorn show what the real Quenrik reported.
#include <gtest/gtest.h>

#include "harness/Chain.h"
#include "harness/Provisioning.h"

using namespace quenrik_test;

namespace {

// An alarm row with that label, alarm text and state exists.
bool hasAlarm(const std::string& table, const std::string& label, const std::string& alarm, const std::string& state) {
    JsonPtr rows(cJSON_Parse(table.c_str()));
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, rows.get()) {
        auto text = [&](const char* key) {
            const char* v = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(row, key));
            return std::string(v ? v : "");
        };
        if (text("label") == label && text("alarm") == alarm && text("state") == state) return true;
    }
    return false;
}

}  // namespace

TEST(Onus, LeaveReturnAndMove) {
    ChainOptions o;
    o.olts = 2;
    o.onus = 2;
    Chain chain(o);
    Simulator& sim = chain.sim();
    ASSERT_TRUE(waitUntil([&] { return chain.allOnusOnline({1, 2}); }, 60s)) << chain.quenrik().log();

    const std::string a = "02:4f:4e:01:00:00";  // slot 1, PON 0
    const std::string b = "02:4f:4e:01:01:01";  // slot 1, PON 1
    const std::string c = "02:4f:4e:01:00:01";  // slot 1, PON 0

    // Report Timeout: offline with the alarm text, optics gone, an alarm row "On".
    sim.ok("leave 1 " + a + " timeout");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(a, "qvCfgONULinkStatus") == "2"; }));
    EXPECT_EQ("Report Timeout", chain.onu(a, "qvCfgONUAlarm"));
    EXPECT_TRUE(waitUntil([&] {
        return hasAlarm(chain.get("/oltalarmtable"), "ONU Link: " + a, "Report Timeout", "On");
    })) << chain.get("/oltalarmtable");
    EXPECT_TRUE(waitUntil([&] { return chain.moduleOnu(a, "qvOpticModuleOnuTemperature") == "-"; }));

    // It returns: online again, alarm text cleared, and the Report Timeout row "Off".
    sim.ok("return 1 " + a);
    ASSERT_TRUE(waitUntil([&] { return chain.onu(a, "qvCfgONULinkStatus") == "1"; }));
    EXPECT_EQ("", chain.onu(a, "qvCfgONUAlarm"));
    EXPECT_TRUE(
        waitUntil([&] { return hasAlarm(chain.get("/oltalarmtable"), "ONU Link: " + a, "Report Timeout", "Off"); }));

    // Dying Gasp.
    sim.ok("leave 1 " + b + " gasp");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(b, "qvCfgONULinkStatus") == "2"; }));
    EXPECT_EQ("Standard Dying Gasp", chain.onu(b, "qvCfgONUAlarm"));
    EXPECT_TRUE(waitUntil(
        [&] { return hasAlarm(chain.get("/oltalarmtable"), "ONU Link: " + b, "Standard Dying Gasp", "On"); }));

    // c moves to PON 1, where indexes 1 and 2 are taken (b, offline, keeps its own): it gets
    // PON 1 and index 3, and the move is an alarm row.
    sim.ok("move 1 " + c + " 1");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(c, "qvCfgONUPonIndex") == "1"; }));
    EXPECT_EQ("3", chain.onu(c, "qvCfgONUIndex"));
    EXPECT_EQ("1", chain.onu(c, "qvCfgONULinkStatus"));
    EXPECT_TRUE(waitUntil([&] {
        return hasAlarm(chain.get("/oltalarmtable"), "ONU Link: " + c, "ONU Link Moved Between PON Ports", "On");
    }));

    // Slot 2 saw none of it.
    EXPECT_TRUE(chain.allOnusOnline({2}));
    EXPECT_EQ(1u, sim.countRequests(2, 0x0007));
}

TEST(Cards, ARestartedOrSilentCardIsTakenUpAgainAndTheOthersAreNotDisturbed) {
    ChainOptions o;
    o.olts = 3;
    o.onus = 2;
    // Long enough a restart that Halvorn's tables show the ONUs offline meanwhile.
    o.simOptions = {"--restart-ms", "3000"};
    Chain chain(o);
    Simulator& sim = chain.sim();
    ASSERT_TRUE(waitUntil([&] { return chain.allOnusOnline({1, 2, 3}); }, 60s)) << chain.quenrik().log();
    const std::string onu1 = "02:4f:4e:01:00:00";
    const std::string onu2 = "02:4f:4e:02:01:00";
    const size_t slot3Requests = sim.record(3).size();

    // Card 1 restarts: its ONUs go offline, it is identified and provisioned again, they return.
    size_t from = sim.record(1).size();
    sim.ok("restart 1");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(onu1, "qvCfgONULinkStatus") == "2"; }));
    EXPECT_EQ("1", chain.onu(onu2, "qvCfgONULinkStatus"));
    ASSERT_TRUE(waitUntil(
        [&] { return findSequence(sim.record(1), provisioningSequence(1, false), from) != std::string::npos; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return chain.allOnusOnline({1}); }, 20s));

    // Card 2 goes silent: three failed pings, its ONUs and its slot offline.
    sim.ok("silent 2 on");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(onu2, "qvCfgONULinkStatus") == "2"; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return field(chain.get("/slottable/2"), "qvSlotStatus") == "2"; }));
    // It answers again with its state intact: identified again, its ONUs back online.
    from = sim.record(2, false).size();
    sim.ok("silent 2 off");
    EXPECT_TRUE(waitUntil([&] { return chain.onu(onu2, "qvCfgONULinkStatus") == "1"; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return field(chain.get("/slottable/2"), "qvSlotStatus") == "1"; }));
    EXPECT_NE(0u, [&] {
        size_t n = 0;
        const std::vector<Request> all = sim.record(2, false);  // a retry after the silence counts
        for (size_t i = from; i < all.size(); ++i) n += all[i].id == 0x0007;
        return n;
    }());

    // Silent again once the ping loop has seen it answer (two more pings), and restarted
    // meanwhile (its OLT Ready is lost in the silence): once it answers, it is identified
    // and, having lost its provisioning, provisioned again.
    const size_t answered = chain.pings("127.0.2.2");
    ASSERT_TRUE(waitUntil([&] { return chain.pings("127.0.2.2") >= answered + 2; }));
    sim.ok("silent 2 on");
    ASSERT_TRUE(waitUntil([&] { return chain.onu(onu2, "qvCfgONULinkStatus") == "2"; }, 20s));
    sim.ok("restart 2");
    from = sim.record(2).size();
    ASSERT_TRUE(waitUntil([&] { return sim.cmd("ping 127.0.2.2") == "ok 0"; }));
    sim.ok("silent 2 off");
    ASSERT_TRUE(waitUntil(
        [&] { return findSequence(sim.record(2), provisioningSequence(2, false), from) != std::string::npos; }, 30s));
    EXPECT_TRUE(waitUntil([&] { return chain.allOnusOnline({2}); }, 20s));

    // Card 3 was never disturbed: not identified again, not provisioned again, ONUs online.
    EXPECT_TRUE(chain.allOnusOnline({3}));
    const std::vector<Request> slot3 = sim.record(3);
    for (size_t i = slot3Requests; i < slot3.size(); ++i) {
        EXPECT_NE(0x0007, slot3[i].id);
        EXPECT_NE(0x0009, slot3[i].id);
    }
}

// A link the card still holds but Quenrik no longer lists (removed by the operator while it
// stays registered, or its discovery message lost) is found again at the recheck: it is asked
// for its PON port before it is reported, and gets its ONU-to-ONU destination on that port.
TEST(Onus, ALinkFirstSeenAtTheRecheckGetsItsPortAndItsDestination) {
    ChainOptions o;
    o.olts = 1;
    o.onus = 2;
    o.onu2onu = {1};
    Chain chain(o);
    Simulator& sim = chain.sim();
    ASSERT_TRUE(waitUntil([&] { return chain.allOnusOnline({1}); }, 60s)) << chain.quenrik().log();
    const std::string b = "02:4f:4e:01:01:01";  // PON 1
    const std::string bHex = "024f4e010101";

    const size_t from = sim.record(1).size();
    const std::string oldId = chain.onu(b, "id");
    ASSERT_EQ("", chain.set("/slot/onu/remove", R"({"slot_id":"1","mac_address":")" + b + "\"}"));

    // Back at the recheck as a new row (row ids only grow; the removed row may be gone and
    // back again before a read could see it missing), on its own port, online.
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::string id = chain.onu(b, "id");
            return id != oldId && id != "<no row>" && chain.onu(b, "qvCfgONULinkStatus") == "1";
        },
        30s))
        << chain.quenrik().log();
    EXPECT_EQ("1", chain.onu(b, "qvCfgONUPonIndex"));
    size_t information = 0, destination = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::vector<Request> all = sim.record(1);
            for (size_t i = from; i < all.size(); ++i) {
                if (all[i].payload.find(bHex) == std::string::npos) continue;
                if (all[i].id == 0x016B && information == 0) information = i;
                if (all[i].id == 0x0196 && destination == 0) destination = i;
            }
            return destination != 0;
        },
        20s));
    EXPECT_NE(0u, information);
    EXPECT_LT(information, destination);
    EXPECT_EQ(std::string::npos, chain.quenrik().log().find("stoi")) << chain.quenrik().log();
}
