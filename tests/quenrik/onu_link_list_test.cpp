// The list of ONU links of one slot.
#include <gtest/gtest.h>

#include "JsonHelper.h"
#include "OnuLink.h"
#include "OnuLinkList.h"

TEST(OnuLinkList, OneLinkPerMacInInsertionOrder) {
    OnuLinkList list;
    EXPECT_TRUE(list.addOnuLink("02:4f:4e:01:00:00"));
    EXPECT_TRUE(list.addOnuLink("02:4f:4e:01:00:01"));
    EXPECT_FALSE(list.addOnuLink("02:4f:4e:01:00:00"));
    // Compared exactly as stored: another spelling of the same address is another text.
    EXPECT_TRUE(list.addOnuLink("02:4F:4E:01:00:00"));
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ("02:4f:4e:01:00:01", list.getOnuLinkFromIndex(1)->getMacAddress());
    EXPECT_EQ(list.getOnuLinkFromIndex(0), list.getOnuLinkFromMAC("02:4f:4e:01:00:00"));
    EXPECT_EQ(nullptr, list.getOnuLinkFromMAC("02:4f:4e:01:00:09"));
    EXPECT_EQ(nullptr, list.getOnuLinkFromIndex(3));

    // Removing shifts the later links down; an index equal to the size changes nothing.
    EXPECT_FALSE(list.removeOnuFromIndex(3));
    EXPECT_TRUE(list.removeOnuFromIndex(0));
    EXPECT_EQ("02:4f:4e:01:00:01", list.getOnuLinkFromIndex(0)->getMacAddress());
    EXPECT_TRUE(list.removeOnuFromMacAddress("02:4F:4E:01:00:00"));
    EXPECT_FALSE(list.removeOnuFromMacAddress("02:4F:4E:01:00:00"));
    EXPECT_EQ(1u, list.size());
    list.clear();
    EXPECT_EQ(0u, list.size());
}

TEST(OnuLinkList, DumpsAsAnObjectWithTheList) {
    OnuLinkList list;
    EXPECT_EQ(R"({"onulist":[]})", list.getJsonData());
    list.addOnuLink("02:4f:4e:01:00:00");
    list.getOnuLinkFromIndex(0)->setPonPort("1");
    JsonPtr dump(cJSON_Parse(list.getJsonData().c_str()));
    const cJSON* links = cJSON_GetObjectItemCaseSensitive(dump.get(), "onulist");
    ASSERT_EQ(1, cJSON_GetArraySize(links));
    const cJSON* link = cJSON_GetArrayItem(links, 0);
    EXPECT_STREQ("02:4f:4e:01:00:00", cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(link, "mac_address")));
    EXPECT_STREQ("1", cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(link, "pon_port")));
}
