// Every task of the catalogue, sent through Halvorn's API as an operator would, reaches the
// simulated card as the right request with the right bytes.
#include <gtest/gtest.h>

#include "harness/Chain.h"
#include "harness/Provisioning.h"

using namespace quenrik_test;

namespace {

class Tasks : public ::testing::Test {
protected:
    Tasks() : chain_(options()) {}
    static ChainOptions options() {
        ChainOptions o;
        o.olts = 2;
        o.onus = 2;
        return o;
    }
    void SetUp() override {
        ASSERT_TRUE(waitUntil([&] { return chain_.allOnusOnline({1, 2}); }, 60s)) << chain_.quenrik().log();
    }

    // The requests the card received from position from on.
    std::vector<Request> since(int olt, size_t from) {
        std::vector<Request> all = chain_.sim().record(olt);
        return std::vector<Request>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
    }
    size_t mark(int olt) { return chain_.sim().record(olt).size(); }
    // Waits until the card has received a request with that ID after position from; returns
    // those requests in order.
    std::vector<Request> waitFor(int olt, size_t from, uint16_t id, size_t count = 1) {
        std::vector<Request> out;
        waitUntil(
            [&] {
                out.clear();
                for (const auto& r : since(olt, from))
                    if (r.id == id) out.push_back(r);
                return out.size() >= count;
            },
            15s);
        return out;
    }

    Chain chain_;
};

const std::string kOnuA = "02:4f:4e:01:00:00";
const std::string kOnuAHex = "024f4e010000";
const std::string kOnuB = "02:4f:4e:01:01:01";
const std::string kOnuBHex = "024f4e010101";

}  // namespace

TEST_F(Tasks, OnuTasksReachTheCardAsTheirRequests) {
    const std::string row = "/onutable/" + chain_.onuRowId(kOnuA);
    ASSERT_NE("/onutable/", row);

    size_t from = mark(1);
    ASSERT_EQ("", chain_.set(row, R"({"qvCfgONUEnabled":"0"})"));
    std::vector<Request> got = waitFor(1, from, 0x0182);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(kOnuAHex + "0000", got[0].payload);  // Disable Link: the MAC and u16 0
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().onus(1)[kOnuA] == "0/disabled"; }));
    // The disabled link drops out of the card's discovered list; the row follows.
    EXPECT_TRUE(waitUntil([&] { return chain_.onu(kOnuA, "qvCfgONULinkStatus") == "2"; }, 30s));

    from = mark(1);
    ASSERT_EQ("", chain_.set(row, R"({"qvCfgONUEnabled":"1"})"));
    got = waitFor(1, from, 0x0181);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(kOnuAHex + "0000", got[0].payload);  // Enable Link
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().onus(1)[kOnuA] == "0/online"; }));
    EXPECT_TRUE(waitUntil([&] { return chain_.onu(kOnuA, "qvCfgONULinkStatus") == "1"; }));

    // VLAN 100: tagged, TPID 8100; VLAN "0": untagged, no tag fields.
    from = mark(1);
    ASSERT_EQ("", chain_.set(row, R"({"qvCfgONUVlanId":"100"})"));
    got = waitFor(1, from, 0x0111);
    ASSERT_FALSE(got.empty());
    // clang-format off
    EXPECT_EQ(kOnuAHex + "800101000001" "01" "8100" "0064", got[0].payload);
    // clang-format on
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().state(1, "vlans").find(kOnuA + "=100") != std::string::npos; }));

    from = mark(1);
    ASSERT_EQ("", chain_.set(row, R"({"qvCfgONUVlanId":"0"})"));
    got = waitFor(1, from, 0x0111);
    ASSERT_FALSE(got.empty());
    // clang-format off
    EXPECT_EQ(kOnuAHex + "800101000001" "00", got[0].payload);
    // clang-format on
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().state(1, "vlans").find(kOnuA + "=0") != std::string::npos; }));

    // ONU reset and remove.
    from = mark(1);
    ASSERT_EQ("", chain_.set("/slot/onu/reset", R"({"slot_id":"1","mac_address":")" + kOnuA + "\"}"));
    got = waitFor(1, from, 0x0053);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(kOnuAHex, got[0].payload);
    // The ONU reboots: a Dying Gasp, then it registers again and comes back online.
    EXPECT_TRUE(waitUntil([&] {
        return field(chain_.get("/oltalarmtable"), "alarm", "Standard Dying Gasp", "label") == "ONU Link: " + kOnuA;
    })) << chain_.get("/oltalarmtable");
    EXPECT_TRUE(waitUntil([&] { return chain_.onu(kOnuA, "qvCfgONULinkStatus") == "1"; }));

    from = mark(1);
    ASSERT_EQ("", chain_.set("/slot/onu/remove", R"({"slot_id":"1","mac_address":")" + kOnuB + "\"}"));
    got = waitFor(1, from, 0x0077);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(kOnuBHex, got[0].payload);  // Clear All Provisioning for that link
    EXPECT_EQ("<no row>", chain_.onu(kOnuB, "id"));
}

