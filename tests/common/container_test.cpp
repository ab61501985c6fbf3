#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Container.h"
#include "Exception.h"
#include "JsonHelper.h"

namespace {

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

std::string compact(const Container& c) { return c.getJsonData(true, nullptr, 0); }

// A child whose update fails, to show how the parent reports failures of its children.
class FailingChild : public Container {
public:
    explicit FailingChild(bool standardError) : standardError_(standardError) {}
    bool setcJsonData(cJSON*, bool) override {
        if (standardError_) throw std::runtime_error("boom");
        throw Exception("boom", "child", 7);
    }
    std::string getJsonData(bool, const std::string*, size_t) const override {
        throw Exception("cannot print", "child", 8);
    }

private:
    bool standardError_;
};

// A record with one declared value and one list of two children.
struct Record : Container {
    Record() {
        setNewValue("name", "a");
        for (const char* port : {"p0", "p1"}) {
            auto* child = new Container();
            child->setNewValue("port", port);
            addItemToList("ports", child);
        }
        clearHasModified();
    }
};

TEST(Container, PrintsValuesInKeyOrderThenLists) {
    Container c;
    EXPECT_EQ(compact(c), R"({"id":"0"})");
    c.setNewValue("name", "x");
    c.addItemToList("ports", new Container());
    c.addItemToList("empty", nullptr);
    EXPECT_EQ(compact(c), R"({"id":"0","name":"x","empty":[],"ports":[{"id":"0"}]})");
    EXPECT_EQ(c.getJsonData(false, nullptr, 0),
              "{\n\t\"id\":\t\"0\",\n\t\"name\":\t\"x\",\n\t\"empty\":\t[],\n\t\"ports\":\t[{\n\t\t\t\"id\":"
              "\t\"0\"\n\t\t}]\n}");
    const std::string keys[] = {"name", "id"};
    EXPECT_EQ(c.getJsonData(true, keys, 2), R"({"name":"x","id":"0","empty":[],"ports":[{"id":"0"}]})");
    EXPECT_FALSE(c.getHasModified());
}

TEST(Container, UpdateTakesOnlyDeclaredStringValues) {
    struct Case {
        const char* name;
        const char* json;
        bool allowId;
        bool result;
        bool modified;
        const char* printed;
    };
    const char* untouched = R"({"id":"0","name":"a","ports":[{"id":"0","port":"p0"},{"id":"0","port":"p1"}]})";
    const Case cases[] = {
        {"changed value", R"({"name":"b"})", false, true, true,
         R"({"id":"0","name":"b","ports":[{"id":"0","port":"p0"},{"id":"0","port":"p1"}]})"},
        {"equal value counts but is no change", R"({"name":"a"})", false, true, false, untouched},
        {"id without allowId", R"({"id":"7"})", false, false, false, untouched},
        {"id with allowId", R"({"id":"7"})", true, true, true,
         R"({"id":"7","name":"a","ports":[{"id":"0","port":"p0"},{"id":"0","port":"p1"}]})"},
        {"number for a declared key", R"({"name":5})", false, false, false, untouched},
        {"null, bool and object ignored", R"({"name":null,"id":true,"x":{"name":"b"}})", true, false, false, untouched},
        {"undeclared key", R"({"speed":"10"})", false, false, false, untouched},
        {"string for a list key", R"({"ports":"x"})", false, false, false, untouched},
        {"not an object", R"(["name","b"])", false, false, false, untouched},
        {"children by position, extra elements ignored", R"({"ports":[{"port":"q0"},{"port":"q1"},{"port":"q2"}]})",
         false, false, false, R"({"id":"0","name":"a","ports":[{"id":"0","port":"q0"},{"id":"0","port":"q1"}]})"},
        {"short array leaves later children alone", R"({"ports":[{"port":"q0","id":"5"}]})", false, false, false,
         R"({"id":"0","name":"a","ports":[{"id":"0","port":"q0"},{"id":"0","port":"p1"}]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Record r;
        EXPECT_EQ(r.setJsonData(c.json, c.allowId), c.result);
        EXPECT_EQ(r.getHasModified(), c.modified);
        EXPECT_EQ(compact(r), c.printed);
    }
    Record r;
    EXPECT_EQ(raised([&] { r.setJsonData("{name", false); }).getMessage(), "Impossible to parse json");
    EXPECT_FALSE(r.setcJsonData(nullptr, false));
}

TEST(Container, FailingChildIsReportedAfterEarlierMembersApplied) {
    struct Case {
        const char* name;
        bool standardError;
        const char* message;
    };
    const Case cases[] = {
        {"inner Exception keeps its full text", false, "child[7]: boom"},
        {"other failures are named", true, "Unknown Error at Container::setcJsonData"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Container r;
        r.setNewValue("a", "0");
        r.setNewValue("z", "0");
        r.addItemToList("list", new FailingChild(c.standardError));
        testing::internal::CaptureStdout();
        const Exception e = raised([&] { r.setJsonData(R"({"a":"1","list":[{}],"z":"1"})", false); });
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(e.getMessage(), c.message);
        EXPECT_EQ(std::string(e.what()).rfind("setcJsonData[", 0), 0u);
        EXPECT_EQ(out, c.standardError ? "Unknown Error at setcJsonData\n" : "");
        // Members before the failure stay applied, later ones are not; the lock is free again.
        EXPECT_EQ(r.getValue("a"), "1");
        EXPECT_EQ(r.getValue("z"), "0");
        r.setValue("z", "2", true);
        EXPECT_EQ(r.getValue("z"), "2");
    }
}

TEST(Container, ListThatCannotPrintIsLeftOut) {
    Container r;
    r.addItemToList("bad", new FailingChild(false));
    r.addItemToList("good", new Container());
    EXPECT_EQ(compact(r), R"({"id":"0","good":[{"id":"0"}]})");
}

TEST(Container, SetValueMarksOnlyRealChanges) {
    Container c;
    c.setNewValue("speed", "10");
    c.setValue("speed", "10", true);
    EXPECT_FALSE(c.getHasModified());
    c.setValue("unknown", "1", false);
    EXPECT_FALSE(c.getHasModified());
    EXPECT_FALSE(c.hasKey("unknown"));
    c.setValue("speed", "100", true);
    EXPECT_TRUE(c.getHasModified());
    EXPECT_TRUE(c.getHasJsonFileModified());
    c.clearHasJsonFileModified();
    EXPECT_FALSE(c.getHasModified());
}

TEST(Container, Errors) {
    Container c;
    c.setNewValue("name", "x");
    c.addItemToList("ports", new Container());
    struct Case {
        const char* name;
        std::function<void()> call;
        const char* message;
        const char* origin;
    };
    const std::string missing[] = {"name", "speed"};
    const Case cases[] = {
        {"getValue", [&] { c.getValue("speed"); }, "Key 'speed' not found", "getValue["},
        {"setValue mustExist", [&] { c.setValue("speed", "1", true); }, "Key 'speed' not found", "setValue["},
        {"getList", [&] { c.getList("name"); }, "Key 'name' not found", "getList["},
        {"value over a list", [&] { c.setNewValue("ports", "1"); }, "Can't convert list 'ports' to a object",
         "setNewValue["},
        {"list over a value", [&] { c.addItemToList("name", nullptr); }, "Can't convert object 'name' to a list",
         "addItemToList["},
        {"clearList over a value", [&] { c.clearList("name"); }, "Can't convert object 'name' to a list", "clearList["},
        {"missing key in a key list", [&] { c.getJsonData(true, missing, 2); }, "Key 'speed' not found", "getValue["},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        const Exception e = raised(k.call);
        EXPECT_EQ(e.getMessage(), k.message);
        EXPECT_EQ(std::string(e.what()).rfind(k.origin, 0), 0u);
    }
    // The failed print released its read lock: a write in the same thread would hang otherwise.
    c.setValue("name", "y", true);
    EXPECT_EQ(compact(c), R"({"id":"0","name":"y","ports":[{"id":"0"}]})");
}

TEST(Container, ListsOwnershipAndClear) {
    Record r;
    EXPECT_EQ(r.getListSize("ports"), 2u);
    EXPECT_EQ(r.getListSize("none"), 0u);
    EXPECT_EQ(r.takeItemFromList("ports", 2), nullptr);
    EXPECT_EQ(r.takeItemFromList("none", 0), nullptr);
    EXPECT_EQ(r.getListSize("ports"), 2u);

    Container* taken = r.takeItemFromList("ports", 0);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->getValue("port"), "p0");
    delete taken;  // ours now
    EXPECT_EQ(r.getList("ports").size(), 1u);

    r.clearList("new");
    EXPECT_TRUE(r.hasList("new"));
    r.clearList("ports");
    EXPECT_EQ(compact(r), R"({"id":"0","name":"a","new":[],"ports":[]})");

    r.addItemToList("ports", new Container());
    r.setValue("name", "b", true);
    r.clear();
    EXPECT_TRUE(r.getHasModified());  // clear keeps the flag
    EXPECT_FALSE(r.hasList("ports"));
    EXPECT_FALSE(r.hasKey("name"));
    EXPECT_EQ(compact(r), R"({"id":"0"})");
    EXPECT_FALSE(r.setJsonData(R"({"ports":[{"id":"1"}],"name":"c"})", true));
    EXPECT_EQ(compact(r), R"({"id":"0"})");
}

TEST(Container, IdReadsCBasePrefixes) {
    struct Case {
        const char* text;
        uint64_t id;
    };
    const Case cases[] = {{"0", 0},        {"42", 42}, {"010", 8}, {"0x10", 16},
                          {"  12abc", 12}, {"abc", 0}, {"", 0},    {"18446744073709551615", UINT64_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Container r;
        r.setNewValue("id", c.text);
        EXPECT_EQ(r.getId(), c.id);
    }
    Container r;
    r.setId(123);
    EXPECT_EQ(r.getValue("id"), "123");
    EXPECT_TRUE(r.getHasModified());
}

TEST(Container, ConcurrentReadersAndWritersShareOneRecord) {
    Record r;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&r, t] {
            for (int i = 0; i < 200; ++i) {
                r.setValue("name", std::to_string(t * 1000 + i), true);
                r.setJsonData(R"({"ports":[{"port":"w"}]})", false);
            }
        });
        threads.emplace_back([&r] {
            for (int i = 0; i < 200; ++i) {
                JsonPtr json(JsonHelper::parseJObject(r.getJsonData(true, nullptr, 0)));
                EXPECT_TRUE(cJSON_IsObject(json.get()));
                (void)r.getValue("name");
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(r.getList("ports")[0]->getValue("port"), "w");
}

}  // namespace
