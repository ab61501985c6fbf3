// The client's reader of response texts against the envelope's parser.

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "APIData.h"
#include "ApiClient.h"
#include "Exception.h"

TEST(ApiClientReader, AgreesWithTheEnvelope) {
    // The client's quick reading of large responses must give exactly what the envelope
    // parser gives, or the same failure.
    const char* texts[] = {
        R"({"data":[{"a":"1","b":""},{"a":"2","b":"x y"}],"err":""})",
        R"({"data":{},"err":""})",
        R"({"data":[],"err":""})",
        R"({"data":"text","err":""})",
        R"({"data": [ {"a":"1"} ],"err":""})",
        R"({"data":[{"n":1.50},{"e":1e2}],"err":""})",
        R"({"data":[{"s":"a\/b\u00e9\n"}],"err":""})",
        R"({"data":[true,false,null],"err":""})",
        R"({"err":"Object name '/x' not found"})",
        R"({"data":[],"err":"late"})",
        R"({"data":[],"err":""}trailing)",
        R"({"data":[1,],"err":""})",
        R"({"data":["unterminated],"err":""})",
        R"({"data":[],"other":"1","err":""})",
        R"({"data":{"a":"1"}})",
        R"({"data":[[],{},[{}],{"a":[]}],"err":""})",
        R"({"data":{"a":{"b":["c",true,null,false]},"d":""},"err":""})",
        R"({"data":[{"a":"1"}{"b":"2"}],"err":""})",
        R"({"data":[{"a":"1",}],"err":""})",
        R"({"data":{"a"},"err":""})",
        R"({"data":[tru],"err":""})",
        R"({"data":{"a":"1","a":"2"},"err":""})",
        R"({"data":["\"quoted\""],"err":""})",
        "{\"data\":[\"tab\there\"],\"err\":\"\"}",
        "{\"data\":[\"bytes \xc3\xa9 \x7f\"],\"err\":\"\"}",
        "not json",
        "",
    };
    std::string deep = "{\"data\":";
    for (int i = 0; i < 600; ++i) deep += "[";
    for (int i = 0; i < 600; ++i) deep += "]";
    deep += ",\"err\":\"\"}";
    std::vector<std::string> all(std::begin(texts), std::end(texts));
    all.push_back(deep);
    for (const std::string& text : all) {
        SCOPED_TRACE(text.substr(0, 80));
        std::string expectErr, expectData, expectThrow, gotThrow;
        try {
            APIData reference;
            reference.parseResponse(text.data(), static_cast<int>(text.size()));
            expectErr = reference.getError();
            expectData = reference.getJsonData();
        } catch (const Exception& e) {
            expectThrow = e.getMessage();
        }
        // Both readings: of a text kept by the caller, and of one handed over.
        for (bool handedOver : {false, true}) {
            SCOPED_TRACE(handedOver ? "handed over" : "kept");
            gotThrow.clear();
            try {
                auto got =
                    handedOver ? ApiClient::parseResponseText(std::string(text)) : ApiClient::parseResponseText(text);
                EXPECT_EQ(got.err, expectErr);
                EXPECT_EQ(got.data, expectData);
            } catch (const Exception& e) {
                gotThrow = e.getMessage();
            }
            EXPECT_EQ(gotThrow, expectThrow);
        }
    }
}
