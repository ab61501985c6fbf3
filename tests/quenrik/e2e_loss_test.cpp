// With one request in ten lost between Quenrik and the cards (the simulator's loss control),
// all eight cards still end fully provisioned and every ONU online in the API.
#include <gtest/gtest.h>

#include "harness/Chain.h"

using namespace quenrik_test;

TEST(Loss, EightCardsEndProvisionedWithEveryOnuOnline) {
    ChainOptions o;
    o.olts = 8;
    o.onus = 4;
    o.beforeQuenrik = [](Chain& c) { c.sim().ok("loss all 0.1"); };
    Chain chain(o);
    Simulator& sim = chain.sim();
    const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8};

    const std::string provisioned =
        "0001,0050,0126/0,0126/1,014f,0151,015d,0163/0,0163/1,0167/0,0167/1,0173/0,0173/1,0189/0,0189/1,019c/0,"
        "019c/1,0220/0,0220/1";
    // A step lost three times makes the slot reset its card and provision it again, so a card
    // may be half-way through that while the API still shows its ONUs: the end state is the
    // one where both hold at once. An ONU is shown online as soon as it registers, before its
    // link SLA is set (a lost SLA step is tried again at the next pass), so the SLAs are part
    // of that end state too.
    auto everyLinkSla = [&](int olt) {
        const std::string slas = sim.state(olt, "link-slas");
        for (const auto& [mac, where] : sim.onus(olt))
            if (slas.find(mac) == std::string::npos) return false;
        return true;
    };
    auto cardProvisioned = [&](int olt) {
        return sim.state(olt, "enabled") == "1" && sim.state(olt, "ctc") == "1" &&
               sim.state(olt, "domains") == "1026:4" && sim.state(olt, "settings") == provisioned && everyLinkSla(olt);
    };
    const bool settled = waitUntil(
        [&] {
            for (int olt : all)
                if (!cardProvisioned(olt)) return false;
            return chain.allOnusOnline(all);
        },
        180s, 500ms);
    EXPECT_TRUE(settled) << chain.tableNow("/onutable") << "\n" << chain.quenrik().log();
    for (int olt : all) {
        SCOPED_TRACE("OLT " + std::to_string(olt));
        // Every path, domain, domain rule and setting of the sequence, and the card running.
        EXPECT_EQ("1", sim.state(olt, "enabled"));
        EXPECT_EQ("1", sim.state(olt, "ctc"));
        EXPECT_EQ("1026:4", sim.state(olt, "domains"));
        EXPECT_EQ("8192,8194,8196,8198,8200,8202,8204,8206", sim.state(olt, "paths"));
        EXPECT_EQ(provisioned, sim.state(olt, "settings"));
        // Every ONU has its link SLA.
        const std::string slas = sim.state(olt, "link-slas");
        for (const auto& [mac, where] : sim.onus(olt)) EXPECT_NE(std::string::npos, slas.find(mac)) << mac;
    }
    EXPECT_TRUE(chain.quenrik().running());
}
