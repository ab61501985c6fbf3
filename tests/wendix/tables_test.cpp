// The five MIB tables served by the real agent against a real Halvorn: walks match
// Halvorn's rows, SETs of every writable column reach Halvorn and its files, and the
// errors of GET and SET are those an SNMP manager expects.

#include <gtest/gtest.h>

#include <algorithm>

#include "Helper.h"
#include "JsonFields.h"
#include "WendixHarness.h"

using namespace wendix_test;

namespace {

// What each table serves, written from the MIB tables' description (an oracle of its own,
// not the agent's column list).
struct ColumnCase {
    unsigned number;
    const char* key;
    bool text;
};
struct TableCase {
    const char* name;
    std::string oid;  // below the enterprise node
    const char* uri;
    std::vector<const char*> indexKeys;
    bool skipEmptyIndex;
    std::vector<ColumnCase> columns;
};

const std::vector<TableCase>& tables() {
    static const std::vector<TableCase> cases = {
        {"qvSlotTable",
         ".3.1.9.1",
         "/slottable",
         {"qvSlotIndex"},
         false,
         {{1, "qvSlotIndex", false},
          {2, "qvSlotStatus", false},
          {3, "qvSlotCardType", false},
          {4, "qvSlotCardSN", true},
          {5, "qvSlotSet", false}}},
        {"qvCfgOLTTable",
         ".3.2.6.3.1",
         "/olttable",
         {"qvCfgOLTSlotIndex"},
         false,
         {{1, "qvCfgOLTSlotIndex", false},
          {19, "qvCfgOLTApp1Version", true},
          {21, "qVCfgOLTNvsEnabled", false},
          {22, "qvCfgOLTMac", true},
          {24, "qvCfgOLTName", true},
          {36, "qvCfgOLTCtcDisable", false},
          {38, "qvCfgOLTMtu", false}}},
        {"qvCfgONUTable",
         ".3.2.6.3.2",
         "/onutable",
         {"qvCfgONUSlotIndex", "qvCfgONUPonIndex", "qvCfgONUIndex"},
         true,
         {{1, "qvCfgONUSlotIndex", false},
          {2, "qvCfgONUPonIndex", false},
          {3, "qvCfgONUIndex", false},
          {11, "qvCfgONUPhysicalID", true},
          {37, "qvCfgONUName", true},
          {39, "qvCfgONULinkStatus", false}}},
        {"qvOpticModuleOltTable",
         ".3.2.6.14.1",
         "/moduleolttable",
         {"qvOpticModuleOltSlotIndex", "qvOpticModuleOltPonIndex"},
         false,
         {{1, "qvOpticModuleOltSlotIndex", false},
          {2, "qvOpticModuleOltPonIndex", false},
          {3, "qvOpticModuleOltTxPower", true},
          {4, "qvOpticModuleOltVcc", true},
          {5, "qvOpticModuleOltTxBias", true},
          {6, "qvOpticModuleOltTemperature", true}}},
        {"qvOpticModuleOnuTable",
         ".3.2.6.14.2",
         "/moduleonutable",
         {"qvOpticModuleOnuSlotIndex", "qvOpticModuleOnuPonIndex", "qvOpticModuleOnuIndex"},
         true,
         {{1, "qvOpticModuleOnuSlotIndex", false},
          {2, "qvOpticModuleOnuPonIndex", false},
          {3, "qvOpticModuleOnuIndex", false},
          {4, "qvOpticModuleOnuTxPower", true},
          {5, "qvOpticModuleOnuVcc", true},
          {6, "qvOpticModuleOnuTxBias", true},
          {7, "qvOpticModuleOnuTemperature", true},
          {8, "qvOpticModuleOnuRxPower", true}}},
    };
    return cases;
}

std::vector<unsigned long> subids(const std::string& oid) {
    std::vector<unsigned long> out;
    std::istringstream in(oid);
    for (std::string part; std::getline(in, part, '.');)
        if (!part.empty()) out.push_back(std::stoul(part));
    return out;
}

// The varbinds a walk of the table must give for Halvorn's rows (a JSON array text), in
// OID order.
std::vector<Varbind> expectedWalk(const TableCase& table, const std::string& rowsJson) {
    std::vector<Varbind> out;
    JsonPtr rows(cJSON_Parse(rowsJson.c_str()));
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, rows.get()) {
        auto value = [&](const char* key) {
            const char* v = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(row, key));
            return std::string(v ? v : "");
        };
        std::string index;
        bool skip = false;
        for (const char* key : table.indexKeys) {
            if (table.skipEmptyIndex && value(key).empty()) skip = true;
            // An index travels as one 32-bit sub-identifier: -1 (no number) is 4294967295.
            index += "." + std::to_string(static_cast<uint32_t>(Helper::getValidNumber(value(key))));
        }
        if (skip) continue;
        for (const auto& c : table.columns) {
            Varbind v;
            v.oid = enterprise() + table.oid + ".1." + std::to_string(c.number) + index;
            v.type = c.text ? "STRING" : "INTEGER";
            v.value = c.text ? value(c.key).substr(0, 255) : std::to_string(Helper::getValidNumber(value(c.key)));
            out.push_back(v);
        }
    }
    std::sort(out.begin(), out.end(), [](const Varbind& a, const Varbind& b) { return subids(a.oid) < subids(b.oid); });
    return out;
}

