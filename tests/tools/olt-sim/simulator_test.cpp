// Faults and control commands of the simulator, driven without sockets: what goes out,
// when, and what the record keeps.
#include "Simulator.h"

#include <gtest/gtest.h>

using namespace oltsim;

namespace {

std::vector<OltConfig> configs(int n) {
    std::vector<OltConfig> out;
    for (int i = 1; i <= n; ++i) {
        OltConfig c;
        c.number = i;
        c.mac = defaultOltMac(i);
        c.onusPerPort = 1;
        c.seed = 3;
        out.push_back(c);
    }
    return out;
}

class SimulatorTest : public ::testing::Test {
protected:
    SimulatorTest() : sim_(configs(2), {"127.0.2.1", "127.0.2.2"}, 3, 0) { sim_.takeDue(0); }

    Bytes request(uint16_t ctag) {
        Bytes d;
        putU16(d, msg::GetOLTNVSEnabled);
        putU16(d, ctag);
        putU16(d, 0);
        return d;
    }
    void receive(size_t olt, const Bytes& d) { sim_.receive(olt, d.data(), d.size(), now_); }
    std::vector<std::string> due(int64_t t) {
        now_ = t;
        std::vector<std::string> out;
        for (auto& o : sim_.takeDue(t)) out.push_back(std::to_string(o.olt + 1) + ":" + toHex(o.bytes));
        return out;
    }
    std::string cmd(const std::string& line) { return sim_.command(line, now_); }
    static std::string nvsReply(uint16_t ctag) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "012d%04x000400000000", ctag);
        return buf;
    }

    Simulator sim_;
    int64_t now_ = 0;
};

}  // namespace

TEST_F(SimulatorTest, DroppedRequestsAreRecordedButOnlyTheThirdTryIsAnswered) {
    ASSERT_EQ("ok", cmd("drop 1 2"));
    for (int i = 0; i < 3; ++i) receive(0, request(7));  // the card's three tries, same Ctag
    EXPECT_EQ(std::vector<std::string>{"1:" + nvsReply(7)}, due(0));
    EXPECT_EQ("ok 3 012d00070000 012d00070000 012d00070000", cmd("record 1"));
    EXPECT_EQ("ok 3", cmd("requests 1"));
    EXPECT_EQ("ok 0", cmd("record 2"));
    ASSERT_EQ("ok", cmd("record 1 clear"));
    EXPECT_EQ("ok 0", cmd("record 1"));
}

TEST_F(SimulatorTest, DelayedReplyArrivesAfterLaterOnes) {
    ASSERT_EQ("ok", cmd("delay 1 6000 1"));  // only the next reply is late
    receive(0, request(1));
    receive(0, request(2));
    EXPECT_EQ(std::vector<std::string>{"1:" + nvsReply(2)}, due(0));
    EXPECT_TRUE(due(5999).empty());
    EXPECT_EQ(std::vector<std::string>{"1:" + nvsReply(1)}, due(6000));
    EXPECT_EQ(kNever, sim_.nextDueMs());
}

TEST_F(SimulatorTest, MessageHeldForTheNextExchangeGoesOutBeforeItsReply) {
    ASSERT_EQ("ok", cmd("alarm 1 5 1 17 1 next"));
    ASSERT_EQ("ok", cmd("raw 2 0102030405 next"));
    EXPECT_TRUE(due(10).empty());
    ASSERT_EQ("ok", cmd("drop 1 1"));
    receive(0, request(4));  // dropped, yet the exchange has begun
    // clang-format off
  EXPECT_EQ(std::vector<std::string>{"1:801a0002001100000000" "05024f4c5400010001" "11010100"}, due(10));
    // clang-format on
    receive(1, request(5));
    EXPECT_EQ((std::vector<std::string>{"2:0102030405", "2:" + nvsReply(5)}), due(10));
}

