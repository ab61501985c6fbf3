// Unit tests of the web server's pieces that need no daemon: sessions and the login
// brake (time is an argument), the optical history rings, the change checks, the option
// parser and the sampler's reading of the module tables.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "OpticsHistory.h"
#include "OpticsSampler.h"
#include "Options.h"
#include "ReadCache.h"
#include "Sessions.h"
#include "Validation.h"

using namespace std::chrono_literals;

TEST(Sessions, TokensAreLongRandomAndDistinct) {
    Sessions s(30min);
    const auto now = Sessions::Clock::now();
    auto a = s.create("mzpw", now), b = s.create("mzpw", now);
    EXPECT_TRUE(std::regex_match(a.token, std::regex("[0-9a-f]{64}")));
    EXPECT_TRUE(std::regex_match(a.csrf, std::regex("[0-9a-f]{32}")));
    EXPECT_NE(a.token, b.token);
    EXPECT_NE(a.csrf, b.csrf);
}

TEST(Sessions, IdleSessionsEndAndUseKeepsThemAlive) {
    Sessions s(10min);
    const auto t0 = Sessions::Clock::now();
    auto a = s.create("mzpw", t0);
    EXPECT_TRUE(s.touch(a.token, t0 + 9min));
    EXPECT_TRUE(s.touch(a.token, t0 + 18min));  // restarted at 9 min
    EXPECT_FALSE(s.touch(a.token, t0 + 29min));
    EXPECT_FALSE(s.touch(a.token, t0 + 29min));  // gone for good
    EXPECT_FALSE(s.touch("", t0));

    // A page left open polls on its own: its reads are served but keep nobody signed in.
    auto b = s.create("mzpw", t0);
    for (auto t = t0; t < t0 + 10min; t += 5s) EXPECT_TRUE(s.touch(b.token, t, false));
    EXPECT_FALSE(s.touch(b.token, t0 + 10min + 1s, false));
}

TEST(Sessions, LogoutEndsOneAndCredentialChangeEndsTheOthers) {
    Sessions s(10min);
    const auto t = Sessions::Clock::now();
    auto a = s.create("u", t), b = s.create("u", t), c = s.create("u", t);
    s.remove(a.token);
    EXPECT_FALSE(s.touch(a.token, t));
    s.removeAllExcept(b.token);
    EXPECT_TRUE(s.touch(b.token, t));
    EXPECT_FALSE(s.touch(c.token, t));
}

TEST(Sessions, TheOldestIdleSessionMakesRoom) {
    Sessions s(10min, 2);
    const auto t = Sessions::Clock::now();
    auto a = s.create("u", t), b = s.create("u", t + 1s);
    s.touch(a.token, t + 2s);
    auto c = s.create("u", t + 3s);
    EXPECT_TRUE(s.touch(a.token, t + 3s));
    EXPECT_FALSE(s.touch(b.token, t + 3s));
    EXPECT_TRUE(s.touch(c.token, t + 3s));
}

TEST(Sessions, FailedLoginsSlowDownPerAddress) {
    Sessions s(10min, 64, 60s);
    const auto t = Sessions::Clock::now();
    // Two free tries, then 2, 4, 8 ... seconds, capped. Each attempt here comes after the
    // previous wait has passed (5 minutes apart) and fails.
    const long expected[] = {0, 0, 2, 4, 8, 16, 32, 60, 60};
    for (int i = 0; i < 9; ++i) {
        const auto at = t + i * 5min;
        SCOPED_TRACE(i);
        EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", at), 0);
        EXPECT_EQ(s.loginWaitSeconds("10.0.0.1", at), expected[i]);
    }
    const auto last = t + 8 * 5min;
    EXPECT_EQ(s.loginWaitSeconds("10.0.0.2", last), 0);  // another address is not slowed
    EXPECT_EQ(s.loginWaitSeconds("10.0.0.1", last + 61s), 0);
    s.loginSucceeded("10.0.0.1");
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", last), 0);
    EXPECT_EQ(s.loginWaitSeconds("10.0.0.1", last), 0);
}

TEST(Sessions, LoginAttemptsInFlightCountAsFailures) {
    // Guesses sent at once, none answered yet: the third is the last let through, as when
    // they come one after another; a refused attempt does not lengthen the wait.
    Sessions s(10min, 64, 60s);
    const auto t = Sessions::Clock::now();
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", t), 0);
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", t), 0);
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", t), 0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", t), 2);
    // One of them was right: the address is free again.
    s.loginSucceeded("10.0.0.1");
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", t), 0);
}

