#include "zubcandidate.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// ---- Record dump line ---------------------------------------------------------------------

TEST(ZubCandidate, DumpLine)
{
    CZubCandidate r;
    r.m_iFrame = 12;
    r.m_ptKiv = {55, 61};
    r.m_iKivValue = 200;
    r.m_ptZub = {1, -2};
    r.m_iZubValue = 3;
    r.m_iKivState = ZUB_STATE_CANDIDATE;
    r.m_iZubState = ZUB_STATE_CLEARED;
    EXPECT_EQ(ZubRecordDumpLine(r), "Frame:   12 KIV:  55, 61 (200) ZUB:   1, -2 (  3) KIV: CANDIDATE ZUB: CLEARED");
    r.m_iKivState = ZUB_STATE_NONE;
    r.m_iZubState = 7;
    r.m_iFrame = 12345;
    EXPECT_EQ(ZubRecordDumpLine(r), "Frame: 12345 KIV:  55, 61 (200) ZUB:   1, -2 (  3) KIV:  ZUB: ");
}

// ---- Candidate list -----------------------------------------------------------------------

namespace
{
CZubCandidate KivRecord(int frame, SZubPoint kiv, SZubSize roi = {100, 80})
{
    CZubCandidate r;
    r.m_iFrame = frame;
    r.m_ptKiv = kiv;
    r.m_sizeRoi = roi;
    r.m_iKivState = ZUB_STATE_CANDIDATE;
    return r;
}

// A 24-bit frame whose pixel (x, y) holds the bytes (x, y, x ^ y).
CZubFrame PatternFrame(int width, int height)
{
    CZubFrame f;
    f.Create(width, height, FRAME_COLOR_RGB24);
    for (int y = 0; y < height; ++y)
    {
        uint8_t* p = f.GetRowRGB(y);
        for (int x = 0; x < width; ++x, p += 3)
        {
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x ^ y);
        }
    }
    return f;
}

// Where the list keeps a patch, for a test to fill it (in memory: the store's budget is far away).
uint8_t* PatchBytes(CZubCandidateList& list, int slot, int frameIndex)
{
    return const_cast<uint8_t*>(list.GetPatch(slot, frameIndex));
}

void FillPatch(uint8_t* patch, int ringValue, int innerValue)
{
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
        {
            const bool inner = y >= 9 && y <= 23 && x >= 9 && x <= 23;
            uint8_t* p = patch + (static_cast<size_t>(y) * 32 + x) * 3;
            p[0] = p[1] = p[2] = static_cast<uint8_t>(inner ? innerValue : ringValue);
        }
}

void SetPatchPixel(uint8_t* patch, int x, int y, uint8_t value)
{
    uint8_t* p = patch + (static_cast<size_t>(y) * 32 + x) * 3;
    p[0] = p[1] = p[2] = value;
}

// Photometry of frame 1 of a one-candidate list whose patch `fill` prepares.
template <class Fill>
int Photometry(Fill fill)
{
    CZubCandidateList list;
    list.Add(KivRecord(1, {50, 40}));
    EXPECT_TRUE(list.Allocate(1));
    fill(PatchBytes(list, 0, 0));
    list.ComputePhotometry(1);
    return list.m_aImpacts[0].m_piPhotometry[0];
}
}  // namespace

TEST(ZubCandidateList, FifteenStoredAndTheFifteenthAddAlreadyRefuses)
{
    CZubCandidateList list;
    for (int i = 1; i <= 14; ++i)
        EXPECT_TRUE(list.Add(KivRecord(i * 30, {i, i}))) << i;
    EXPECT_FALSE(list.Add(KivRecord(450, {15, 15})));
    EXPECT_EQ(list.m_iCount, 15);
    EXPECT_EQ(list.m_aImpacts[14].m_iFrame, 450);

    EXPECT_FALSE(list.Add(KivRecord(480, {16, 16})));
    EXPECT_EQ(list.m_iCount, 15);
    EXPECT_EQ(list.m_aImpacts[15].m_iFrame, 0);  // the spare slot is never used
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(list.m_aImpacts[static_cast<size_t>(i)].m_iFrame, (i + 1) * 30);
}

