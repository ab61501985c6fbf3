// HalvornAPI against a stand-in for Halvorn's SNMP channel: answers, errors, and every way
// the peer can be missing, silent, busy or dying, each costing a bounded wait.

#include "HalvornAPI.h"

#include <gtest/gtest.h>

#include "WendixHarness.h"

using namespace wendix_test;

namespace {

constexpr int kServerPort = 25020;

// Halvorn's side of "/tmp/snmp.ipc": an Ostrel server that answers each request with
// reply(request), or, when that is "<cut>", starts the answer and stops after its first chunk.
class FakeHalvorn {
public:
    FakeHalvorn(const std::string& portFile, std::function<std::string(const std::string&)> reply)
        : reply_(std::move(reply)), endpoint_(kServerPort) {
        if (!endpoint_.createSocket() || !endpoint_.bind(portFile.c_str()))
            throw std::runtime_error(std::string("fake Halvorn: ") + endpoint_.getErrorMessage());
        endpoint_.setPingLimits(1, 1000);
        thread_ = std::thread([this] { run(); });
    }
    ~FakeHalvorn() {
        stop_.store(true);
        thread_.join();
        endpoint_.close();
    }
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> l(mutex_);
        return requests_;
    }

private:
    void run() {
        while (!stop_.load()) {
            pollfd p{endpoint_.getSocketForTest(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            std::string request;
            if (endpoint_.recv(request) < 0) continue;
            {
                std::lock_guard<std::mutex> l(mutex_);
                requests_.push_back(request);
            }
            const std::string answer = reply_(request);
            if (answer != "<cut>") {
                endpoint_.send(answer);
                continue;
            }
            // The first of several chunks, then silence.
            if (endpoint_.pingServer()) endpoint_.sendChunkForTest();
        }
    }

    std::function<std::string(const std::string&)> reply_;
    struct Endpoint : Ostrel {
        using Ostrel::Ostrel;
        // One data chunk flagged "more follow", to the client, without waiting for its
        // acknowledgement.
        void sendChunkForTest() {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(HalvornAPI::kOwnPort);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::sendto(getSocketForTest(), "1{\"data\"", 8, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        }
    } endpoint_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A UDP socket that takes datagrams and never answers: a port file left behind by a
// stopped daemon whose port is still (or again) bound by something silent.
class SilentPeer {
public:
    SilentPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kServerPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) throw std::runtime_error("bind");
    }
    ~SilentPeer() { ::close(fd_); }
    int received() {
        char buf[64];
        while (::recv(fd_, buf, sizeof(buf), 0) > 0) ++count_;
        return count_;
    }

private:
    int fd_ = -1;
    int count_ = 0;
};

class HalvornApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wendix-api-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        portFile_ = dir_ + "/snmp.ipc";
        api_.setPortFileForTest(portFile_);
        api_.setLimitsForTest(300, 2000, 5000);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string dir_;
    std::string portFile_;
    HalvornAPI api_;
};

TEST_F(HalvornApiTest, OneExchangeGivesHalvornsAnswerOrItsError) {
    FakeHalvorn halvorn(portFile_, [](const std::string& request) {
        if (request.find("/olttable/9") != std::string::npos) return std::string("{\"err\":\"Invalid ID object '9'\"}");
        if (request.find("/broken") != std::string::npos) return std::string("no json");
        return std::string("{\"data\":[{\"id\":\"1\"}],\"err\":\"\"}");
    });

    APIData table = api_.doRequestApiData("get", "/slottable", "");
    EXPECT_EQ(table.getError(), "");
    EXPECT_EQ(table.getJsonData(), "[{\"id\":\"1\"}]");

    EXPECT_FALSE(api_.doRequest("set", "/olttable/9", "{\"qvCfgOLTMtu\":\"9000\"}"));
    EXPECT_EQ(api_.doRequestApiData("set", "/olttable/9", "{}").getError(), "Invalid ID object '9'");
    EXPECT_EQ(api_.doRequestApiData("get", "/broken", "").getError(), "JSON not parsed: no json");
    EXPECT_TRUE(api_.doRequest("set", "/slottable/1", "{\"qvSlotSet\":\"1\"}"));

    const auto seen = halvorn.requests();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], "{\"action\":\"get\",\"uri\":\"/slottable\"}");
    EXPECT_EQ(seen[4], "{\"action\":\"set\",\"uri\":\"/slottable/1\",\"data\":{\"qvSlotSet\":\"1\"}}");
}

TEST_F(HalvornApiTest, AMissingPortFileFailsAtOnce) {
    const APIData r = api_.doRequestApiData("get", "/slottable", "");
    EXPECT_EQ(r.getError(), "Timeout watting ipc: " + portFile_);
    EXPECT_EQ(r.getJsonData(), "");
}

TEST_F(HalvornApiTest, ASilentPeerCostsOnePingThenFailsAtOnceUntilThePortFileChanges) {
    SilentPeer peer;
    writeWholeFile(portFile_, std::to_string(kServerPort));

    EXPECT_EQ(api_.doRequestApiData("get", "/slottable", "").getError(),
              "Impossible to ping server lo0:" + std::to_string(kServerPort));
    EXPECT_EQ(peer.received(), 1);
    EXPECT_EQ(api_.doRequestApiData("get", "/olttable", "").getError(), "Halvorn did not answer on " + portFile_);
    EXPECT_EQ(peer.received(), 1);

    // A restarted daemon rewrites its port file: tried again at once.
    std::this_thread::sleep_for(10ms);
    writeWholeFile(portFile_, std::to_string(kServerPort));
    EXPECT_EQ(api_.doRequestApiData("get", "/slottable", "").getError(),
              "Impossible to ping server lo0:" + std::to_string(kServerPort));
    EXPECT_EQ(peer.received(), 2);
}

TEST_F(HalvornApiTest, AnotherClientsExchangeIsWaitedForUpToItsDeadline) {
    FakeHalvorn halvorn(portFile_, [](const std::string&) { return std::string("{\"err\":\"\"}"); });
    int fd = ::open(portFile_.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(api_.doRequestApiData("get", "/slottable", "").getError(), "Timeout locking ipc: " + portFile_);
    EXPECT_TRUE(halvorn.requests().empty());

    // Released within the deadline: the exchange goes through.
    std::thread release([fd] {
        std::this_thread::sleep_for(200ms);
        ::close(fd);
    });
    EXPECT_EQ(api_.doRequestApiData("get", "/slottable", "").getError(), "");
    release.join();
    EXPECT_EQ(halvorn.requests().size(), 1u);
}

TEST_F(HalvornApiTest, AnAnswerThatStopsHalfWayFailsAfterTheChunkWait) {
    FakeHalvorn halvorn(portFile_, [](const std::string&) { return std::string("<cut>"); });
    const APIData r = api_.doRequestApiData("get", "/onutable", "");
    EXPECT_EQ(r.getError().rfind("recvfrom()", 0), 0u) << r.getError();
    EXPECT_EQ(r.getJsonData(), "");
}

}  // namespace
