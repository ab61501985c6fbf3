// Quenrik between its two channels, with the test playing Halvorn (a notification receiver
// that records, a task sender) and the simulator playing the cards: what Quenrik tells
// Halvorn and when, a Halvorn that is late or restarts, tasks that must be refused.
#include <gtest/gtest.h>

#include "harness/Chain.h"
#include "harness/Provisioning.h"

using namespace quenrik_test;

namespace {

class Channels : public ::testing::Test {
protected:
    Channels()
        : sim_(root_.path(), {"--olts", "1", "--onus", "1"}), quenrik_(root_.path(), 0.1), halvorn_(root_.path()) {}

    // Quenrik, then Halvorn's stand-in, and slot 1 configured and provisioned.
    void startProvisioned() {
        quenrik_.start();
        halvorn_.answerConfig(1);
        halvorn_.start();
        ASSERT_TRUE(waitUntil([&] { return sim_.status(1, "ctc") == "1" && sim_.status(1, "online") == "2"; }, 20s))
            << quenrik_.log();
    }
    size_t configRequests(const std::string& slot) { return halvorn_.notifications("/olt/get/config", slot).size(); }

    TempRoot root_;
    Simulator sim_;
    QuenrikProcess quenrik_;
    FakeHalvorn halvorn_;
};

}  // namespace

TEST_F(Channels, ALateHalvornGetsEveryNotificationInOrder) {
    quenrik_.start();
    // Halvorn is not there: the notifier says so once and keeps the notifications.
    ASSERT_TRUE(waitUntil([&] { return quenrik_.logContains("threadNotifyWorker"); }));
    EXPECT_TRUE(quenrik_.logContains("-Error: Timeout watting ipc: " + root_.path() + "/tmp/quenhal.ipc"));
    std::this_thread::sleep_for(1500ms);  // Halvorn comes late
    EXPECT_TRUE(quenrik_.running());
    halvorn_.start();

    ASSERT_TRUE(waitUntil([&] { return configRequests("8") >= 2; }));
    const std::vector<halvorn_test::Task> all = halvorn_.notifications();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ("/olt/set/all/offline", all[0].uri);
    EXPECT_EQ("{}", all[0].data);
    EXPECT_EQ("/onu/set/all/offline", all[1].uri);
    EXPECT_EQ("{}", all[1].data);
    for (const auto& t : all) EXPECT_EQ("set", t.action);
    // Each slot first reports its blank OLT record, then asks for its configuration.
    for (int s = 1; s <= 8; ++s) {
        SCOPED_TRACE("slot " + std::to_string(s));
        const std::string slot = std::to_string(s);
        std::vector<std::string> uris;
        for (const auto& t : all)
            if ((t.uri == "/olt/new/report" || t.uri == "/olt/get/config") && field(t.data, "slot_id") == slot)
                uris.push_back(t.uri);
        ASSERT_GE(uris.size(), 2u);
        EXPECT_EQ("/olt/new/report", uris[0]);
        for (size_t i = 1; i < uris.size(); ++i) EXPECT_EQ("/olt/get/config", uris[i]);
        const auto reports = halvorn_.notifications("/olt/new/report", slot);
        EXPECT_EQ("0", field(reports[0].data, "online_status"));
        EXPECT_EQ("", field(reports[0].data, "mac_address"));
    }

    // Slot 1 gets its configuration: identified, provisioned, reported with its MAC. The slots
    // that get none keep asking, about every configuration wait plus a pass.
    halvorn_.answerConfig(1);
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& t : halvorn_.notifications("/olt/new/report", "1"))
                if (field(t.data, "mac_address") == "02:4f:4c:54:00:01" && field(t.data, "online_status") == "1")
                    return true;
            return false;
        },
        20s));
    const size_t asked = configRequests("5");
    EXPECT_TRUE(waitUntil([&] { return configRequests("5") >= asked + 3; }));
    EXPECT_TRUE(waitUntil([&] { return !halvorn_.notifications("/onu/new", "1").empty(); }));
}

TEST_F(Channels, HalvornRestartingMidRunIsReachedAgain) {
    quenrik_.start();
    halvorn_.start();
    ASSERT_TRUE(waitUntil([&] { return configRequests("3") >= 1; }));
    // Halvorn's receiver goes away (its port file stays) and comes back on the same port.
    halvorn_.stop();
    std::this_thread::sleep_for(1s);
    halvorn_.start();
    const size_t before = configRequests("3");
    EXPECT_TRUE(waitUntil([&] { return configRequests("3") >= before + 2; }, 30s)) << quenrik_.log();
    EXPECT_TRUE(quenrik_.running());
}

TEST_F(Channels, SlotResetAsksForTheConfigurationBeforeAnythingReachesTheCard) {
    startProvisioned();
    halvorn_.stopAnsweringConfig(1);
    const size_t asked = configRequests("1");
    halvorn_.sendTask("/slot/reset", R"({"slot_id":"1"})");
    ASSERT_TRUE(waitUntil([&] { return configRequests("1") > asked; }));
    // While Halvorn does not answer, the slot keeps asking and sends the card nothing.
    const std::vector<Request> atReset = sim_.record(1, false);
    ASSERT_FALSE(atReset.empty());
    EXPECT_EQ(0x0006, atReset.back().id);
    ASSERT_TRUE(waitUntil([&] { return configRequests("1") >= asked + 3; }));
    EXPECT_EQ(atReset.size(), sim_.record(1, false).size());

    // The configuration arrives: identified and provisioned afresh.
    const size_t from = sim_.record(1).size();
    halvorn_.answerConfig(1);
    ASSERT_TRUE(waitUntil(
        [&] { return findSequence(sim_.record(1), provisioningSequence(1, false), from) != std::string::npos; }, 20s));
    EXPECT_EQ(0x0007, sim_.record(1)[from].id);
}