std::string onuReport(const std::string& slot, const std::string& pon, const std::string& mac, bool online) {
    return "{\"slot_id\":\"" + slot + "\",\"pon_port\":\"" + pon + "\",\"mac_address\":\"" + mac +
           "\",\"online_status\":\"" + (online ? "1" : "0") +
           "\",\"is_gigabit\":\"1\",\"alarm_message\":\"\",\"temperature\":\"41.50\",\"supply_voltage\":\"3.30\","
           "\"tx_bias_current\":\"12.00\",\"tx_power_input\":\"-18.20\",\"tx_power_output\":\"2.10\"}";
}

size_t rowCount(const std::string& json) {
    JsonPtr rows(cJSON_Parse(json.c_str()));
    return static_cast<size_t>(cJSON_GetArraySize(rows.get()));
}

// Halvorn with a few ONUs (one not yet placed on a port) and OLT rows with a name, a name
// longer than a column holds and a slot that is no number; Wendix started after that.
class WendixTables : public ::testing::Test {
protected:
    void SetUp() override {
        h = std::make_unique<Harness>();
        h->notify("/onu/new", onuReport("1", "0", "00:1a:01:00:00:01", true));
        h->notify("/onu/new", onuReport("1", "0", "00:1a:01:00:00:02", true));
        h->notify("/onu/new", onuReport("1", "1", "00:1a:01:01:00:01", true));
        h->notify("/onu/new", onuReport("2", "0", "00:1a:02:00:00:01", false));
        h->notify("/onu/new", onuReport("-", "-", "00:1a:ff:00:00:01", true));
        ASSERT_TRUE(waitUntil([&] { return rowCount(h->get("/onutable").data) == 5; }, 20s));
        ASSERT_TRUE(waitUntil([&] { return rowCount(h->get("/moduleonutable").data) == 5; }, 20s));
        ASSERT_EQ(h->set("/olttable/1", "{\"qvCfgOLTName\":\"rack A\"}").err, "");
        ASSERT_EQ(h->set("/olttable/2", "{\"qvCfgOLTName\":\"" + std::string(300, 'n') + "\"}").err, "");
        ASSERT_EQ(h->set("/olttable/3", "{\"qvCfgOLTSlotIndex\":\"x\"}").err, "");
        // JSON's and the table text's own characters inside a value.
        ASSERT_EQ(h->set("/olttable/7", "{\"qvCfgOLTName\":\"a \\\"b\\\", {c}] \\\\ d\"}").err, "");
        agent = std::make_unique<Agent>(h->root());
        std::vector<std::string> args = {"-f"};
        for (const auto& a : extraArgs()) args.push_back(a);
        args.push_back("udp:127.0.0.1:" + std::to_string(kAgentPort));
        agent->start(args);
    }
    void TearDown() override {
        agent.reset();
        h.reset();
    }
    // Options of the agent besides -f and its listening address.
    virtual std::vector<std::string> extraArgs() const { return {}; }

