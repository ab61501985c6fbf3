// One request/response exchange between two processes, the way the daemons talk: the server
// publishes its port in a port file under the root, the client finds it there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "APIData.h"
#include "Ostrel"
#include "OstrelTestKit.h"
#include "Paths.h"

using namespace ostrel_test;

namespace {

// Child: serve one request, answer with its data echoed. The exit code tells how it went.
[[noreturn]] void serveOnce(int ownPort, const std::string& portFile) {
    ::alarm(30);  // never outlive a parent that failed
    int code = 0;
    try {
        Ostrel server(ownPort);
        std::string text;
        if (!server.createSocket() || !server.bind(portFile.c_str())) {
            code = 2;
        } else if (server.recv(text) <= 0) {
            code = 3;
        } else {
            APIData request;
            request.parseRequest(text.c_str(), static_cast<int>(text.size()));
            APIData response;
            response.createResponse("", request.getJsonData());
            if (server.send(response.getJsonProtocol()) < 0) code = 4;
        }
        server.close();
    } catch (...) {
        code = 5;
    }
    std::fflush(nullptr);
    ::_exit(code);
}

TEST(OstrelProcesses, RequestAndResponseThroughThePortFile) {
    TempDir root;
    ASSERT_EQ(::mkdir((root.path() + "/tmp").c_str(), 0755), 0);
    ::setenv("PONMC_ROOT", root.path().c_str(), 1);
    const std::string portFile = Paths::resolve("/tmp/ostrel-test.ipc");
    ASSERT_EQ(portFile, root.path() + "/tmp/ostrel-test.ipc");

    const int serverPort = freePort();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) serveOnce(serverPort, portFile);

    // The answer is bigger than one chunk, so both directions cross a chunk boundary.
    const std::string data = "{\"blob\":\"" + std::string(150000, 'q') + "\"}";
    APIData request;
    request.createRequest("set", "/onutable/3", data);

    Ostrel client(freePort());
    client.setPortFileWaitLimit(30);
    // A ping that arrives while the server is still binding is lost and sent again after one
    // time-out. The time-out stays far above any scheduling delay: a pong later than that
    // would make the next ping land where the server expects the request's chunk.
    client.setPingLimits(30, 1000);
    ASSERT_TRUE(client.createSocket());
    bool ok = client.connect(portFile.c_str());
    EXPECT_TRUE(ok) << client.getErrorMessage();
    std::string text;
    if (ok) {
        EXPECT_EQ(client.send(request.getJsonProtocol()), static_cast<int64_t>(request.getJsonProtocol().size()))
            << client.getErrorMessage();
        EXPECT_GT(client.recv(text), 0) << client.getErrorMessage();
    }
    client.close();
    if (!ok) ::kill(child, SIGKILL);

    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "server status " << status;
    EXPECT_EQ(readFile(portFile), std::to_string(serverPort));

    APIData response;
    ASSERT_NO_THROW(response.parseResponse(text.c_str(), static_cast<int>(text.size())));
    EXPECT_EQ(response.getError(), "");
    EXPECT_TRUE(response.getJsonData() == data);
    ::unsetenv("PONMC_ROOT");
}

}  // namespace