TEST_F(Channels, AnOltConfigWithAnAddressThatIsNotIPv4ChangesNothing) {
    startProvisioned();
    const std::string injected = root_.path() + "/injected";
    struct Case {
        const char* name;
        std::string ip;
        std::string source;
    };
    const std::vector<Case> cases = {
        {"command after the address", "127.0.2.1;touch " + injected, "127.0.1.1"},
        {"command substitution", "$(touch " + injected + ")", "127.0.1.1"},
        {"source address with a command", "127.0.2.1", "127.0.1.1 `touch " + injected + "`"},
        {"three parts", "127.0.2", "127.0.1.1"},
        {"part above 255", "127.0.2.256", "127.0.1.1"},
        {"trailing blank", "127.0.2.1 ", "127.0.1.1"},
        {"host name", "localhost", "127.0.1.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t requests = sim_.record(1, false).size();
        const size_t offline = halvorn_.notifications("/onu/set/all/offline", "1").size();
        const size_t printed = quenrik_.logCount("task /olt/config of slot 1 ignored");
        halvorn_.sendConfig(1, c.ip, "1", c.source);
        ASSERT_TRUE(waitUntil([&] { return quenrik_.logCount("task /olt/config of slot 1 ignored") > printed; }))
            << quenrik_.log();
        // The slot kept its state: not sent back to identification, ONUs not reported offline
        // (three polling passes for a wrong reset to show).
        std::this_thread::sleep_for(300ms);
        const std::vector<Request> after = sim_.record(1, false);
        for (size_t i = requests; i < after.size(); ++i) EXPECT_NE(0x0007, after[i].id);
        EXPECT_EQ(offline, halvorn_.notifications("/onu/set/all/offline", "1").size());
    }
    EXPECT_TRUE(quenrik_.logContains("Invalid IPv4(127.0.2.1;touch " + injected + ") for 'ip_address'"));
    EXPECT_FALSE(std::filesystem::exists(injected));
    // Pings keep going to the address the slot had.
    std::istringstream log(halvorn_test::readWholeFile(root_.path() + "/commands.log"));
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("ping ", 0) != 0) continue;
        EXPECT_EQ("ping -w 1 -I 127.0.1.1 127.0.2.1", line);
    }

    // The same valid configuration again still starts the slot over: identified again.
    const size_t requests = sim_.record(1, false).size();
    halvorn_.sendConfig(1, "127.0.2.1");
    EXPECT_TRUE(waitUntil([&] {
        const std::vector<Request> all = sim_.record(1, false);
        for (size_t i = requests; i < all.size(); ++i)
            if (all[i].id == 0x0007) return true;
        return false;
    }));
}

TEST_F(Channels, RefusedTasksArePrintedAndTheNextTaskStillRuns) {
    startProvisioned();
    struct Case {
        const char* name;
        std::string text;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"slot 9", R"({"action":"set","uri":"/slot/disable","data":{"slot_id":"9"}})", "Slot ID(9) is out of range"},
        {"slot 0", R"({"action":"set","uri":"/slot/disable","data":{"slot_id":"0"}})", "Slot ID(0) is out of range"},
        {"ONU task without MAC", R"({"action":"set","uri":"/slot/onu/reset","data":{"slot_id":"1"}})",
         "Exception: handlerApiRequest"},
        {"no slot", R"({"action":"set","uri":"/slot/disable","data":{}})", "Unexpected exception"},
        {"slot not a number", R"({"action":"set","uri":"/slot/disable","data":{"slot_id":"one"}})",
         "Unexpected exception"},
        {"not JSON", "slot 1 disable", "JSON not parsed: slot 1 disable"},
        {"no data", R"({"action":"set","uri":"/slot/disable"})", "Key 'data' not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = quenrik_.logCount(c.printed);
        halvorn_.sendRaw(c.text);
        EXPECT_TRUE(waitUntil([&] { return quenrik_.logCount(c.printed) > before; })) << quenrik_.log();
    }
    EXPECT_TRUE(quenrik_.logContains("MAC Address not set for task /slot/onu"));
    EXPECT_EQ(1u, sim_.countRequests(1, 0x0009));  // nothing was disabled
    // A task whose name the slot does not know is accepted and does nothing.
    halvorn_.sendTask("/slot/frobnicate", R"({"slot_id":"1"})");
    // The channel still works: the next task reaches the card.
    halvorn_.sendTask("/slot/disable", R"({"slot_id":"1"})");
    EXPECT_TRUE(waitUntil([&] { return sim_.countRequests(1, 0x0009) == 2; }));
    EXPECT_TRUE(quenrik_.running());
}

TEST(ChannelsStartUp, ATaskChannelThatCannotBeBoundEndsTheProcess) {
    TempRoot root;
    // Something else holds the task channel's port.
    const int fd = bindLoopbackUdp(2010);
    ASSERT_GE(fd, 0);
    QuenrikProcess quenrik(root.path(), 0.1);
    try {
        quenrik.start();
    } catch (const std::runtime_error&) {
        // It may already have ended by the time its port file appears.
    }
    EXPECT_TRUE(waitUntil([&] { return !quenrik.running(); }));
    ::close(fd);
    EXPECT_TRUE(WIFEXITED(quenrik.exitStatus()));
    EXPECT_EQ(1, WEXITSTATUS(quenrik.exitStatus()));
    EXPECT_TRUE(quenrik.logContains("Fatal Error - threadWorker[")) << quenrik.log();
}