TEST_F(SimulatorTest, SilentOltAnswersNothingAndKeepsHeldMessages) {
    ASSERT_EQ("ok", cmd("delay 1 100"));
    receive(0, request(1));
    ASSERT_EQ("ok", cmd("silent 1 on"));
    ASSERT_EQ("ok", cmd("event 1 8123 aabb next"));
    receive(0, request(2));
    ASSERT_EQ("ok", cmd("restart 1"));
    EXPECT_TRUE(due(1000).empty());  // the late reply and the OLT Ready are swallowed
    ASSERT_EQ("ok", cmd("silent 1 off"));
    ASSERT_EQ("ok", cmd("delay 1 0"));
    receive(0, request(3));
    EXPECT_EQ((std::vector<std::string>{"1:81230002000600000000aabb", "1:" + nvsReply(3)}), due(1000));
    EXPECT_EQ("ok 3", cmd("requests 1"));
}

TEST_F(SimulatorTest, LossFollowsTheSeed) {
    auto pattern = [](uint64_t seed) {
        Simulator s(configs(1), {"127.0.2.1"}, seed, 0);
        s.command("loss 1 0.5", 0);
        s.takeDue(0);
        std::string answered;
        for (uint16_t c = 1; c <= 64; ++c) {
            Bytes d = {0x01, 0x2d, static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c), 0, 0};
            s.receive(0, d.data(), d.size(), 0);
            answered += s.takeDue(0).empty() ? '.' : 'x';
        }
        return answered;
    };
    std::string a = pattern(11);
    EXPECT_EQ(a, pattern(11));
    EXPECT_NE(a, pattern(12));
    EXPECT_NE(std::string::npos, a.find('.'));
    EXPECT_NE(std::string::npos, a.find('x'));
}

TEST_F(SimulatorTest, OnuEventsOnCommand) {
    EXPECT_EQ("ok 02:4f:4e:01:00:00/0/offline 02:4f:4e:01:01:00/1/offline", cmd("onus 1"));
    ASSERT_EQ("ok", cmd("leave 1 02:4f:4e:01:00:00 gasp"));
    ASSERT_EQ("ok", cmd("move 1 02:4f:4e:01:01:00 0"));
    // clang-format off
  EXPECT_EQ((std::vector<std::string>{"1:801a0002000f00000000" "03024f4e010000" "40010100",
                                      "1:802b0003000c00000000" "024f4e010100" "0100"}),
              // clang-format on
              due(0));
    EXPECT_EQ("ok 02:4f:4e:01:00:00/0/gone 02:4f:4e:01:01:00/0/offline", cmd("onus 1"));
    ASSERT_EQ("ok", cmd("product 2 3724"));
    ASSERT_EQ("ok", cmd("restart 2"));
    auto ready = due(300);
    ASSERT_EQ(1u, ready.size());
    EXPECT_EQ("2:80000002005b024f4c54000200004f4c543724", ready[0].substr(0, 40));
}

TEST_F(SimulatorTest, BadCommandsAreRefusedWithAReason) {
    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"", "error empty command"},
        {"frobnicate 1", "error unknown command 'frobnicate' (try help)"},
        {"drop 3 1", "error OLT must be 1..2"},
        {"drop x 1", "error OLT must be a number"},
        {"drop 1", "error wrong number of arguments for drop"},
        {"loss 1 1.5", "error ratio must be a number from 0 to 1"},
        {"silent 1 maybe", "error silent takes on or off"},
        {"raw 1 123", "error datagram must be an even number of hex digits"},
        {"leave 1 02:4f:4e:01:00", "error bad MAC address '02:4f:4e:01:00'"},
        {"leave 1 02:4f:4e:09:00:00", "error no ONU 02:4f:4e:09:00:00 on OLT 1"},
        {"move 1 02:4f:4e:01:00:00 0", "error ONU 02:4f:4e:01:00:00 is already on port 0"},
        {"return 1 02:4f:4e:01:00:00", "error ONU 02:4f:4e:01:00:00 is not gone"},
        {"drop 1 1 next", "error 'next' only applies to commands that send a message"},
        {"product 1 37", "error product must be 4 hex digits"},
        {"rules 1 4", "error port must be 0..3"},
        {"event 1 8000 aa", "error event message ID must be above 8000 (ready or raw for others)"},
        {"event 1 012d 0101", "error event message ID must be above 8000 (ready or raw for others)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.reply, cmd(c.line));
    }
    EXPECT_FALSE(sim_.quitRequested());
    EXPECT_EQ("ok", cmd("quit"));
    EXPECT_TRUE(sim_.quitRequested());
}

