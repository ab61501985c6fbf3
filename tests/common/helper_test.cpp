#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "APIData.h"
#include "Exception.h"
#include "Helper.h"
#include "PMTask.h"
#include "Paths.h"

namespace {

bool isLowerHex(const std::string& text) { return text.find_first_not_of("0123456789abcdef") == std::string::npos; }

TEST(Helper, UriParse) {
    struct Case {
        const char* uri;
        const char* base;
        uint64_t index;
    };
    const Case cases[] = {
        {"/onutable/12", "/onutable", 12},
        {"/onutable", "/onutable", 0},
        {"/slot/onu/enable", "/slot/onu/enable", 0},
        {"/onutable/", "/onutable/", 0},
        {"/onutable/7x", "/onutable", 7},
        {"/onutable/ 5", "/onutable", 5},
        {"/onutable/\r\n\v\f\t6", "/onutable", 6},  // every white space character is skipped
        {"/onutable/-5", "/onutable/-5", 0},        // no sign: a negative index would wrap
        {"/onutable/18446744073709551615", "/onutable", UINT64_MAX},
        {"/onutable/18446744073709551616", "/onutable/18446744073709551616", 0},
        {"onutable", "onutable", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        std::string base = "stale";
        uint64_t index = 99;
        Helper::uriParse(c.uri, base, index);
        EXPECT_EQ(base, c.base);
        EXPECT_EQ(index, c.index);
    }
}

TEST(Helper, HttpRequestToAction) {
    for (const char* set : {"POST", "post", "PoSt"}) EXPECT_EQ(Helper::httpRequestToAction(set), "set") << set;
    for (const char* get : {"GET", "PUT", "", "POSTX", "POS"})
        EXPECT_EQ(Helper::httpRequestToAction(get), "get") << get;
}

TEST(Helper, ReplaceAllAndTrim) {
    struct Replace {
        const char* text;
        const char* search;
        const char* with;
        const char* expected;
    };
    const Replace replaces[] = {
        {"00:11:22:33:44:55", ":", "", "001122334455"},
        {"aaa", "a", "aa", "aaaaaa"},  // inserted text is not scanned again
        {"abc", "", "x", "abc"},
        {"abc", "d", "x", "abc"},
        {"a-b-c", "-", "--", "a--b--c"},
    };
    for (const auto& c : replaces) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Helper::replaceAll(c.text, c.search, c.with), c.expected);
    }
    struct Trim {
        const char* text;
        const char* expected;
    };
    for (const auto& c : {Trim{" \t\r\n x y \v\f", "x y"}, Trim{"   ", ""}, Trim{"", ""}, Trim{"x", "x"}}) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        Helper::trim(text);
        EXPECT_EQ(text, c.expected);
    }
}

TEST(Helper, AddHourToDateTimeMovesTheWholeDate) {
    struct Case {
        const char* name;
        const char* text;
        int hours;
        const char* expected;
    };
    const Case cases[] = {
        {"same day", "07/12/2026 10:30:00", 3, "07/12/2026 13:30:00"},
        {"next day", "07/12/2026 23:30:00", 3, "08/12/2026 02:30:00"},
        {"previous day", "07/12/2026 01:30:00", -2, "06/12/2026 23:30:00"},
        {"month end forward", "31/01/2027 23:00:00", 2, "01/02/2027 01:00:00"},
        {"month end backward", "01/03/2027 00:15:00", -1, "28/02/2027 23:15:00"},
        {"leap day", "28/02/2028 23:00:00", 1, "29/02/2028 00:00:00"},
        {"year end forward", "31/12/2026 22:00:05", 5, "01/01/2027 03:00:05"},
        {"year end backward", "01/01/2027 01:30:00", -2, "31/12/2026 23:30:00"},
        {"compact form", "07122026233000", 3, "08122026023000"},
        {"compact year end", "01012027013000", -2, "31122026233000"},
        {"zero shift", "07/12/2026 23:30:00", 0, "07/12/2026 23:30:00"},
        {"empty text", "", 3, ""},
        {"not measured", "-", 3, "-"},
        {"date only", "07/12/2026", 3, "07/12/2026"},
        {"trailing text", "07/12/2026 23:30:00 UTC", 3, "07/12/2026 23:30:00 UTC"},
        {"impossible date", "31/02/2026 10:00:00", 1, "31/02/2026 10:00:00"},
        {"words", "yesterday", 3, "yesterday"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Helper::addHourToDateTime(c.text, c.hours), c.expected);
    }
}

TEST(Helper, DateTimeTexts) {
    EXPECT_EQ(Helper::formatDateTime(0, false), "01/01/1970 00:00:00");
    EXPECT_EQ(Helper::formatDateTime(1796679000, false), "07/12/2026 21:30:00");
    EXPECT_EQ(Helper::formatDateTime(1796679000, true), "07122026213000");
    const std::string now = Helper::getCurrentDateTime(true);
    EXPECT_EQ(now.size(), 14u);
    EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(Helper::getCurrentDateTime(false).size(), 19u);
}