TEST(Sessions, ScriptsThatLogInOnEveryRunNeverSignTheOperatorOut) {
    Sessions s(10min);
    const auto t = Sessions::Clock::now();
    auto browser = s.create("mzpw", t, Sessions::Kind::Browser, "10.0.0.9");
    // One script logging in 80 times keeps at most its own few tokens, the newest.
    std::vector<Sessions::Session> tokens;
    for (int i = 0; i < 80; ++i) tokens.push_back(s.create("mzpw", t + i * 1s, Sessions::Kind::Bearer, "10.0.0.5"));
    EXPECT_TRUE(s.touch(browser.token, t + 80s, false));
    for (int i = 0; i < 80; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s.touch(tokens[i].token, t + 80s, false).has_value(), i >= 80 - int(Sessions::kTokensPerClient));
    }
    // 80 scripts on as many addresses fill the tokens' pool, never the browsers'.
    for (int i = 0; i < 80; ++i) s.create("mzpw", t + 81s, Sessions::Kind::Bearer, "10.1.0." + std::to_string(i));
    EXPECT_TRUE(s.touch(browser.token, t + 82s, false));
    EXPECT_EQ(s.count(t + 82s), 64u + 1u);
}

TEST(Sessions, GuessesFromManyAddressesMeetTheAccountsRateButNotAKnownBrowser) {
    Sessions s(10min);
    const auto t = Sessions::Clock::now();
    const std::string device = s.rememberDevice("mzpw", "", t);
    EXPECT_EQ(s.rememberDevice("mzpw", device, t), device);  // shown again: kept
    // An attacker on 200 addresses, an attempt every 20 ms for two minutes.
    int checked = 0, checkedInSecondMinute = 0;
    auto at = t;
    for (int i = 0; i < 6000; ++i) {
        at = t + i * 20ms;
        if (s.beginLoginAttempt("10.2." + std::to_string(i % 200), at) == 0) {
            ++checked;
            if (at >= t + 60s) ++checkedInSecondMinute;
        }
        if (i % 500 == 0) {  // the operator's browser, which logged in before, is never held
            SCOPED_TRACE(i);
            ASSERT_EQ(s.beginLoginAttempt("10.2.0.1", at, device), 0);
            s.loginSucceeded("10.2.0.1", device);
        }
    }
    EXPECT_LE(checkedInSecondMinute, Sessions::kChecksPerMinute);
    EXPECT_GE(checkedInSecondMinute, Sessions::kChecksPerMinute - 1);  // the operator waits seconds, not minutes
    EXPECT_LE(checked, Sessions::kGlobalFailures + 2 * Sessions::kChecksPerMinute + 1);
    // The attack stops: within 10 s the operator gets in from any address, the attacker's too.
    EXPECT_EQ(s.beginLoginAttempt("10.2.0.7", at + 10s), 0);
    EXPECT_EQ(s.beginLoginAttempt("192.0.2.1", at + 12s), 0);
}

TEST(Sessions, AKnownDeviceIsBrakedByItsOwnFailuresAndForgottenAfterTooMany) {
    Sessions s(10min);
    const auto t = Sessions::Clock::now();
    const std::string device = s.rememberDevice("mzpw", "", t);
    auto at = t;
    for (int i = 0; i < Sessions::kDeviceFailures; ++i) {
        at += 10min;  // past every wait
        EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", at, device), 0);
    }
    // Now an unknown cookie: the address's brake, two free tries and then waits.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", at, device), 0);
    EXPECT_EQ(s.beginLoginAttempt("10.0.0.1", at, device), 2);
    EXPECT_NE(s.rememberDevice("mzpw", device, at), device);
}

TEST(ReadCache, OneFetchServesEveryoneUntilItAgesOrAChangeIsMade) {
    ReadCache cache(std::chrono::milliseconds(60000));
    std::atomic<int> fetches{0};
    auto fetch = [&] {
        ++fetches;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a slow daemon: the others wait
        ApiClient::Response r;
        r.data = "table " + std::to_string(fetches.load());
        return r;
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] { EXPECT_EQ(cache.get("/onutable", fetch)->data, "table 1"); });
    for (auto& t : readers) t.join();
    EXPECT_EQ(fetches.load(), 1);
    cache.invalidate();  // a change through the server is read back at once
    EXPECT_EQ(cache.get("/onutable", fetch)->data, "table 2");
    // Errors and failures are never kept.
    auto refused = [&] {
        ++fetches;
        ApiClient::Response r;
        r.err = "busy";
        return r;
    };
    EXPECT_EQ(cache.get("/olttable", refused)->err, "busy");
    EXPECT_EQ(cache.get("/olttable", fetch)->data, "table 4");
    EXPECT_THROW(cache.get("/slottable", []() -> ApiClient::Response { throw std::runtime_error("unreachable"); }),
                 std::runtime_error);
    EXPECT_EQ(cache.get("/slottable", fetch)->data, "table 5");
    ReadCache young(std::chrono::milliseconds(0));  // no age allowed: every read fetches
    young.get("/onutable", fetch);
    young.get("/onutable", fetch);
    EXPECT_EQ(fetches.load(), 7);
}

