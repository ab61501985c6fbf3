// The request batch: Ctag numbering across the 16-bit wrap, ownership and order of the batch.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "Exception.h"
#include "RequestMessage.h"

namespace {

// The counter is driven the real way, request by request, so the wrap is the one a slot
// meets after 65535 requests rather than a counter poked into place.
TEST(RequestBatch, CtagSequenceAcrossTwoWraps) {
    const std::map<unsigned, uint16_t> expected = {
        {1, 1},          {2, 2},      {65535, 65535},
        {65536, 0},      {65537, 2},  // the counter skipped 0, so Ctag 1 is not reused right after the wrap
        {131070, 65535}, {131071, 0}, {131072, 2},
    };
    RequestMessage request;
    std::map<unsigned, uint16_t> seen;
    unsigned zeros = 0;
    for (unsigned n = 1; n <= 131072; ++n) {
        const uint16_t ctag = request.getNewMessage(0x0007, nullptr, 0)->getCtag();
        if (expected.count(n)) seen[n] = ctag;
        if (ctag == 0) ++zeros;
        ASSERT_NE(request.getCtagCounter(), 0) << "counter rests at 0 after request " << n;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(zeros, 2u);
}

TEST(RequestBatch, CounterSurvivesClearAndBuildersShareIt) {
    RequestMessage request;
    request.addEnableOLT();
    request.addGetOLTInformation();
    request.clear();
    EXPECT_TRUE(request.getAll().empty());
    request.addDisableOLT();
    ASSERT_EQ(request.getAll().size(), 1u);
    EXPECT_EQ(request.getAll()[0]->getCtag(), 3);
}

TEST(RequestBatch, GetNewMessageDoesNotAppendAndAddMessageKeepsOrder) {
    RequestMessage request;
    auto first = request.getNewMessage(0x0179, nullptr, 0);
    const uint8_t payload[] = {0x20, 0x0a};
    auto second = request.getNewMessage(0x017A, payload, sizeof payload);
    EXPECT_TRUE(request.getAll().empty());
    request.addMessage(std::move(second));
    request.addMessage(std::move(first));
    const auto& all = request.getAll();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]->getId(), 0x017A);
    EXPECT_EQ(all[0]->getCtag(), 2);
    EXPECT_EQ(all[0]->getSize(), 8);
    EXPECT_EQ(all[1]->getId(), 0x0179);
    EXPECT_EQ(all[1]->getCtag(), 1);
    EXPECT_EQ(all[1]->getSize(), 6);
}

// A payload that cannot fit a 16-bit frame size is refused, and the refused request does not
// use up a Ctag.
TEST(RequestBatch, OversizedRequestIsRefused) {
    RequestMessage request;
    const std::vector<uint8_t> big(65530, 0xAA);
    try {
        request.getNewMessage(0x0206, big.data(), static_cast<uint16_t>(big.size()));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Impossible to get a new TKMessage");
        EXPECT_EQ(std::string(e.what()).rfind("getNewMessage[", 0), 0u) << e.what();
    }
    EXPECT_EQ(request.getCtagCounter(), 0);
    // The largest payload that fits still goes out whole.
    auto largest = request.getNewMessage(0x0206, big.data(), 65529);
    EXPECT_EQ(largest->getSize(), 65535);
    EXPECT_EQ(largest->getLength(), 65529);
    EXPECT_EQ(largest->getCtag(), 1);
}

}  // namespace
