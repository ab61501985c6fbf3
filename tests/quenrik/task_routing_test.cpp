// The slot manager's routing of a received task: which slot gets it, and the exact texts of
// the refusals (an operator reads them in the daemon's output).
#include <gtest/gtest.h>

#include <stdexcept>

#include "APIData.h"
#include "Manager.h"

namespace {

struct Routed {
    std::string printed;
    std::vector<size_t> queued;  // tasks waiting in each slot
};

Routed route(const std::string& text) {
    Manager manager;  // slots never started: a routed task waits in its slot's queue
    APIData request;
    request.parseRequest(text.data(), static_cast<int>(text.size()));
    testing::internal::CaptureStdout();
    manager.handlerApiRequest(&request);
    Routed r{testing::internal::GetCapturedStdout(), {}};
    for (size_t i = 0; i < Manager::kSlots; ++i)
        r.queued.push_back(manager.getSlotForTest(i).getTaskQueueSizeForTest());
    return r;
}

std::vector<size_t> onlySlot(int slot) {
    std::vector<size_t> q(Manager::kSlots, 0);
    if (slot > 0) q[static_cast<size_t>(slot - 1)] = 1;
    return q;
}

}  // namespace

TEST(TaskRouting, EachTaskGoesToTheSlotItNamesOrIsRefusedWithItsText) {
    struct Case {
        const char* name;
        std::string data;
        std::string uri;
        int slot;             // 0: refused
        std::string message;  // the refusal's text
    };
    const Case cases[] = {
        {"slot 1", R"({"slot_id":"1"})", "/slot/reset", 1, ""},
        {"slot 8", R"({"slot_id":"8"})", "/olt/vlan", 8, ""},
        {"unknown task, valid slot", R"({"slot_id":"3"})", "/slot/frobnicate", 3, ""},
        {"leading digits", R"({"slot_id":"2x"})", "/slot/enable", 2, ""},
        {"ONU task with MAC", R"({"slot_id":"4","mac_address":"02:4f:4e:04:00:00"})", "/slot/onu/reset", 4, ""},
        {"slot 9", R"({"slot_id":"9"})", "/slot/enable", 0, "Slot ID(9) is out of range"},
        {"slot 0", R"({"slot_id":"0"})", "/slot/enable", 0, "Slot ID(0) is out of range"},
        {"slot -1", R"({"slot_id":"-1"})", "/slot/enable", 0, "Slot ID(-1) is out of range"},
        {"huge slot", R"({"slot_id":"4294967297"})", "/slot/enable", 0, "Slot ID(4294967297) is out of range"},
        {"ONU task without MAC", R"({"slot_id":"1"})", "/slot/onu/disable", 0,
         "MAC Address not set for task /slot/onu"},
        {"ONU task, empty MAC", R"({"slot_id":"1","mac_address":""})", "/slot/onu/set/vlanid", 0,
         "MAC Address not set for task /slot/onu"},
        {"MAC as a number is not taken", R"({"slot_id":"1","mac_address":5})", "/slot/onu/remove", 0,
         "MAC Address not set for task /slot/onu"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Routed r = route(R"({"action":"set","uri":")" + c.uri + R"(","data":)" + c.data + "}");
        EXPECT_EQ(onlySlot(c.slot), r.queued);
        if (c.slot > 0) {
            EXPECT_EQ("", r.printed);
        } else {
            // "handlerApiRequest[<line>]: Exception: handlerApiRequest[<line>]: <text>"
            EXPECT_EQ(0u, r.printed.rfind("handlerApiRequest[", 0)) << r.printed;
            EXPECT_NE(std::string::npos, r.printed.find("]: Exception: handlerApiRequest[")) << r.printed;
            EXPECT_NE(std::string::npos, r.printed.find("]: " + c.message + "\n")) << r.printed;
        }
    }
}

TEST(TaskRouting, ASlotThatIsNotANumberEscapesToTheReceiver) {
    Manager manager;
    for (const char* data : {R"({})", R"({"slot_id":""})", R"({"slot_id":"one"})"}) {
        SCOPED_TRACE(data);
        APIData request;
        const std::string text = std::string(R"({"action":"set","uri":"/slot/reset","data":)") + data + "}";
        request.parseRequest(text.data(), static_cast<int>(text.size()));
        EXPECT_THROW(manager.handlerApiRequest(&request), std::invalid_argument);
        for (size_t i = 0; i < Manager::kSlots; ++i) EXPECT_EQ(0u, manager.getSlotForTest(i).getTaskQueueSizeForTest());
    }
}
