// Command line: defaults, and refusal of anything that could send traffic off loopback.
#include "Options.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace oltsim;

TEST(Options, DefaultsNameEightOltsOnLoopback) {
    Options o = parseOptions({});
    ASSERT_EQ(8u, o.oltIps.size());
    EXPECT_EQ("127.0.2.1", o.oltIps.front());
    EXPECT_EQ("127.0.2.8", o.oltIps.back());
    EXPECT_EQ("127.0.1.1", o.cardIp);
    EXPECT_EQ(14113, o.cardPort);
    EXPECT_EQ(14113, o.oltPort);
    auto configs = oltConfigs(o);
    EXPECT_EQ("02:4f:4c:54:00:08", macText(configs[7].mac));
}

TEST(Options, ValuesInBothSpellings) {
    Options o = parseOptions({"--olts", "2", "--olt-ip=127.9.0.1,127.9.0.2", "--card", "127.0.0.5:4000", "--onus=64"});
    EXPECT_EQ((std::vector<std::string>{"127.9.0.1", "127.9.0.2"}), o.oltIps);
    EXPECT_EQ("127.0.0.5", o.cardIp);
    EXPECT_EQ(4000, o.cardPort);
    EXPECT_EQ(64, o.onus);
}

TEST(Options, BadOptionsAreRefusedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--card", "10.0.0.1"}, "--card: '10.0.0.1' is not a loopback IPv4 address (127.0.0.0/8)"},
        {{"--card", "localhost"}, "--card: 'localhost' is not a loopback IPv4 address (127.0.0.0/8)"},
        {{"--olts", "1", "--olt-ip", "128.0.2.1"},
         "--olt-ip: '128.0.2.1' is not a loopback IPv4 address (127.0.0.0/8)"},
        {{"--olts", "2", "--olt-ip", "127.0.2.1"}, "--olt-ip gives 1 addresses for 2 OLTs"},
        {{"--olts", "9"}, "--olts must be 1..8"},
        {{"--onus", "65"}, "--onus must be 0..64"},
        {{"--onus", "4-65"}, "--onus must be 0..64"},
        {{"--onus", "9-4"}, "--onus MIN-MAX needs MIN <= MAX"},
        {{"--onus", "4-"}, "--onus needs a number, got ''"},
        {{"--churn", "-1"}, "--churn needs a number, got '-1'"},
        {{"--olts"}, "--olts needs a value"},
        {{"--firmware", "12"}, "--firmware needs 4 hex digits"},
        {{"--verbose=1"}, "--verbose takes no value"},
        {{"--bogus"}, "unknown option '--bogus'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        try {
            parseOptions(c.args);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(c.error, e.what());
        }
    }
}

// A range gives every PON port its own count, the same for the same seed.
TEST(Options, OnuRangeDrawsACountPerPortFromTheSeed) {
    auto counts = [](const char* seed) {
        std::vector<int> out;
        for (const auto& c : oltConfigs(parseOptions({"--onus", "4-32", "--seed", seed})))
            for (int n : c.onusOnPort) out.push_back(n);
        return out;
    };
    const auto a = counts("5");
    ASSERT_EQ(16u, a.size());
    for (int n : a) {
        EXPECT_GE(n, 4);
        EXPECT_LE(n, 32);
    }
    EXPECT_NE(std::count(a.begin(), a.end(), a[0]), 16) << "every port drew the same count";
    EXPECT_EQ(a, counts("5"));
    for (const auto& c : oltConfigs(parseOptions({"--onus", "7"}))) EXPECT_EQ(-1, c.onusOnPort[1]);
    EXPECT_EQ(30000, parseOptions({"--churn", "30"}).churnMs);
}