TEST_F(Tasks, OltPortVlanAndSlotTasksReachTheCardAsTheirRequests) {
    const std::string m = oltMacHex(1);
    const std::string getPon = "05" + m + "0000";
    const std::string getNni = "05" + m + "0002";
    // clang-format off
    const std::string rule1 = "05" + m + "0000" "0001" "08010405" "01" "8100" "00c8" "01010000" "0000000000000000" "07";
    const std::string rule2 = "05" + m + "0002" "0001" "08010501" "01010100" "00" "0000000000000000" "07";
    const std::string rule3 = "05" + m + "0002" "0001" "08010202" "0000" "0106" "3400" "00000000000000c8" "02";
    const std::string rule4 = "05" + m + "0002" "0001" "08010202" "0000" "0106" "0000" "0000000000000000" "06";
    // clang-format on
    auto requestsOf = [](const std::vector<Request>& all, std::initializer_list<uint16_t> wanted) {
        std::vector<std::string> out;
        for (const auto& r : all)
            for (uint16_t id : wanted)
                if (r.id == id) out.push_back(r.text());
        return out;
    };
    auto text = [](uint16_t id, const std::string& payload) { return Request{id, 0, payload}.text(); };

    // VLAN 200, untagged frames kept: the listing of both ports, nothing to delete, rules 1-2.
    size_t from = mark(1);
    ASSERT_EQ("", chain_.set("/olttable/1", R"({"qvCfgOLTPON0VlanId":"200","qvCfgOLTPON0DisUntagged":"0"})"));
    waitFor(1, from, 0x0190, 2);
    EXPECT_EQ((std::vector<std::string>{text(0x018F, getPon), text(0x018F, getNni), text(0x0190, rule1),
                                        text(0x0190, rule2)}),
              requestsOf(since(1, from), {0x018F, 0x0190, 0x0191}));
    EXPECT_EQ("ok 1 " + rule1.substr(22), chain_.sim().cmd("rules 1 0"));

    // Discarding untagged frames: the two rules are deleted (as read back), then four are set.
    from = mark(1);
    ASSERT_EQ("", chain_.set("/olttable/1", R"({"qvCfgOLTPON0DisUntagged":"1"})"));
    waitFor(1, from, 0x0190, 4);
    const std::vector<std::string> replaced = requestsOf(since(1, from), {0x018F, 0x0190, 0x0191});
    // clang-format off
    EXPECT_EQ((std::vector<std::string>{text(0x018F, getPon), text(0x018F, getNni),
                                        text(0x0191, getPon + "00" "01" + rule1.substr(22)),
                                        text(0x0191, getNni + "00" "01" + rule2.substr(22)), text(0x0190, rule1),
                                        text(0x0190, rule2), text(0x0190, rule3), text(0x0190, rule4)}),
              replaced);
    // clang-format on
    EXPECT_EQ("ok 3", chain_.sim().cmd("rules 1 2").substr(0, 4));

    // An empty VLAN: every rule of the port deleted, none added.
    from = mark(1);
    ASSERT_EQ("", chain_.set("/olttable/1", R"({"qvCfgOLTPON0VlanId":""})"));
    waitFor(1, from, 0x0191, 4);
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().cmd("rules 1 2") == "ok 0"; }));
    EXPECT_EQ("ok 0", chain_.sim().cmd("rules 1 0"));
    EXPECT_TRUE(requestsOf(since(1, from), {0x0190}).empty());

    // The slot tasks.
    from = mark(2);
    ASSERT_EQ("", chain_.set("/slot/disable", R"({"slot_id":"2"})"));
    ASSERT_FALSE(waitFor(2, from, 0x0009).empty());
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().status(2, "enabled") == "0"; }));
    from = mark(2);
    ASSERT_EQ("", chain_.set("/slot/enable", R"({"slot_id":"2"})"));
    ASSERT_FALSE(waitFor(2, from, 0x0008).empty());
    EXPECT_TRUE(waitUntil([&] { return chain_.sim().status(2, "enabled") == "1"; }));

    // Reset: the slot forgets its configuration and asks Halvorn again before anything else
    // reaches the card, so the first request after the reset is the identification.
    from = mark(2);
    ASSERT_EQ("", chain_.set("/slot/reset", R"({"slot_id":"2"})"));
    std::vector<Request> got = waitFor(2, from, 0x0006);
    ASSERT_EQ(1u, got.size());
    // (Requests of the pass that was under way may come before the reset.)
    auto nextAfterReset = [&]() -> int {
        const std::vector<Request> after = since(2, from);
        for (size_t i = 0; i + 1 < after.size(); ++i)
            if (after[i].id == 0x0006) return after[i + 1].id;
        return -1;
    };
    ASSERT_TRUE(waitUntil([&] { return nextAfterReset() >= 0; }));
    EXPECT_EQ(0x0007, nextAfterReset());
    // The reset card comes back without its provisioning and is provisioned again.
    EXPECT_TRUE(
        waitUntil([&] { return findSequence(since(2, from), provisioningSequence(2, false)) != std::string::npos; }));
    EXPECT_TRUE(waitUntil([&] { return chain_.allOnusOnline({2}); }, 20s));

    // Restore defaults: the card restarts with its factory settings and is provisioned again.
    from = mark(2);
    ASSERT_EQ("", chain_.set("/slot/restore-default", R"({"slot_id":"2"})"));
    got = waitFor(2, from, 0x000A);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("", got[0].payload);
    EXPECT_TRUE(
        waitUntil([&] { return findSequence(since(2, from), provisioningSequence(2, false)) != std::string::npos; }));
    EXPECT_TRUE(waitUntil([&] { return chain_.allOnusOnline({2}); }, 20s));
    // Slot 1 never saw any of it.
    EXPECT_EQ(1u, chain_.sim().countRequests(1, 0x0009));
    EXPECT_EQ(0u, chain_.sim().countRequests(1, 0x0006));
}