    std::string column(const char* table, unsigned number) const {
        for (const auto& t : tables())
            if (std::string(t.name) == table) return enterprise() + t.oid + ".1." + std::to_string(number);
        throw std::runtime_error("no table");
    }
    // The OID of the qvCfgONUTable column for the ONU with this MAC (its three indexes).
    std::string onuOid(unsigned number, const std::string& mac) {
        const std::string rows = h->get("/onutable").data;
        return column("qvCfgONUTable", number) + "." + field(rows, "qvCfgONUPhysicalID", mac, "qvCfgONUSlotIndex") +
               "." + field(rows, "qvCfgONUPhysicalID", mac, "qvCfgONUPonIndex") + "." +
               field(rows, "qvCfgONUPhysicalID", mac, "qvCfgONUIndex");
    }
    std::string onuId(const std::string& mac) {
        return field(h->get("/onutable").data, "qvCfgONUPhysicalID", mac, "id");
    }

    std::unique_ptr<Harness> h;
    std::unique_ptr<Agent> agent;
};

TEST_F(WendixTables, WalksOfEveryTableMatchHalvornsRows) {
    for (const auto& table : tables()) {
        SCOPED_TRACE(table.name);
        const std::vector<Varbind> expected = expectedWalk(table, h->get(table.uri).data);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(agent->walk(enterprise() + table.oid), expected);
        EXPECT_EQ(agent->walk(enterprise() + table.oid, true), expected);
    }
    // The ONU that has no port yet is not listed; the others are, with their readings.
    EXPECT_EQ(expectedWalk(tables()[2], h->get("/onutable").data).size(), 4u * 6u);
    // A walk of the whole subtree is the five tables in OID order, nothing else.
    size_t total = 0;
    for (const auto& table : tables()) total += expectedWalk(table, h->get(table.uri).data).size();
    EXPECT_EQ(agent->walk(enterprise(), true).size(), total);
}

TEST_F(WendixTables, ServesDamagedAndLongValuesAsTheyAreCut) {
    const std::string olt = column("qvCfgOLTTable", 24);
    EXPECT_EQ(agent->get(olt + ".1"), (Varbind{olt + ".1", "STRING", "rack A"}));
    EXPECT_EQ(agent->get(olt + ".2").value, std::string(255, 'n'));
    EXPECT_EQ(agent->get(olt + ".7").value, "a \"b\", {c}] \\ d");
    // The row whose slot is no number: index -1, reachable as 4294967295.
    const std::string slot = column("qvCfgOLTTable", 1) + ".4294967295";
    EXPECT_EQ(agent->get(slot), (Varbind{slot, "INTEGER", "-1"}));
    // Readings are Halvorn's texts.
    EXPECT_EQ(agent->get(column("qvOpticModuleOnuTable", 8) + ".1.0.1").value, "-18.20");
    EXPECT_EQ(agent->get(column("qvOpticModuleOnuTable", 4) + ".2.0.1").value, "-");
}

TEST_F(WendixTables, GetOfWhatDoesNotExistAnswersTheRightException) {
    const std::string onu = onuOid(37, "00:1a:01:00:00:01");
    const std::string unserved = column("qvCfgONUTable", 12) + onu.substr(column("qvCfgONUTable", 37).size());
    EXPECT_EQ(agent->get(unserved).type, "No Such Object available on this agent at this OID");
    EXPECT_EQ(agent->get(column("qvCfgONUTable", 37) + ".7.1.1").type, "No Such Instance currently exists at this OID");
    EXPECT_EQ(agent->get(column("qvSlotTable", 6) + ".1").type, "No Such Object available on this agent at this OID");
}

