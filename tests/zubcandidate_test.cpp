#include "zubcandidate.h"

#include <gtest/gtest.h>

namespace
{
void ExpectAllZero(const CZubCandidate& c)
{
    EXPECT_EQ(c.m_iFrame, 0);
    EXPECT_EQ(c.m_iChannel, 0);
    EXPECT_EQ(c.m_sizeRoi, SZubSize{});
    EXPECT_EQ(c.m_ptCM, SZubPoint{});
    EXPECT_EQ(c.m_sizePlanet, SZubSize{});
    EXPECT_EQ(c.m_iKivState, 0);
    EXPECT_EQ(c.m_iZubState, 0);
    EXPECT_EQ(c.m_ptKiv, SZubPoint{});
    EXPECT_EQ(c.m_iKivValue, 0);
    EXPECT_EQ(c.m_ptZub, SZubPoint{});
    EXPECT_EQ(c.m_iZubValue, 0);
    EXPECT_EQ(c.m_iCRC, 0);
    EXPECT_EQ(c.m_iLevel, 0);
}
}  // namespace

TEST(ZubCandidate, FreshAndResetRecordsHoldZeros)
{
    CZubCandidate c;
    ExpectAllZero(c);

    c.m_iFrame = 7;
    c.m_iChannel = 2;
    c.m_sizeRoi = {100, 90};
    c.m_ptCM = {320, 240};
    c.m_sizePlanet = {80, 75};
    c.m_iKivState = ZUB_STATE_CANDIDATE;
    c.m_iZubState = ZUB_STATE_CLEARED;
    c.m_ptKiv = {5, 6};
    c.m_iKivValue = 200;
    c.m_ptZub = {1, 2};
    c.m_iZubValue = 3;
    c.m_iCRC = 4;
    c.m_iLevel = 130;
    c.Reset();
    ExpectAllZero(c);
}