TEST(OpticsHistory, FineSamplesThenCoarseMeansOldestFirst) {
    OpticsHistory h(4, 2, 3);  // 4 fine samples, a mean of every 2, 3 means
    for (int i = 0; i < 10; ++i) h.addSample(100 + i * 10, {{"onu:a", {std::to_string(i), "-", "3.30", "", "x"}}});
    // Fine: samples 6..9 at 160..190. Means closed at 110 (0,1), 130 (2,3), 150 (4,5),
    // 170 (6,7), 190 (8,9); the ring keeps the last 3 (150, 170, 190) and only those older
    // than the oldest fine sample are shown: 150.
    EXPECT_EQ(h.toJson("onu:a"),
              "{\"t\":[150,160,170,180,190],\"txPower\":[4.50,6.00,7.00,8.00,9.00],"
              "\"rxPower\":[null,null,null,null,null],\"voltage\":[3.30,3.30,3.30,3.30,3.30],"
              "\"bias\":[null,null,null,null,null],\"temperature\":[null,null,null,null,null]}");
    EXPECT_EQ(h.toJson("onu:b"), "");
}

TEST(OpticsHistory, AbsentEntitiesGetHolesAndAreForgottenOnceOutOfReach) {
    OpticsHistory h(2, 1, 2);
    h.addSample(10, {{"olt:1/0", {"1", "", "", "", ""}}, {"onu:gone", {"2", "", "", "", ""}}});
    h.addSample(20, {{"olt:1/0", {"1", "", "", "", ""}}});
    EXPECT_NE(h.toJson("onu:gone").find("\"txPower\":[2.00,null]"), std::string::npos);
    h.addSample(30, {{"olt:1/0", {"1", "", "", "", ""}}});
    EXPECT_EQ(h.entities(), 1u);
    EXPECT_EQ(h.toJson("onu:gone"), "");
}

TEST(OpticsHistory, OutOfRangeAndGarbageAreHoles) {
    OpticsHistory h(2, 10, 2);
    h.addSample(1, {{"k", {"400", "-327.67", "1e999", "nan", "2.345"}}});
    EXPECT_EQ(h.toJson("k"),
              "{\"t\":[1],\"txPower\":[null],\"rxPower\":[-327.67],\"voltage\":[null],\"bias\":[null],"
              "\"temperature\":[2.35]}");
}

TEST(OpticsSampler, ReadsBothModuleTables) {
    const auto s = OpticsSampler::parse(
        "[{\"qvOpticModuleOltSlotIndex\":\"3\",\"qvOpticModuleOltPonIndex\":\"2\",\"qvOpticModuleOltTxPower\":\"3.1\","
        "\"qvOpticModuleOltVcc\":\"3.3\",\"qvOpticModuleOltTxBias\":\"20\",\"qvOpticModuleOltTemperature\":\"40\"},"
        "{\"qvOpticModuleOltSlotIndex\":\"3\",\"qvOpticModuleOltPonIndex\":\"7\"}]",
        "[{\"qvOpticModuleOnuPhysicalID\":\"02:AB:4E:01:00:00\",\"qvOpticModuleOnuRxPower\":\"-18.5\"},"
        "{\"qvOpticModuleOnuPhysicalID\":\"\"}]");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.at("olt:3/1")[0], "3.1");
    EXPECT_EQ(s.at("olt:3/1")[1], "");
    EXPECT_EQ(s.at("onu:02:ab:4e:01:00:00")[1], "-18.5");
    EXPECT_TRUE(OpticsSampler::parse("not json", "{}").empty());
}

struct ChangeCase {
    const char* name;
    const char* table;  // "olttable", "onutable" or "settings"
    const char* json;
    const char* data;  // accepted change as passed on, or "" when refused
    const char* errorKey;
};

