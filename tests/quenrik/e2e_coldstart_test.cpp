// From a cold start of the whole chain (real Halvorn, real Quenrik, the simulator with four
// cards): every card is identified, provisioned exactly as the protocol says and reported;
// a card of another product code is never provisioned; a card that boots its stored
// configuration (NVS) is switched off and reset first.
#include <gtest/gtest.h>

#include "harness/Chain.h"
#include "harness/Provisioning.h"

using namespace quenrik_test;

namespace {

std::vector<uint16_t> ids(const std::vector<Request>& record) {
    std::vector<uint16_t> out;
    for (const auto& r : record) out.push_back(r.id);
    return out;
}

}  // namespace

TEST(ColdStart, EveryCardIsIdentifiedProvisionedAndReported) {
    ChainOptions o;
    o.olts = 4;
    o.onus = 2;
    o.onu2onu = {4};
    o.beforeQuenrik = [](Chain& c) {
        c.sim().ok("product 3 1234");  // not the chip this system provisions
        c.sim().ok("nvs 2 1");         // boots its stored configuration
    };
    Chain chain(o);
    Simulator& sim = chain.sim();

    // Cards 1, 2 and 4 end provisioned with every ONU online in the API.
    ASSERT_TRUE(waitUntil(
        [&] {
            return chain.allOnusOnline({1, 2, 4});
        },
        60s))
        << chain.tableNow("/onutable") << "\n"
        << chain.quenrik().log();

    // Provisioning reached the cards request for request and byte for byte: identification,
    // NVS and CTC queries, then the sequence; with ONU-to-ONU on (slot 4) the domain 1025 is
    // set up between the paths and the multicast provisioning.
    for (int olt : {1, 4}) {
        SCOPED_TRACE("OLT " + std::to_string(olt));
        const std::vector<Request> record = sim.record(olt);
        ASSERT_GE(record.size(), 3u);
        EXPECT_EQ(0x0007, record[0].id);
        EXPECT_EQ(0x012D, record[1].id);
        EXPECT_EQ(0x01B3, record[2].id);
        EXPECT_EQ("08" + oltMacHex(olt) + "0100020003000400", record[2].payload);
        EXPECT_EQ(1, record[0].ctag);  // the slot's first request
        const Expected sequence = provisioningSequence(olt, olt == 4);
        EXPECT_EQ(3u, findSequence(record, sequence)) << "expected:\n"
                                                      << describe(sequence) << "got:\n"
                                                      << describe(record, 0, sequence.size() + 3);
        // Provisioned once: a single Disable OLT.
        EXPECT_EQ(1u, sim.countRequests(olt, 0x0009));
        EXPECT_EQ("1", sim.status(olt, "enabled"));
        EXPECT_EQ("1", sim.status(olt, "ctc"));
    }
    EXPECT_EQ("1026:4", sim.state(1, "domains"));
    EXPECT_EQ("1025:2,1026:4", sim.state(4, "domains"));
    EXPECT_EQ("8192,8194,8196,8198,8200,8202,8204,8206", sim.state(1, "paths"));

    // The NVS card: read, switched off, reset, and only then provisioned.
    {
        const std::vector<Request> record = sim.record(2);
        ASSERT_GE(record.size(), 4u);
        const std::vector<uint16_t> first = ids(record);
        EXPECT_EQ((std::vector<uint16_t>{0x0007, 0x012D, 0x012E, 0x0006}),
                  std::vector<uint16_t>(first.begin(), first.begin() + 4));
        EXPECT_EQ("00", record[2].payload);
        EXPECT_NE(std::string::npos, findSequence(record, provisioningSequence(2, false), 4));
        EXPECT_EQ("0/0", sim.status(2, "nvs"));
        EXPECT_EQ("1", sim.status(2, "ctc"));
    }

    // The card of another product code is asked who it is, and nothing else, ever.
    {
        const std::vector<Request> record = sim.record(3);
        ASSERT_FALSE(record.empty());
        for (const auto& r : record) EXPECT_EQ(0x0007, r.id) << r.text();
        EXPECT_EQ("0", sim.status(3, "enabled"));
    }

    // The slot table shows the four cards online and the empty slots offline.
    const std::string slots = chain.tableNow("/slottable");
    for (int s = 1; s <= 8; ++s)
        EXPECT_EQ(s <= 4 ? "1" : "2", field(slots, "qvSlotIndex", std::to_string(s), "qvSlotStatus")) << "slot " << s;

    // The OLT rows carry MAC and firmware of the provisioned cards; the module OLT rows their
    // optics (read once the ONU list is complete).
    // The NVS card reports last: it is reset once before it is provisioned.
    ASSERT_TRUE(waitUntil(
        [&] {
            for (int s : {1, 2, 4}) {
                if (field(chain.get("/olttable/" + std::to_string(s)), "qVCfgOLTNvsEnabled") != "1") return false;
                for (int pon : {1, 2})
                    if (field(chain.get("/moduleolttable/" + std::to_string(2 * s - 2 + pon)), "qvOpticModuleOltVcc") ==
                        "-")
                        return false;
            }
            return true;
        },
        30s));
    for (int s : {1, 2, 4}) {
        SCOPED_TRACE("slot " + std::to_string(s));
        const std::string row = chain.get("/olttable/" + std::to_string(s));
        char mac[32];
        std::snprintf(mac, sizeof mac, "02:4f:4c:54:00:%02x", s);
        EXPECT_EQ(mac, field(row, "qvCfgOLTMac"));
        EXPECT_EQ("0205", field(row, "qvCfgOLTApp1Version"));
        EXPECT_EQ("1", field(row, "qVCfgOLTNvsEnabled"));
        for (int pon : {1, 2}) {
            const std::string module = chain.get("/moduleolttable/" + std::to_string(2 * s - 2 + pon));
            for (const char* key : {"qvOpticModuleOltTxPower", "qvOpticModuleOltVcc", "qvOpticModuleOltTxBias",
                                    "qvOpticModuleOltTemperature"}) {
                const std::string v = field(module, key);
                EXPECT_TRUE(v != "-" && !v.empty()) << key << " of PON " << pon << ": " << module;
            }
        }
    }
    EXPECT_EQ("", field(chain.get("/olttable/3"), "qvCfgOLTMac"));

    // Every simulated ONU: online with its slot, PON port and an index unique on that port,
    // and a module ONU row with its optics.
    const std::string onus = chain.tableNow("/onutable");
    for (int olt : {1, 2, 4}) {
        std::map<std::string, std::set<std::string>> indexes;
        for (const auto& [mac, where] : sim.onus(olt)) {
            SCOPED_TRACE(mac);
            const std::string port = where.substr(0, where.find('/'));
            EXPECT_EQ("1", field(onus, "qvCfgONUPhysicalID", mac, "qvCfgONULinkStatus"));
            EXPECT_EQ(std::to_string(olt), field(onus, "qvCfgONUPhysicalID", mac, "qvCfgONUSlotIndex"));
            EXPECT_EQ(port, field(onus, "qvCfgONUPhysicalID", mac, "qvCfgONUPonIndex"));
            indexes[port].insert(field(onus, "qvCfgONUPhysicalID", mac, "qvCfgONUIndex"));
        }
        for (const auto& [port, used] : indexes) EXPECT_EQ((std::set<std::string>{"1", "2"}), used) << "port " << port;
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::string modules = chain.tableNow("/moduleonutable");
            for (int olt : {1, 2, 4})
                for (const auto& [mac, where] : sim.onus(olt)) {
                    const std::string t =
                        field(modules, "qvOpticModuleOnuPhysicalID", mac, "qvOpticModuleOnuTemperature");
                    if (t == "-" || t.empty() || t == "<no row>") return false;
                }
            return true;
        },
        20s))
        << chain.tableNow("/moduleonutable");
    const std::string modules = chain.tableNow("/moduleonutable");
    for (const auto& [mac, where] : sim.onus(1)) {
        SCOPED_TRACE(mac);
        for (const char* key :
             {"qvOpticModuleOnuVcc", "qvOpticModuleOnuTxBias", "qvOpticModuleOnuTxPower", "qvOpticModuleOnuRxPower"}) {
            const std::string v = field(modules, "qvOpticModuleOnuPhysicalID", mac, key);
            EXPECT_TRUE(v != "-" && !v.empty()) << key;
        }
        EXPECT_EQ(field(onus, "qvCfgONUPhysicalID", mac, "qvCfgONUIndex"),
                  field(modules, "qvOpticModuleOnuPhysicalID", mac, "qvOpticModuleOnuIndex"));
    }

    // ONU-to-ONU: every ONU of card 4 has its destination; card 1 has none.
    EXPECT_NE("", sim.state(4, "destinations"));
    EXPECT_EQ("", sim.state(1, "destinations"));
    EXPECT_TRUE(chain.quenrik().running());
}