TEST(ZubCandidateList, RelativePositionAndAlgorithm)
{
    CZubCandidateList list;
    // Odd ROI sizes: halves truncate (101 / 2 = 50, 75 / 2 = 37).
    EXPECT_TRUE(list.Add(KivRecord(3, {3, 70}, {101, 75})));
    EXPECT_EQ(list.m_aImpacts[0].m_ptRel, (SZubPoint{-47, 33}));
    EXPECT_EQ(list.m_aImpacts[0].m_iAlgorithm, 1);
    EXPECT_EQ(list.m_aImpacts[0].m_iFrame, 3);

    CZubCandidate zub;
    zub.m_iFrame = 9;
    zub.m_sizeRoi = {64, 49};
    zub.m_ptKiv = {1, 1};  // not a KIV detection: its position is not used
    zub.m_ptZub = {10, 30};
    zub.m_iZubState = ZUB_STATE_CANDIDATE;
    EXPECT_TRUE(list.Add(zub));
    EXPECT_EQ(list.m_iCount, 2);
    EXPECT_EQ(list.m_aImpacts[1].m_iFrame, 9);
    EXPECT_EQ(list.m_aImpacts[1].m_ptRel, (SZubPoint{-22, 6}));
    EXPECT_EQ(list.m_aImpacts[1].m_iAlgorithm, 2);

    // Both states: the KIV entry first, then the second one; cleared states are not stored.
    CZubCandidate both = KivRecord(20, {60, 50}, {100, 80});
    both.m_iZubState = ZUB_STATE_CANDIDATE;
    both.m_ptZub = {40, 40};
    EXPECT_TRUE(list.Add(both));
    CZubCandidate cleared = KivRecord(21, {60, 50});
    cleared.m_iKivState = ZUB_STATE_CLEARED;
    EXPECT_TRUE(list.Add(cleared));
    ASSERT_EQ(list.m_iCount, 4);
    EXPECT_EQ(list.m_aImpacts[2].m_iAlgorithm, 1);
    EXPECT_EQ(list.m_aImpacts[2].m_ptRel, (SZubPoint{10, 10}));
    EXPECT_EQ(list.m_aImpacts[3].m_iAlgorithm, 2);
    EXPECT_EQ(list.m_aImpacts[3].m_ptRel, (SZubPoint{-10, 0}));
}

TEST(ZubCandidateList, BothStatesInTheFifteenthPlaceStoreOnlyTheFirst)
{
    CZubCandidateList list;
    for (int i = 1; i <= 14; ++i)
        list.Add(KivRecord(i, {i, i}));
    CZubCandidate both = KivRecord(15, {60, 50});
    both.m_iZubState = ZUB_STATE_CANDIDATE;
    EXPECT_FALSE(list.Add(both));
    EXPECT_EQ(list.m_iCount, 15);
    EXPECT_EQ(list.m_aImpacts[14].m_iAlgorithm, 1);
    EXPECT_EQ(list.m_aImpacts[15].m_iAlgorithm, 0);
}

TEST(ZubCandidateList, FailedAllocationLeavesLaterSlotsWithoutArrays)
{
    CZubCandidateList list;
    for (int i = 0; i < 3; ++i)
        list.Add(KivRecord(i + 1, {50, 40}));
    list.m_iFailAllocationAtSlot = 1;
    EXPECT_FALSE(list.Allocate(4));
    EXPECT_TRUE(list.m_aImpacts[0].HasArrays());
    EXPECT_EQ(list.m_aImpacts[0].m_iFrames, 4);
    for (int slot : {1, 2})
    {
        const CZubImpact& impact = list.m_aImpacts[static_cast<size_t>(slot)];
        EXPECT_FALSE(impact.HasArrays()) << slot;
        EXPECT_EQ(impact.GetPatch(0), nullptr) << slot;
        EXPECT_EQ(impact.m_piPhotometry, nullptr) << slot;
        EXPECT_EQ(list.GetPatch(slot, 0), nullptr) << slot;
        EXPECT_EQ(impact.PhotometryAt(0), 0) << slot;
    }

    // The results pass goes on: only slot 0 is written.
    const CZubFrame frame = PatternFrame(120, 100);
    CZubCandidate record;
    record.m_iFrame = 2;
    record.m_ptCM = {60, 50};
    list.CollectPatches(record, frame);
    list.ComputePhotometry(2);
    ASSERT_NE(list.GetPatch(0, 1), nullptr);
    EXPECT_EQ(list.GetPatch(0, 1)[0], 60 + 0 - 16);  // centre (60, 50) + m_ptRel (0, 0), first column
    EXPECT_EQ(list.GetPatch(1, 1), nullptr);
    EXPECT_EQ(list.GetPatch(2, 1), nullptr);

    // A second Allocate without the fault gives every slot its arrays again.
    list.m_iFailAllocationAtSlot = -1;
    EXPECT_TRUE(list.Allocate(2));
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_NE(list.GetPatch(slot, 1), nullptr) << slot;
    EXPECT_EQ(list.GetPatch(0, 2), nullptr);
    EXPECT_EQ(list.GetPatch(3, 0), nullptr);
    EXPECT_EQ(list.GetPatch(-1, 0), nullptr);
}

