#include "zubmainframe.h"

#include <gtest/gtest.h>

TEST(ZubMainFrame, TitleShowsTheFileNameBeforeTheProgram)
{
    EXPECT_EQ(ZubMainFrameTitle(""), "Zub");
    EXPECT_EQ(ZubMainFrameTitle("jupiter.ser"), "jupiter.ser - Zub");
    EXPECT_EQ(ZubMainFrameTitle("/data/2019/jupiter.ser"), "jupiter.ser - Zub");
    EXPECT_EQ(ZubMainFrameTitle("/data/"), "Zub");
}

TEST(ZubMainFrame, RecentEntriesAreNumberedAndKeepTheirAmpersands)
{
    EXPECT_EQ(ZubRecentFileMenuText(0, "/v/a.ser"), "&1 /v/a.ser");
    EXPECT_EQ(ZubRecentFileMenuText(3, "/v/Io & Europa.avi"), "&4 /v/Io && Europa.avi");
}

TEST(ZubMainFrame, OnlyALowerCaseSerExtensionIsASerFile)
{
    EXPECT_TRUE(ZubHasSerExtension("jupiter.ser"));
    EXPECT_TRUE(ZubHasSerExtension("/a.b/jupiter.ser"));
    EXPECT_FALSE(ZubHasSerExtension("jupiter.SER"));
    EXPECT_FALSE(ZubHasSerExtension("jupiterser"));
    EXPECT_FALSE(ZubHasSerExtension("jupiter.ser.avi"));
    EXPECT_FALSE(ZubHasSerExtension("/v.ser/jupiter"));
}