TEST_F(SimulatorTest, PingIsAnsweredOnlyByAnOltThatIsThereAwakeAndNotSilent) {
    EXPECT_EQ("ok 1", cmd("ping 127.0.2.1"));
    EXPECT_EQ("ok 0", cmd("ping 127.0.2.3"));  // no simulated card at that address
    ASSERT_EQ("ok", cmd("silent 2 on"));
    EXPECT_EQ("ok 0", cmd("ping 127.0.2.2"));
    ASSERT_EQ("ok", cmd("silent 2 off"));
    EXPECT_EQ("ok 1", cmd("ping 127.0.2.2"));
    ASSERT_EQ("ok", cmd("restart 1"));
    EXPECT_EQ("ok 0", cmd("ping 127.0.2.1"));
    due(10000);  // the restart time has passed
    EXPECT_EQ("ok 1", cmd("ping 127.0.2.1"));
    EXPECT_EQ("ok 1", cmd("ping 127.0.2.2"));
    EXPECT_EQ("error wrong number of arguments for ping", cmd("ping"));
}

TEST_F(SimulatorTest, RefusedRequestsAreAnsweredWithOutOfRangeAndChangeNothing) {
    ASSERT_EQ("ok", cmd("refuse 1 012d 1"));
    receive(0, request(7));
    receive(0, request(8));
    EXPECT_EQ((std::vector<std::string>{"1:012d000700020003", "1:" + nvsReply(8)}), due(0));
    EXPECT_EQ("ok 2", cmd("requests 1"));
    EXPECT_EQ("error message ID must be an even number of hex digits", cmd("refuse 1 12d 1"));
}

// The sandbox's life: ONUs leave and come back, alarms are raised and cleared, all drawn from
// the seed, and never on an OLT that is silent.
TEST(SimulatorChurn, OnusLeaveAndReturnAlarmsRiseAndClearRepeatably) {
    auto run = [](uint64_t seed, bool silentSecond) {
        std::vector<OltConfig> cs;
        for (int i = 1; i <= 2; ++i) {
            OltConfig c;
            c.number = i;
            c.mac = defaultOltMac(i);
            c.onusPerPort = 3;
            cs.push_back(c);
        }
        Simulator sim(cs, {"127.0.2.1", "127.0.2.2"}, 1, 0);
        for (size_t olt = 0; olt < 2; ++olt) {
            Bytes enable;
            putU16(enable, msg::EnableOLT);
            putU16(enable, 1);
            putU16(enable, 0);
            sim.receive(olt, enable.data(), enable.size(), 0);
        }
        if (silentSecond) {
            EXPECT_EQ("ok", sim.command("silent 2 on", 0));
        }
        sim.takeDue(1000);
        sim.setChurn(5000, seed, 1000);
        std::vector<std::string> events;  // "<olt>:<id>[:<code>/<state>]"
        for (int64_t t = 1000; t <= 400000; t += 250) {
            for (auto& o : sim.takeDue(t)) {
                std::string hex = toHex(o.bytes);
                std::string e = std::to_string(o.olt + 1) + ":" + hex.substr(0, 4);
                if (hex.substr(0, 4) == "801a") e += ":" + hex.substr(34, 2) + "/" + hex.substr(36, 2);
                events.push_back(e);
            }
        }
        return events;
    };
    const auto events = run(7, false);
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (const auto& e : events) n += e.find(what) != std::string::npos;
        return n;
    };
    // 400 s at a mean of 5 s: dozens of events of every kind.
    EXPECT_GT(count(":17/01") + count(":40/01"), 5u) << "departures (Report Timeout, Dying Gasp)";
    EXPECT_GT(count(":8019"), 5u) << "returns (Link Discovery)";
    const size_t raised = count(":81/01") + count(":a5/01") + count(":a4/01") + count(":15/01");
    const size_t cleared = count(":81/00") + count(":a5/00") + count(":a4/00") + count(":15/00");
    EXPECT_GT(raised, 3u);
    EXPECT_GT(cleared, 0u);
    EXPECT_LE(cleared, raised);
    EXPECT_EQ(events, run(7, false)) << "the same seed must give the same life";
    EXPECT_NE(events, run(8, false));
    for (const auto& e : run(7, true)) {
        EXPECT_EQ('1', e[0]) << "a silent OLT churned: " << e;
    }
}