// Disabled: Allocate returns at the failing slot and leaves the arrays that later slots got
// from an earlier Allocate (zub/zubcandidate.cpp, CZubCandidateList::Allocate).
TEST(ZubCandidateList, FailedReallocationDropsTheOldArraysOfLaterSlots)
{
    CZubCandidateList list;
    for (int i = 0; i < 3; ++i)
        list.Add(KivRecord(i + 1, {50, 40}));
    ASSERT_TRUE(list.Allocate(4));
    list.m_iFailAllocationAtSlot = 1;
    EXPECT_FALSE(list.Allocate(6));
    EXPECT_EQ(list.m_aImpacts[0].m_iFrames, 6);
    for (int slot : {1, 2})
    {
        EXPECT_FALSE(list.m_aImpacts[static_cast<size_t>(slot)].HasArrays()) << slot;
        EXPECT_EQ(list.GetPatch(slot, 0), nullptr) << slot;
    }
}

TEST(ZubCandidateList, PatchFollowsThePlanetAndPacksBorderRows)
{
    CZubCandidateList list;
    list.Add(KivRecord(1, {60, 30}, {100, 80}));  // m_ptRel (10, -10)
    ASSERT_TRUE(list.Allocate(2));
    const CZubFrame frame = PatternFrame(80, 60);

    CZubCandidate record;
    record.m_iFrame = 1;
    record.m_ptCM = {40, 30};  // patch centre (50, 20): away from the borders
    list.CollectPatches(record, frame);
    const uint8_t* patch = list.GetPatch(0, 0);
    for (int y : {0, 13, 31})
        for (int x : {0, 17, 31})
        {
            const uint8_t* p = patch + (y * 32 + x) * 3;
            EXPECT_EQ(p[0], 34 + x);
            EXPECT_EQ(p[1], 4 + y);
            EXPECT_EQ(p[2], (34 + x) ^ (4 + y));
        }

    // Frame 2: centre (70, 50) lies within 16 pixels of the right and bottom edges.
    uint8_t* buffer = PatchBytes(list, 0, 1);
    std::fill(buffer, buffer + CZubImpact::kPatchBytes, uint8_t{0xAB});
    record.m_iFrame = 2;
    record.m_ptCM = {60, 60};
    list.CollectPatches(record, frame);
    // Columns 54 .. 78 and rows 34 .. 58 (the last column and row are never copied).
    const int cols = 25, rows = 25;
    for (int k = 0; k < rows; ++k)
        for (int c : {0, cols - 1})
        {
            const uint8_t* p = buffer + (k * cols + c) * 3;
            EXPECT_EQ(p[0], 54 + c) << k;
            EXPECT_EQ(p[1], 34 + k) << k;
        }
    for (int i = rows * cols * 3; i < CZubImpact::kPatchBytes; ++i)
        ASSERT_EQ(buffer[i], 0xAB) << "byte " << i;

    // Other frames' patches are untouched.
    EXPECT_EQ(list.GetPatch(0, 0)[0], 34);
}

TEST(ZubCandidateList, PatchAtTheTopLeftAndOutsideTheFrame)
{
    CZubCandidateList list;
    list.Add(KivRecord(1, {50, 40}, {100, 80}));
    ASSERT_TRUE(list.Allocate(2));
    uint8_t* buffer = PatchBytes(list, 0, 0);
    std::fill(buffer, buffer + 2 * CZubImpact::kPatchBytes, uint8_t{0xAB});
    const CZubFrame frame = PatternFrame(64, 48);

    CZubCandidate record;
    record.m_iFrame = 1;
    record.m_ptCM = {5, 3};  // columns 0 .. 20, rows 0 .. 18
    list.CollectPatches(record, frame);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(buffer[21 * 3], 0);  // second row starts right after the 21 pixels of the first
    EXPECT_EQ(buffer[21 * 3 + 1], 1);
    EXPECT_EQ(buffer[19 * 21 * 3], 0xAB);

    // A centre far outside the frame copies nothing.
    record.m_iFrame = 2;
    record.m_ptCM = {-500, 900};
    list.CollectPatches(record, frame);
    for (int i = 0; i < CZubImpact::kPatchBytes; ++i)
        ASSERT_EQ(buffer[CZubImpact::kPatchBytes + i], 0xAB) << i;
}

