#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "APIData.h"
#include "Container.h"
#include "Exception.h"
#include "JsonHelper.h"

namespace {

// Runs fn and returns the Exception it raised; fails the test when nothing is raised.
template <typename Fn>
Exception raised(Fn fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no Exception raised";
    return Exception("", "", 0);
}

int len(const char* text) { return static_cast<int>(strlen(text)); }

TEST(Exception, TextIsOriginLineAndMessage) {
    const Exception e("Key 'speed' not found", "getValue", 42);
    EXPECT_STREQ(e.what(), "getValue[42]: Key 'speed' not found");
    EXPECT_EQ(e.getMessage(), "Key 'speed' not found");
}

TEST(APIData, CreatedTextsAreExactCompactEnvelopes) {
    struct Case {
        const char* name;
        bool request;
        const char* first;  // action, or error for a response
        const char* uri;
        const char* data;
        const char* expected;
    };
    const Case cases[] = {
        {"get request has no data member", true, "get", "/slottable", "", R"({"action":"get","uri":"/slottable"})"},
        {"set request carries its data last", true, "set", "/onutable/3", R"({ "qvCfgONUEnabled" : "0" })",
         R"({"action":"set","uri":"/onutable/3","data":{"qvCfgONUEnabled":"0"}})"},
        {"success response with an empty array", false, "", nullptr, "[]", R"({"data":[],"err":""})"},
        {"error response drops the data", false, "Key 'x' not found", nullptr, "{}", R"({"err":"Key 'x' not found"})"},
        {"success response without data", false, "", nullptr, "", R"({"err":""})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        APIData api;
        if (c.request) api.createRequest(c.first, c.uri, c.data);
        else api.createResponse(c.first, c.data);
        EXPECT_EQ(api.getJsonProtocol(), c.expected);
        // The payload is kept as given, not re-printed, also when the error dropped it.
        EXPECT_EQ(api.getJsonData(), c.data);
        EXPECT_EQ(api.getError(), "");
    }
}

TEST(APIData, CreateWithUnparsablePayloadRaisesAndLeavesFieldsCleared) {
    APIData api;
    api.createRequest("get", "/slottable", "");
    const Exception e = raised([&] { api.createRequest("set", "/onutable", "{nope"); });
    EXPECT_EQ(e.getMessage(), "Impossible to parse json");
    EXPECT_EQ(api.getJsonProtocol(), "");
    EXPECT_EQ(api.getAction(), "");
    EXPECT_EQ(raised([&] { api.createResponse("", "]"); }).getMessage(), "Impossible to parse json");
}

TEST(APIData, ParseRequestKeepsDataOnlyForSet) {
    struct Case {
        const char* name;
        const char* text;
        const char* action;
        const char* data;
        const char* protocol;
    };
    const Case cases[] = {
        {"set data printed compactly", " {\"action\" : \"set\",\n \"uri\":\"/u\", \"data\": {\"a\" : \"1\"}}", "set",
         R"({"a":"1"})", R"({"action":"set","uri":"/u","data":{"a":"1"}})"},
        {"set with array data", R"({"action":"set","uri":"/u","data":[1, 2]})", "set", "[1,2]",
         R"({"action":"set","uri":"/u","data":[1,2]})"},
        {"get ignores data", R"({"action":"get","uri":"/u","data":{"a":"1"}})", "get", "",
         R"({"action":"get","uri":"/u","data":{"a":"1"}})"},
        {"capital SET is not set", R"({"action":"SET","uri":"/u","data":{}})", "SET", "",
         R"({"action":"SET","uri":"/u","data":{}})"},
        {"text after the object is ignored", R"({"action":"get","uri":"/u"} trailing)", "get", "",
         R"({"action":"get","uri":"/u"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        APIData api;
        api.parseRequest(c.text, len(c.text));
        EXPECT_EQ(api.getAction(), c.action);
        EXPECT_EQ(api.getUri(), "/u");
        EXPECT_EQ(api.getJsonData(), c.data);
        EXPECT_EQ(api.getJsonProtocol(), c.protocol);
        EXPECT_EQ(api.getError(), "");
    }
}

TEST(APIData, BadRequestsRaiseTheClientVisibleMessage) {
    struct Case {
        const char* name;
        const char* text;
        int length;  // -1: the whole text
        const char* message;
    };
    const Case cases[] = {
        {"malformed", R"({"action":)", -1, R"(JSON not parsed: {"action":)"},
        {"empty", "", 0, "JSON not parsed: "},
        {"negative length", "{}", -3, "JSON not parsed: "},
        {"length cuts the value", R"({"action":"get","uri":"/u"})", 10, R"(JSON not parsed: {"action":)"},
        {"not an object", R"(["action","get"])", -1, "Key 'action' not found"},
        {"action is a number", R"({"action":1,"uri":"/u"})", -1, "Key 'action' not found"},
        {"action in other case", R"({"Action":"get","uri":"/u"})", -1, "Key 'action' not found"},
        {"missing uri", R"({"action":"get"})", -1, "Key 'uri' not found"},
        {"set without data", R"({"action":"set","uri":"/u"})", -1, "Key 'data' not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        APIData api;
        api.createRequest("get", "/old", "");
        const Exception e = raised([&] { api.parseRequest(c.text, c.length == -1 ? len(c.text) : c.length); });
        EXPECT_EQ(e.getMessage(), c.message);
        // Nothing of the previous message survives a failed parse.
        EXPECT_EQ(api.getJsonProtocol(), "");
        EXPECT_NE(api.getUri(), "/old");
    }
    APIData api;
    EXPECT_EQ(std::string(raised([&] { api.parseRequest("{", 1); }).what()).rfind("parseRequest[", 0), 0u);
}

TEST(APIData, ParseReadsNoFurtherThanTheLength) {
    // Exactly the bytes of the message, with no zero byte after them: a parser that looks
    // past the length reads outside the buffer (the address sanitizer build catches it).
    const std::string message = R"({"data":{"a":"1"},"err":""})";
    std::vector<char> bytes(message.begin(), message.end());
    APIData api;
    api.parseResponse(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(api.getJsonData(), R"({"a":"1"})");

    std::vector<char> cut(message.begin(), message.begin() + 9);
    const Exception e = raised([&] { api.parseResponse(cut.data(), static_cast<int>(cut.size())); });
    EXPECT_EQ(e.getMessage(), R"(JSON not parsed: {"data":{)");
    EXPECT_EQ(std::string(e.what()).rfind("parseResponse[", 0), 0u);
}

TEST(APIData, ParseResponse) {
    APIData api;
    const char* noData = R"({"err":""})";
    api.parseResponse(noData, len(noData));
    EXPECT_EQ(api.getJsonData(), "");
    EXPECT_EQ(api.getError(), "");
    EXPECT_EQ(api.getJsonProtocol(), noData);

    const char* failed = R"( {"err" : "Key 'x' not found"} )";
    api.parseResponse(failed, len(failed));
    EXPECT_EQ(api.getError(), "Key 'x' not found");
    EXPECT_EQ(api.getJsonProtocol(), R"({"err":"Key 'x' not found"})");
    EXPECT_EQ(api.getAction(), "");

    for (const char* bad : {R"({"data":[]})", R"({"err":0})", "[]"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(raised([&] { api.parseResponse(bad, len(bad)); }).getMessage(), "Key 'err' not found");
    }
}

TEST(APIData, CreatedTextParsesBackToTheSameFields) {
    APIData sent;
    sent.createRequest("set", "/slot/onu/disable", R"({"slot_id":"3","mac_address":"00:11:22:33:44:55"})");
    APIData received;
    const std::string wire = sent.getJsonProtocol();
    received.parseRequest(wire.c_str(), static_cast<int>(wire.size()));
    EXPECT_EQ(received.getAction(), "set");
    EXPECT_EQ(received.getUri(), "/slot/onu/disable");
    EXPECT_EQ(received.getJsonData(), R"({"slot_id":"3","mac_address":"00:11:22:33:44:55"})");
    EXPECT_EQ(received.getJsonProtocol(), wire);
}

// The concatenated success response must be the very bytes the parse-and-print path gives,
// for every payload the compact printer can produce.
TEST(APIData, CompactResponseEqualsTheParsedOne) {
    Container row;
    row.setNewValue("qvCfgONUName", "flat \"12\"\t\u00e9");
    const std::vector<std::string> payloads = {
        "",
        "[]",
        "{}",
        row.getJsonData(true, nullptr, 0),
        "[" + row.getJsonData(true, nullptr, 0) + "," + row.getJsonData(true, nullptr, 0) + "]",
    };
    for (const auto& payload : payloads) {
        SCOPED_TRACE(payload);
        APIData slow, fast;
        slow.createResponse("", payload);
        fast.createResponseCompact(payload);
        EXPECT_EQ(fast.getJsonProtocol(), slow.getJsonProtocol());
        EXPECT_EQ(fast.getJsonData(), slow.getJsonData());
        EXPECT_EQ(fast.getError(), "");
    }
}

TEST(APIData, CloneDumpAndClear) {
    APIData api;
    api.createResponse("bad", "{}");
    APIData* copy = api.clone();
    EXPECT_EQ(copy->dump(),
              "action: \nuri: \njsonData: {}\njsonProtocol: {\"err\":\"bad\"}\nerr: \n-----------------\n");
    api.clearAll();
    EXPECT_EQ(api.getJsonProtocol(), "");
    EXPECT_EQ(copy->getJsonProtocol(), R"({"err":"bad"})");
    delete copy;
}

TEST(JsonHelper, ParseAndPrint) {
    for (const char* bad : {"", "   ", "nope", "{\"a\":"}) {
        SCOPED_TRACE(bad);
        const Exception e = raised([&] { cJSON_Delete(JsonHelper::parseJObject(bad)); });
        EXPECT_EQ(e.getMessage(), "Impossible to parse json");
        EXPECT_EQ(std::string(e.what()).rfind("parseJObject[", 0), 0u);
    }
    // Any kind of value, leading blanks skipped, trailing text ignored.
    JsonPtr value(JsonHelper::parseJArray("  {\"a\":\"1\"} tail"));
    EXPECT_EQ(JsonHelper::toString(value.get(), true), R"({"a":"1"})");
    EXPECT_EQ(JsonHelper::toString(value.get(), false), "{\n\t\"a\":\t\"1\"\n}");
    JsonPtr number(JsonHelper::parseJObject("12"));
    EXPECT_TRUE(cJSON_IsNumber(number.get()));
    EXPECT_EQ(JsonHelper::toString(static_cast<const cJSON*>(nullptr), true), "");
}

TEST(JsonHelper, ListOfContainers) {
    EXPECT_EQ(JsonHelper::toString(std::vector<Container*>{}, true), "[]");
    Container a, b;
    b.setNewValue("name", "x");
    EXPECT_EQ(JsonHelper::toString(std::vector<Container*>{&a, &b}, false), R"([{"id":"0"},{"id":"0","name":"x"}])");
}

}  // namespace