TEST(ColdStart, ACardLeftHalfProvisionedIsResetAndProvisionedAgain) {
    ChainOptions o;
    o.olts = 1;
    o.onus = 1;
    // The card refuses the first Set Path: CTC mode is on by then, so without a reset the slot
    // would take this card as provisioned for good, one path short.
    o.beforeQuenrik = [](Chain& c) { c.sim().ok("refuse 1 0178 1"); };
    Chain chain(o);
    Simulator& sim = chain.sim();
    ASSERT_TRUE(waitUntil([&] { return sim.countRequests(1, 0x0009) == 2 && chain.allOnusOnline({1}); }, 30s))
        << chain.quenrik().log();
    const std::vector<Request> record = sim.record(1);
    const Expected sequence = provisioningSequence(1, false);
    const size_t first = findSequence(record, sequence);
    ASSERT_NE(std::string::npos, first);
    // The first run ends with the reset, and a second full run follows.
    ASSERT_GT(record.size(), first + sequence.size());
    EXPECT_EQ(0x0006, record[first + sequence.size()].id);
    EXPECT_NE(std::string::npos, findSequence(record, sequence, first + sequence.size()));
    EXPECT_EQ("8192,8194,8196,8198,8200,8202,8204,8206", sim.state(1, "paths"));
    EXPECT_TRUE(chain.quenrik().logContains("Error Return Code(PARAM_OUT_OF_RANGE) from Message ID <376>"));
    EXPECT_TRUE(chain.quenrik().logContains("Provisioning of slot 1 incomplete: resetting the OLT"));
}

// The reset that follows an incomplete provisioning is itself refused: the card, CTC mode
// on and its domains in place (only the multicast host copy is missing), would pass for
// provisioned for good. The reset is asked for again at the next pass.
TEST(ColdStart, ARefusedResetAfterAnIncompleteProvisioningIsAskedForAgain) {
    ChainOptions o;
    o.olts = 1;
    o.onus = 1;
    o.beforeQuenrik = [](Chain& c) {
        c.sim().ok("refuse 1 015D 1");
        c.sim().ok("refuse 1 0006 1");
    };
    Chain chain(o);
    Simulator& sim = chain.sim();
    ASSERT_TRUE(waitUntil([&] { return sim.countRequests(1, 0x0009) == 2 && chain.allOnusOnline({1}); }, 30s))
        << chain.quenrik().log();
    EXPECT_EQ(2u, sim.countRequests(1, 0x0006)) << chain.quenrik().log();
    EXPECT_EQ("8192,8194,8196,8198,8200,8202,8204,8206", sim.state(1, "paths"));
    EXPECT_TRUE(chain.quenrik().logContains("Provisioning of slot 1 incomplete: resetting the OLT again"));
}