TEST(Helper, NumberTexts) {
    struct Valid {
        const char* text;
        int number;
    };
    const Valid valid[] = {{" 42x", 42},
                           {"x", -1},
                           {"", -1},
                           {"-17", -17},
                           {"+5", 5},
                           {"2147483647", 2147483647},
                           {"2147483648", -1},
                           {"-2147483648", -2147483647 - 1},
                           {"-2147483649", -1},
                           {"99999999999999999999", -1}};
    for (const auto& c : valid) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Helper::getValidNumber(c.text), c.number);
    }
    struct Number {
        double value;
        const char* text;
    };
    for (const auto& c : {Number{3.14159, "3.14"}, Number{123456.789, "123456.79"}, Number{12345678.9, "12345678."},
                          Number{-0.005, "-0.01"}, Number{0, "0.00"}, Number{1e300, "100000000"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Helper::toStringNumber(c.value), c.text);
    }
    struct Hex {
        uint32_t value;
        uint8_t width;
        const char* text;
    };
    for (const auto& c : {Hex{6676, 4, "1A14"}, Hex{10, 0, "A"}, Hex{5, 2, "05"}, Hex{0xABCDE, 4, "ABCDE"},
                          Hex{0, 0, "0"}, Hex{0xFFFFFFFF, 8, "FFFFFFFF"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Helper::toStringHex(c.value, c.width), c.text);
    }
    EXPECT_EQ(Helper::toStringHex(1, 255).size(), 255u);
}

TEST(Helper, Digests) {
    EXPECT_EQ(Helper::getStringHash("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Helper::getStringHash(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Helper::getStringHash(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");

    // Stored administrator hashes depend on the framing: this value must never change.
    const std::string hash = Helper::getPasswordHash("mzpw");
    EXPECT_EQ(hash.size(), 64u);
    EXPECT_TRUE(isLowerHex(hash));
    EXPECT_EQ(hash, Helper::getPasswordHash("mzpw"));
    EXPECT_EQ(hash, "de269a183544b1a58225431dc73a2549df8c6c774c8b35d0faaace8980611a1e");
    EXPECT_NE(hash, Helper::getPasswordHash("mzpW"));
    EXPECT_NE(hash.substr(0, 32), hash.substr(32));
}

TEST(Helper, RandomTokens) {
    for (uint64_t length : {0u, 32u, 40u, 100u}) {
        SCOPED_TRACE(length);
        const std::string token = Helper::getRandomToken(length);
        EXPECT_EQ(token.size(), length);
        EXPECT_TRUE(isLowerHex(token));
    }
    // A token is a prefix of a longer one from the same seed: digests appended, then cut.
    const std::string long40 = Helper::getRandomToken(40, 1234);
    EXPECT_EQ(long40.substr(0, 32), Helper::getRandomToken(32, 1234));
    EXPECT_NE(long40.substr(0, 32), Helper::getRandomToken(32, 1235));

    // Concurrent callers never mix their draws from the shared generator.
    const std::string expected = Helper::getRandomToken(100, 77);
    std::vector<std::thread> threads;
    std::vector<std::string> got(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&got, t] {
            for (int i = 0; i < 50; ++i) {
                const std::string token = Helper::getRandomToken(100, 77);
                if (token != got[t]) got[t] = token;
            }
        });
    for (auto& t : threads) t.join();
    for (const auto& token : got) EXPECT_EQ(token, expected);
}

TEST(Helper, AllContentOfAFile) {
    char dir[] = "/tmp/ponmc-helper-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    setenv("PONMC_ROOT", dir, 1);
    const std::string path = Paths::resolve("/content.txt");
    const std::string content("line 1\nline\0 2\n", 15);
    std::ofstream(path, std::ios::binary) << content;
    EXPECT_EQ(Helper::getAllContentFile(path), content);
    EXPECT_EQ(Helper::getAllContentFile(Paths::resolve("/missing.txt")), "");
    std::remove(path.c_str());
    rmdir(dir);
    unsetenv("PONMC_ROOT");
}

// ---- PMTask ----

APIData request(const std::string& action, const std::string& data) {
    APIData sent;
    sent.createRequest(action, "/slot/onu/disable", data);
    APIData received;
    const std::string wire = sent.getJsonProtocol();
    received.parseRequest(wire.c_str(), static_cast<int>(wire.size()));
    return received;
}

TEST(PMTask, TakesDeclaredStringParameters) {
    PMTask task;
    const APIData req = request("set", R"({"slot_id":"3","vlan_id":100,"mac_address":"00:11:22:33:44:55",)"
                                       R"("colour":"red","id":"9"})");
    task.parseTask(req);
    EXPECT_EQ(task.getTask(), "/slot/onu/disable");
    EXPECT_EQ(task.getJsonProtocol(), req.getJsonProtocol());
    struct Case {
        const char* key;
        const char* value;
    };
    for (const auto& c : {Case{"slot_id", "3"}, Case{"vlan_id", ""}, Case{"mac_address", "00:11:22:33:44:55"},
                          Case{"colour", ""}, Case{"onu2onu", ""}}) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(task.getDataValue(c.key), c.value);
    }
}

TEST(PMTask, TaskWithoutDataIsRefused) {
    PMTask task;
    try {
        task.parseTask(request("get", R"({"slot_id":"3"})"));  // "get" keeps no data
        ADD_FAILURE() << "no Exception raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Data on task can't be null");
        EXPECT_EQ(std::string(e.what()).rfind("parseTask[", 0), 0u);
    }
    EXPECT_EQ(task.getTask(), "");
    EXPECT_EQ(task.getDataValue("slot_id"), "");
}

}  // namespace
