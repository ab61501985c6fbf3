// The daemon's threads seen from outside: request workers on both channels, their answers
// to bad input, the task sender's queue, and a channel that cannot be set up.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "harness/Harness.h"

using namespace halvorn_test;

TEST(SystemWorkers, BothChannelsServeAndSurviveBadRequests) {
    Harness h;
    // Malformed JSON, then an unknown name, an unknown action: each gets its error and the
    // worker goes on serving.
    auto bad = h.raw("{\"action\":\"get\",");
    EXPECT_EQ(bad.err.rfind("JSON not parsed: ", 0), 0u) << bad.err;
    EXPECT_EQ(h.get("/nosuchtable").err, "Object name '/nosuchtable' not found");
    EXPECT_EQ(h.api("delete", "/onutable").err, "Invalid API request: delete");
    EXPECT_EQ(h.raw("[1,2]").err, "Key 'action' not found");

    for (bool snmp : {false, true}) {
        SCOPED_TRACE(snmp ? "snmp" : "web");
        auto r = h.get("/slottable/3", snmp);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.data.find("\"qvSlotIndex\":\"3\""), std::string::npos) << r.data;
    }
    // The interface list comes from the system: no loopback, plus the fixed flag.
    auto ifaces = h.get("/network-interfaces");
    EXPECT_EQ(ifaces.err, "");
    EXPECT_NE(ifaces.data.find("\"change-olt-network\":\"1\""), std::string::npos) << ifaces.data;
    EXPECT_NE(ifaces.data.find("\"id\":\"0\""), std::string::npos) << ifaces.data;
    EXPECT_EQ(ifaces.data.find("\"lo\""), std::string::npos) << ifaces.data;
    EXPECT_TRUE(h.running());
}

TEST(SystemWorkers, TasksQueuedBeforeQuenrikStartsArriveInOrder) {
    Harness::Options o;
    o.startTaskPeer = false;
    Harness h(o);
    for (const char* uri : {"/slot/reset", "/slot/disable", "/slot/enable"})
        ASSERT_EQ(h.set(uri, "{\"slot_id\":\"2\"}").err, "") << uri;

    h.tasks().start();
    ASSERT_TRUE(h.tasks().waitForCount(3, 15s)) << h.log();
    auto t = h.tasks().tasks();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].uri, "/slot/reset");
    EXPECT_EQ(t[1].uri, "/slot/disable");
    EXPECT_EQ(t[2].uri, "/slot/enable");
    EXPECT_EQ(t[0].action, "set");
    EXPECT_EQ(t[0].data, "{\"slot_id\":\"2\"}");

    // Once connected, a later task follows at once.
    ASSERT_EQ(h.set("/slot/onu/reset", "{\"slot_id\":\"4\",\"mac_address\":\"00:11:22:33:44:55\"}").err, "");
    ASSERT_TRUE(h.tasks().waitForCount(4));
    EXPECT_EQ(h.tasks().tasks()[3].uri, "/slot/onu/reset");
}

TEST(SystemWorkers, ChannelThatCannotBeSetUpEndsTheProcessWithFailure) {
    Harness::Options o;
    o.startDaemon = false;
    o.retryOnBusyPorts = false;
    Harness h(o);
    // Hold the web worker's own port so its bind fails.
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(2030);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);

    // The port file is written before the bind, so start() may or may not see the end.
    try {
        h.start();
    } catch (const std::runtime_error&) {}
    ASSERT_TRUE(waitUntil([&] { return !h.running(); }));
    ::close(fd);
    ASSERT_TRUE(WIFEXITED(h.exitStatus()));
    EXPECT_EQ(WEXITSTATUS(h.exitStatus()), 1);
    EXPECT_TRUE(h.logContains("Exception: threadWorker[")) << h.log();
}