// A gray video's patches keep the gray value alone: the same pixels, packing and photometry
// as the three-byte patches, in a third of the room.
TEST(ZubCandidateList, GrayPatchesHoldWhatColourPatchesHold)
{
    CZubFrame frame = PatternFrame(80, 60);
    for (int y = 0; y < 60; ++y)
        for (uint8_t *p = frame.GetRowRGB(y), *end = p + 80 * 3; p < end; p += 3)
            p[1] = p[2] = p[0] = static_cast<uint8_t>(p[0] * 3 + p[1]);
    CZubCandidateList colour, gray;
    for (CZubCandidateList* list : {&colour, &gray})
    {
        list->Add(KivRecord(1, {60, 30}, {100, 80}));
        ASSERT_TRUE(list->Allocate(2, list == &gray));
        CZubCandidate record;
        for (const auto& [n, cm] : {std::pair{1, SZubPoint{40, 30}}, std::pair{2, SZubPoint{60, 60}}})
        {
            record.m_iFrame = n;
            record.m_ptCM = cm;  // frame 2 near the right and bottom edges: packed rows
            list->CollectPatches(record, frame);
            list->ComputePhotometry(n);
        }
    }
    EXPECT_EQ(gray.m_aImpacts[0].m_nPatchPixelBytes, 1);
    for (int index : {0, 1})
    {
        const uint8_t* c = colour.GetPatch(0, index);
        const uint8_t* g = gray.GetPatch(0, index);
        for (int i = 0; i < CZubImpact::kPatchPixels; ++i)
            ASSERT_EQ(g[i], c[3 * i]) << "frame index " << index << ", pixel " << i;
        EXPECT_EQ(gray.m_aImpacts[0].PhotometryAt(index), colour.m_aImpacts[0].PhotometryAt(index));
    }
}

TEST(ZubCandidateList, Photometry)
{
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 90, 90); }), 0);
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 90, 97); }), 21);
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 200, 150); }), -150);
    // One bright pixel: 765 / 225 = 3 inside, 765 / 799 = 0 in the ring.
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 0, 0), SetPatchPixel(p, 9, 9, 255); }), 3);
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 0, 0), SetPatchPixel(p, 23, 23, 255); }), 3);
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 0, 0), SetPatchPixel(p, 8, 9, 255); }), 0);
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 0, 0), SetPatchPixel(p, 23, 24, 255); }), 0);
    // A ring of 1s: 2397 / 799 = 3.
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 1, 0); }), -3);
    // Inner 10, ring 0 but one ring pixel of 255: 6750 / 225 - 765 / 799 = 30.
    EXPECT_EQ(Photometry([](uint8_t* p) { FillPatch(p, 0, 10), SetPatchPixel(p, 0, 0, 255); }), 30);
    // Byte sums of unequal channels.
    EXPECT_EQ(Photometry([](uint8_t* p) {
                  FillPatch(p, 0, 0);
                  for (int y = 9; y <= 23; ++y)
                      for (int x = 9; x <= 23; ++x)
                          p[(y * 32 + x) * 3 + 2] = 5;
              }),
              5);
}

TEST(ZubCandidateList, SetFrameOnlyForTheMatchingFrame)
{
    CZubCandidateList list;
    list.Add(KivRecord(5, {50, 40}));
    list.Add(KivRecord(9, {60, 40}));
    const CZubFrame frame = PatternFrame(40, 30);
    list.SetFrame(9, frame, 17, 23);
    const CZubImpact& first = list.m_aImpacts[0];
    const CZubImpact& second = list.m_aImpacts[1];
    EXPECT_FALSE(first.m_frame.HasBuffer());
    EXPECT_EQ(first.m_ptFrame, SZubPoint{});
    ASSERT_TRUE(second.m_frame.HasBuffer());
    EXPECT_EQ(second.m_frame.m_iWidth, 40);
    EXPECT_EQ(second.m_frame.m_iHeight, 30);
    EXPECT_EQ(second.m_frame.m_iBits, FRAME_COLOR_RGB24);
    EXPECT_EQ(second.m_frame.GetPixelRGB(33, 21)[2], 33 ^ 21);
    EXPECT_EQ(second.m_ptFrame, (SZubPoint{17, 23}));
    list.SetFrame(7, frame, 1, 1);
    EXPECT_FALSE(first.m_frame.HasBuffer());
}