TEST_F(WendixTables, SetsOfEveryWritableColumnReachHalvornAndItsFiles) {
    const std::string onuName = onuOid(37, "00:1a:01:01:00:01");
    const std::string id = onuId("00:1a:01:01:00:01");
    struct Case {
        std::string oid;
        const char* type;
        const char* value;
        std::string uri;
        const char* key;
        const char* file;  // table file that keeps the key, or nullptr
    } cases[] = {
        {onuName, "s", "flat 12", "/onutable/" + id, "qvCfgONUName", "/mnt/db/json/onutable.json"},
        {column("qvSlotTable", 5) + ".3", "i", "2", "/slottable/3", "qvSlotSet", nullptr},
        {column("qvCfgOLTTable", 21) + ".2", "i", "0", "/olttable/2", "qVCfgOLTNvsEnabled", nullptr},
        {column("qvCfgOLTTable", 24) + ".4", "s", "rack B 'east'/2", "/olttable/4", "qvCfgOLTName",
         "/mnt/db/json/olttable.json"},
        {column("qvCfgOLTTable", 36) + ".5", "i", "0", "/olttable/5", "qvCfgOLTCtcDisable", nullptr},
        {column("qvCfgOLTTable", 38) + ".6", "i", "9000", "/olttable/6", "qvCfgOLTMtu", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        ToolResult r = agent->set({{c.oid, c.type, c.value}});
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        EXPECT_EQ(field(h->get(c.uri).data, c.key), c.value);
        // The agent shows it at once.
        EXPECT_EQ(agent->get(c.oid).value, c.value);
        if (c.file) {
            EXPECT_TRUE(waitUntil([&] { return h->readFile(c.file).find(c.value) != std::string::npos; }, 15s))
                << h->readFile(c.file);
        }
    }
    // A SET of the MTU is a change of that one column, nothing else of the row.
    EXPECT_EQ(field(h->get("/olttable/6").data, "qvCfgOLTMtu"), "9000");
}

TEST_F(WendixTables, RejectedSetsAnswerTheirErrorAndSendNothing) {
    const std::string name = onuOid(37, "00:1a:01:00:00:02");
    const std::string before = h->get("/onutable").data;
    struct Case {
        const char* what;
        std::vector<std::array<std::string, 3>> varbinds;
        const char* reason;
    } cases[] = {
        {"read-only column", {{onuOid(11, "00:1a:01:00:00:02"), "s", "x"}}, "notWritable"},
        {"index column", {{column("qvSlotTable", 1) + ".1", "i", "4"}}, "notWritable"},
        {"256 octets", {{name, "s", std::string(256, 'a')}}, "wrongLength"},
        {"integer into a text", {{name, "i", "5"}}, "wrongType"},
        {"text into an integer", {{column("qvCfgOLTTable", 38) + ".1", "s", "9000"}}, "wrongType"},
        {"row the table lacks", {{column("qvCfgONUTable", 37) + ".7.1.1", "s", "x"}}, "noCreation"},
        {"read-only table", {{column("qvOpticModuleOltTable", 3) + ".1.0", "s", "x"}}, "notWritable"},
        {"first of two fails", {{name, "i", "5"}, {column("qvCfgOLTTable", 24) + ".1", "s", "never"}}, "wrongType"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ToolResult r = agent->set(c.varbinds);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
    // A read-only community may not write at all.
    ToolResult r = agent->set({{name, "s", "x"}}, "public");
    EXPECT_NE(r.err.find("noAccess"), std::string::npos) << r.err;

    EXPECT_EQ(h->get("/onutable").data, before);
    EXPECT_EQ(field(h->get("/olttable/1").data, "qvCfgOLTName"), "rack A");
    EXPECT_TRUE(agent->running());
}

TEST_F(WendixTables, ASetWhoseFirstChangeHalvornRefusesLeavesTheSecondUnsent) {
    const std::string gone = onuOid(37, "00:1a:01:00:00:01");
    const std::string other = onuOid(37, "00:1a:01:00:00:02");
    // Halvorn forgets the first ONU; the agent's copy (cached for two minutes) still has it.
    ASSERT_EQ(h->set("/slot/onu/remove", "{\"slot_id\":\"1\",\"mac_address\":\"00:1a:01:00:00:01\"}").err, "");
    ASSERT_EQ(onuId("00:1a:01:00:00:01"), "<no row>");

    ToolResult r = agent->set({{gone, "s", "first"}, {other, "s", "second"}});
    EXPECT_NE(r.status, 0);
    // net-snmp reports the refused change as it reports a failure in the ACTION phase.
    EXPECT_NE(r.err.find("Error in packet"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Failed object: " + gone), std::string::npos) << r.err;
    EXPECT_EQ(field(h->get("/onutable").data, "qvCfgONUPhysicalID", "00:1a:01:00:00:02", "qvCfgONUName"), "");
    EXPECT_GT(agent->logCount("doRequest["), 0u);
    // Neither change shows in the agent.
    EXPECT_EQ(agent->get(other).value, "");
    EXPECT_TRUE(agent->running());
}

TEST_F(WendixTables, ASetChangesOnlyItsColumnNotWhatTheCacheStillHolds) {
    // The reports of the three placed ONUs have all reached the task receiver.
    ASSERT_TRUE(waitUntil([&] { return h->tasks().tasksFor("/slot/onu/enable").size() >= 3; }));
    h->tasks().clear();
    // Disabled through the web interface after the agent cached the row.
    const std::string id = onuId("00:1a:01:00:00:02");
    ASSERT_EQ(h->set("/onutable/" + id, "{\"qvCfgONUEnabled\":\"0\"}").err, "");
    ASSERT_TRUE(waitUntil([&] { return h->tasks().tasksFor("/slot/onu/disable").size() == 1; }));

    ToolResult r = agent->set({{onuOid(37, "00:1a:01:00:00:02"), "s", "flat 3"}});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string row = h->get("/onutable/" + id).data;
    EXPECT_EQ(field(row, "qvCfgONUName"), "flat 3");
    EXPECT_EQ(field(row, "qvCfgONUEnabled"), "0");
    EXPECT_TRUE(h->tasks().tasksFor("/slot/onu/enable").empty());
}

// The cache time-outs shortened to one second with the agent's -C option.
class WendixShortCache : public WendixTables {
protected:
    std::vector<std::string> extraArgs() const override { return {"-C", "1"}; }
    // Lets the cached copies expire: a wait for the clock, not for a condition.
    static void expire() { std::this_thread::sleep_for(1200ms); }
};

TEST_F(WendixShortCache, ASetArrivingJustAfterExpiryIsAppliedToTheReloadedRows) {
    const std::string name = onuOid(37, "00:1a:01:00:00:02");
    const std::string mtu = column("qvCfgOLTTable", 38) + ".1";
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(agent->get(name).type, "STRING");
        expire();
        // Two tables in one PDU, both reloaded in its first phase.
        const std::string value = "round " + std::to_string(round);
        ToolResult r = agent->set({{name, "s", value}, {mtu, "i", std::to_string(1500 + round)}});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(field(h->get("/onutable/" + onuId("00:1a:01:00:00:02")).data, "qvCfgONUName"), value);
        EXPECT_EQ(field(h->get("/olttable/1").data, "qvCfgOLTMtu"), std::to_string(1500 + round));
        EXPECT_EQ(agent->get(name).value, value);
    }
}

TEST_F(WendixShortCache, ASetOfARowThatVanishedAtTheReloadAnswersNoCreation) {
    const std::string gone = onuOid(37, "00:1a:01:00:00:01");
    ASSERT_EQ(agent->get(gone).type, "STRING");
    ASSERT_EQ(h->set("/slot/onu/remove", "{\"slot_id\":\"1\",\"mac_address\":\"00:1a:01:00:00:01\"}").err, "");
    expire();
    ToolResult r = agent->set({{gone, "s", "x"}});
    EXPECT_NE(r.err.find("noCreation"), std::string::npos) << r.err;
    EXPECT_EQ(agent->logCount("doRequest["), 0u);
    EXPECT_EQ(agent->get(gone).type, "No Such Instance currently exists at this OID");
}

}  // namespace