TEST(Validation, ChangesAreCheckedPerMember) {
    const ChangeCase cases[] = {
        {"onu name and vlan", "onutable", R"({"qvCfgONUName":"flat <12>","qvCfgONUVlanId":100})",
         R"({"qvCfgONUName":"flat \u003c12\u003e","qvCfgONUVlanId":"100"})", ""},
        {"vlan none", "onutable", R"({"qvCfgONUVlanId":""})", R"({"qvCfgONUVlanId":""})", ""},
        {"vlan too big", "onutable", R"({"qvCfgONUVlanId":"4095"})", "", "qvCfgONUVlanId"},
        {"vlan not a number", "onutable", R"({"qvCfgONUVlanId":"1e2"})", "", "qvCfgONUVlanId"},
        {"flag", "onutable", R"({"qvCfgONUEnabled":"yes"})", "", "qvCfgONUEnabled"},
        {"control character", "onutable", "{\"qvCfgONUName\":\"a\\nb\"}", "", "qvCfgONUName"},
        {"status is not editable", "onutable", R"({"qvCfgONULinkStatus":"1"})", "", "qvCfgONULinkStatus"},
        {"object member", "onutable", R"({"qvCfgONUName":{}})", "", "qvCfgONUName"},
        {"olt address", "olttable", R"({"qvCfgOLTIpAddress":"192.168.1.300"})", "", "qvCfgOLTIpAddress"},
        {"olt vlan", "olttable", R"({"qvCfgOLTPON1VlanId":"12","qvCfgOLTPON1DisUntagged":"1"})",
         R"({"qvCfgOLTPON1VlanId":"12","qvCfgOLTPON1DisUntagged":"1"})", ""},
        {"onu-to-onu on is 2", "olttable", R"({"qvCfgOLTOnu2Onu":"2"})", R"({"qvCfgOLTOnu2Onu":"2"})", ""},
        {"onu-to-onu other", "olttable", R"({"qvCfgOLTOnu2Onu":"yes"})", "", "qvCfgOLTOnu2Onu"},
        {"mtu is read-only", "olttable", R"({"qvCfgOLTMtu":"9000"})", "", "qvCfgOLTMtu"},
        {"time zone", "settings", R"({"timezone":"-3","webPort":"8080"})", R"({"timezone":"-3","webPort":"8080"})", ""},
        {"time zone range", "settings", R"({"timezone":"15"})", "", "timezone"},
        {"port zero", "settings", R"({"webPort":"0"})", "", "webPort"},
        {"mask may be zero", "settings", R"({"mgntIpMask":"0.0.0.0"})", R"({"mgntIpMask":"0.0.0.0"})", ""},
        {"address may not", "settings", R"({"mgntIpAddr":"0.0.0.0"})", "", "mgntIpAddr"},
        {"interface into a shell", "settings", R"({"mgntIface":"eth0;reboot"})", "", "mgntIface"},
        {"actions have routes", "settings", R"({"reboot":"1"})", "", "reboot"},
        {"not an object", "settings", "[1]", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cJSON* json = cJSON_Parse(c.json);
        ASSERT_NE(json, nullptr);
        const auto r = std::string(c.table) == "settings" ? validation::checkSettingsChange(json)
                                                          : validation::checkRowChange(c.table, json);
        cJSON_Delete(json);
        if (*c.data) {
            EXPECT_TRUE(r.errors.empty()) << r.joinedErrors();
            EXPECT_EQ(r.data, c.data);
        } else {
            EXPECT_EQ(r.errors.count(c.errorKey), 1u) << r.joinedErrors();
        }
    }
}

TEST(Validation, ActionsNeedASlotAndTheOnuActionsAMac) {
    auto check = [](const std::string& action, const char* json) {
        cJSON* j = cJSON_Parse(json);
        auto r = validation::checkActionData(action, j);
        cJSON_Delete(j);
        return r;
    };
    EXPECT_EQ(check("/slot/reset", R"({"slot_id":"8","mac_address":"x"})").data, R"({"slot_id":"8"})");
    EXPECT_EQ(check("/slot/reset", R"({"slot_id":3})").data, R"({"slot_id":"3"})");
    EXPECT_EQ(check("/slot/reset", R"({"slot_id":"9"})").errors.count("slot_id"), 1u);
    EXPECT_EQ(check("/slot/reset", R"({})").errors.count("slot_id"), 1u);
    EXPECT_EQ(
        check("/slot/onu/remove", R"({"slot_id":"1","mac_address":"02:4f:4e:01:00:0g"})").errors.count("mac_address"),
        1u);
    EXPECT_EQ(check("/slot/onu/remove", R"({"slot_id":"1","mac_address":"02:4F:4e:01:00:00"})").data,
              R"({"slot_id":"1","mac_address":"02:4F:4e:01:00:00"})");
}

TEST(Options, ParsesAndRefuses) {
    auto o = Options::parse({"--listen", "0.0.0.0", "--port", "8080", "--idle-minutes", "5"});
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.listen, "0.0.0.0");
    EXPECT_EQ(o.port, 8080);
    EXPECT_EQ(o.idleMinutes, 5);
    EXPECT_EQ(Options::parse({}).port, -1);  // from Halvorn's setting
    EXPECT_EQ(Options::parse({"--port", "0"}).port, 0);
    EXPECT_NE(Options::parse({"--port", "65536"}).error, "");
    EXPECT_NE(Options::parse({"--port"}).error, "");
    EXPECT_NE(Options::parse({"--bogus", "1"}).error, "");
    EXPECT_TRUE(Options::parse({"--help"}).help);
}
