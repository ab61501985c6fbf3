// Endpoint set-up: port files, the once-per-socket bind/connect rule, socket lifetime.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "Ostrel"
#include "OstrelTestKit.h"

using namespace ostrel_test;

namespace {

TEST(OstrelPortFile, ReadsTheLeadingNumber) {
    struct Case {
        const char* name;
        std::string content;
        int port;  // 0: refused
    };
    const Case cases[] = {
        {"digits alone", "2020", 2020},
        {"trailing newline", "2020\n", 2020},
        {"blanks, sign and trailing text", "  +31 junk", 31},
        {"highest port", "65535", 65535},
        {"letter", "x", 0},
        {"empty", "", 0},
        {"zero", "0", 0},
        {"negative", "-5", 0},
        // would be cut to 16 bits and reach some other port
        {"above the port range", "70000", 0},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("p.ipc");
        writeFile(path, c.content);
        Ostrel o(freePort());
        int port = -1;
        EXPECT_EQ(o.getPortFromFile(path.c_str(), port), c.port != 0);
        if (c.port != 0) {
            EXPECT_EQ(port, c.port);
        } else {
            EXPECT_EQ(o.getErrorMessage(), "Impossible to read integer port from ipc: " + path);
        }
    }
}

TEST(OstrelPortFile, UnreadableAndUnwritableFilesAreNamed) {
    TempDir dir;
    const std::string missing = dir.file("no/such/dir/p.ipc");
    Ostrel o(freePort());
    int port = -1;
    EXPECT_FALSE(o.getPortFromFile(missing.c_str(), port));
    EXPECT_EQ(o.getErrorMessage(), "Impossible to open read-write ipc: " + missing);

    // bind writes the port file first: a failure there leaves the socket unbound and NONE.
    ASSERT_TRUE(o.createSocket());
    EXPECT_FALSE(o.bind(missing.c_str()));
    EXPECT_EQ(o.getErrorMessage(), "Impossible to open read-only ipc: " + missing);
    EXPECT_TRUE(o.bind(dir.file("ok.ipc").c_str())) << o.getErrorMessage();
    o.close();
}

TEST(OstrelPortFile, ConnectGivesUpAfterTheWaitLimit) {
    TempDir dir;
    const std::string path = dir.file("late.ipc");
    Ostrel client(freePort());
    ASSERT_TRUE(client.createSocket());
    client.setPortFileWaitLimit(1);
    EXPECT_FALSE(client.connect(path.c_str()));
    EXPECT_EQ(client.getErrorMessage(), "Timeout watting ipc: " + path);

    // Still NONE: once the server is there, the same endpoint connects.
    writeFile(path, "2020");
    EXPECT_TRUE(client.connect(path.c_str())) << client.getErrorMessage();
    client.close();
}

TEST(OstrelPortFile, AFileStillEmptyIsWaitedForUntilThePortIsInIt) {
    // A server in the middle of bind() has truncated its port file and not yet written it.
    TempDir dir;
    const std::string path = dir.file("half.ipc");
    writeFile(path, "");
    Ostrel client(freePort());
    ASSERT_TRUE(client.createSocket());
    std::thread server([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        writeFile(path, "2020");
    });
    client.setPortFileWaitLimit(5);
    EXPECT_TRUE(client.connect(path.c_str())) << client.getErrorMessage();
    server.join();
    client.close();

    // One that stays empty is, at the limit, a file without a port.
    writeFile(path, "");
    Ostrel late(freePort());
    ASSERT_TRUE(late.createSocket());
    late.setPortFileWaitLimit(2);
    EXPECT_FALSE(late.connect(path.c_str()));
    EXPECT_EQ(late.getErrorMessage(), "Impossible to read integer port from ipc: " + path);
    late.close();
}

TEST(OstrelState, BindOrConnectOncePerSocket) {
    struct Case {
        const char* name;
        bool firstIsBind;
        bool secondIsBind;
        const char* error;
    };
    const Case cases[] = {
        {"bind twice", true, true, "Connection type doesn't NONE. It's 2"},
        {"connect after bind", true, false, "Connection type doesn't NONE. It's 2"},
        {"bind after connect", false, true, "Connection type doesn't NONE. It's 1"},
    };
    TempDir dir;
    const std::string path = dir.file("c.ipc");
    writeFile(path, std::to_string(freePort()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Ostrel o(freePort());
        o.setPortFileWaitLimit(1);
        auto step = [&](bool isBind) { return isBind ? o.bind(path.c_str()) : o.connect(path.c_str()); };
        ASSERT_TRUE(o.createSocket());
        ASSERT_TRUE(step(c.firstIsBind)) << o.getErrorMessage();
        EXPECT_FALSE(step(c.secondIsBind));
        EXPECT_STREQ(o.getErrorMessage(), c.error);
        // A fresh socket starts over, on the same own port thanks to address reuse.
        ASSERT_TRUE(o.createSocket());
        EXPECT_TRUE(step(c.secondIsBind)) << o.getErrorMessage();
        o.close();
    }
}

TEST(OstrelState, SocketLifetime) {
    TempDir dir;
    Ostrel o(freePort());
    EXPECT_FALSE(o.bind(dir.file("a.ipc").c_str()));
    EXPECT_STREQ(o.getErrorMessage(), "Socket wasn't created");
    EXPECT_FALSE(o.close()) << "nothing to close";

    ASSERT_TRUE(o.createSocket());
    EXPECT_GT(o.getSocketForTest(), 0);
    EXPECT_TRUE(o.shutdown());
    EXPECT_EQ(o.getSocketForTest(), -1) << "a closed descriptor is forgotten";
    EXPECT_FALSE(o.close());
}

TEST(OstrelState, OwnPortHeldElsewhereFailsBind) {
    TempDir dir;
    RawPeer holder;  // bound without address reuse
    Ostrel o(holder.port());
    ASSERT_TRUE(o.createSocket());
    const std::string path = dir.file("busy.ipc");
    EXPECT_FALSE(o.bind(path.c_str()));
    EXPECT_STREQ(o.getErrorMessage(), std::strerror(EADDRINUSE));
    EXPECT_EQ(readFile(path), std::to_string(holder.port())) << "the port file goes out first";
    o.close();
}

}  // namespace
