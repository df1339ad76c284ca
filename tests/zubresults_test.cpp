#include "zubdataframes.h"
#include "zubdoc.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<CZubCandidate> Records(int n)
{
    std::vector<CZubCandidate> records(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        records[static_cast<size_t>(i)].m_iFrame = i + 1;
    return records;
}

void Detect(std::vector<CZubCandidate>& records, int index, SZubPoint pt)
{
    CZubCandidate& r = records[static_cast<size_t>(index)];
    r.m_iKivState = ZUB_STATE_CANDIDATE;
    r.m_ptKiv = pt;
}

std::vector<int> KivStates(const std::vector<CZubCandidate>& records)
{
    std::vector<int> states;
    for (const CZubCandidate& r : records)
        states.push_back(r.m_iKivState);
    return states;
}

class ZubResults : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        ZubApp().m_log.SetView(&m_log);
    }
    void TearDown() override { ZubResetApp(); }

    int Clear(std::vector<CZubCandidate>& records)
    {
        return CZubDoc::ClearDuplicates(records.data(), static_cast<int>(records.size()));
    }

    CZubLogRecorderWnd m_log;
};
}  // namespace

TEST_F(ZubResults, ConsecutiveDetectionsKeepTheEarliest)
{
    std::vector<CZubCandidate> records = Records(40);
    Detect(records, 10, {50, 50});
    Detect(records, 11, {52, 49});
    Detect(records, 12, {41, 59});  // near record 10, 11 pixels from record 11
    EXPECT_EQ(Clear(records), 1);
    EXPECT_EQ(records[10].m_iKivState, ZUB_STATE_CANDIDATE);
    EXPECT_EQ(records[11].m_iKivState, ZUB_STATE_CLEARED);
    EXPECT_EQ(records[12].m_iKivState, ZUB_STATE_CLEARED);

    const std::vector<std::string> expected = {"Clear duplicates", "Radius search: 10", "Check for duplicates...",
                                               "Finally detect 1 candidates."};
    EXPECT_EQ(m_log.ConsoleLines(), expected);
}

TEST_F(ZubResults, OtherSpotsAndFarRecordsStay)
{
    std::vector<CZubCandidate> records = Records(60);
    Detect(records, 5, {50, 50});
    Detect(records, 30, {50, 50});  // 25 records later: not compared
    Detect(records, 31, {60, 50});  // next to 30 but exactly the radius away
    EXPECT_EQ(Clear(records), 3);

    // The window reaches exactly RejectDuplicities records back.
    for (const int gap : {20, 21})
    {
        records = Records(60);
        Detect(records, 40 - gap, {50, 50});
        Detect(records, 40, {50, 50});
        EXPECT_EQ(Clear(records), gap == 20 ? 1 : 2) << gap;
        EXPECT_EQ(records[40].m_iKivState, gap == 20 ? ZUB_STATE_CLEARED : ZUB_STATE_CANDIDATE) << gap;
    }
    ZubApp().m_params.RejectDuplicities = 30;
    records = Records(60);
    Detect(records, 5, {50, 50});
    Detect(records, 30, {50, 50});
    EXPECT_EQ(Clear(records), 1);
}

TEST_F(ZubResults, FirstRecordsAreNeverCleared)
{
    std::vector<CZubCandidate> records = Records(10);
    for (int i = 0; i < 4; ++i)
        Detect(records, i, {20, 20});
    EXPECT_EQ(Clear(records), 3);
    EXPECT_EQ(KivStates(records), (std::vector<int>{1, 1, 1, 2, 0, 0, 0, 0, 0, 0}));

    // Records 0 and 1 never clear a later one.
    records = Records(10);
    Detect(records, 1, {20, 20});
    Detect(records, 3, {20, 20});
    EXPECT_EQ(Clear(records), 2);
    records = Records(10);
    Detect(records, 0, {20, 20});
    Detect(records, 2, {20, 20});
    Detect(records, 4, {20, 20});
    EXPECT_EQ(Clear(records), 2);
    EXPECT_EQ(KivStates(records), (std::vector<int>{1, 0, 1, 0, 2, 0, 0, 0, 0, 0}));

    // Too few records to compare anything.
    records = Records(3);
    for (int i = 0; i < 3; ++i)
        Detect(records, i, {20, 20});
    EXPECT_EQ(Clear(records), 3);
    EXPECT_EQ(CZubDoc::ClearDuplicates(nullptr, 0), 0);
}

TEST_F(ZubResults, SecondStateIsClearedOnItsOwnPosition)
{
    std::vector<CZubCandidate> records = Records(20);
    for (const int i : {8, 9})
    {
        records[static_cast<size_t>(i)].m_iZubState = ZUB_STATE_CANDIDATE;
        records[static_cast<size_t>(i)].m_ptZub = {30, 30};
        records[static_cast<size_t>(i)].m_ptKiv = {i * 100, 0};  // far apart: does not matter
    }
    Detect(records, 9, {100, 100});  // a KIV detection alone: stays
    EXPECT_EQ(Clear(records), 2);
    EXPECT_EQ(records[8].m_iZubState, ZUB_STATE_CANDIDATE);
    EXPECT_EQ(records[9].m_iZubState, ZUB_STATE_CLEARED);
    EXPECT_EQ(records[9].m_iKivState, ZUB_STATE_CANDIDATE);
}

TEST_F(ZubResults, IsNearHasStrictBounds)
{
    EXPECT_TRUE(CZubDoc::IsNear(59, 59, 50, 50, 10));
    EXPECT_TRUE(CZubDoc::IsNear(41, 41, 50, 50, 10));
    EXPECT_FALSE(CZubDoc::IsNear(60, 50, 50, 50, 10));
    EXPECT_FALSE(CZubDoc::IsNear(50, 40, 50, 50, 10));
    EXPECT_FALSE(CZubDoc::IsNear(40, 59, 50, 50, 10));
    EXPECT_FALSE(CZubDoc::IsNear(50, 50, 50, 50, 0));
    EXPECT_TRUE(CZubDoc::IsNear(50, 50, 50, 50, 1));
    EXPECT_TRUE(CZubDoc::IsNear(0, 0, 2000000000, 0, 2147483647));
    EXPECT_FALSE(CZubDoc::IsNear(2147483647, 0, -2147483647 - 1, 0, 2147483647));
}

// ---- Frames-data lines and CSV ----------------------------------------------------------------

namespace
{
CZubCandidate Frame12()
{
    CZubCandidate r;
    r.m_iFrame = 12;
    r.m_sizePlanet = {210, 208};
    r.m_ptCM = {320, 241};
    r.m_ptKiv = {55, 61};
    r.m_iKivValue = 200;
    return r;
}
}  // namespace

TEST(ZubFramesData, CsvHeaderAndLines)
{
    EXPECT_EQ(ZubFramesCsvHeader(),
              "Frame number;Planet size X;Planet size Y;CM X;CM Y;Candidate pix-max X;Candidate pix-max Y;"
              "Candidate pix-max;Candidate Candidate;CRC;\n");
    CZubCandidate r = Frame12();
    EXPECT_EQ(ZubFramesCsvLine(r), "    12;210;208;320;241; 55; 61;200;;0\n");
    r.m_iKivState = ZUB_STATE_CANDIDATE;
    EXPECT_EQ(ZubFramesCsvLine(r), "    12;210;208;320;241; 55; 61;200;CANDIDATE;0\n");
    r.m_iKivState = ZUB_STATE_CLEARED;
    r.m_iCRC = -17;
    EXPECT_EQ(ZubFramesCsvLine(r), "    12;210;208;320;241; 55; 61;200;CLEARED;-17\n");

    // Wide values widen their fields; negative values keep their sign.
    r = Frame12();
    r.m_iFrame = 1234567;
    r.m_ptCM = {1000, -5};
    r.m_ptKiv = {-12, 4};
    EXPECT_EQ(ZubFramesCsvLine(r), "1234567;210;208;1000; -5;-12;  4;200;;0\n");
    EXPECT_EQ(ZubFramesCsvLine(CZubCandidate()), "     0;  0;  0;  0;  0;  0;  0;  0;;0\n");
}

TEST(ZubFramesData, ListLinesAndStates)
{
    CZubCandidate r = Frame12();
    r.m_iCRC = 77;
    EXPECT_EQ(ZubFramesListLine(r),
              "Frame   12  planet size: 210:208  CM: 320:241  Candidate pixel:  55: 61 (200) CRC: 77  \n");
    r.m_iKivState = ZUB_STATE_CLEARED;
    EXPECT_EQ(ZubFramesListState(r), "Candidate: Cleared");
    EXPECT_EQ(ZubFramesListLine(r),
              "Frame   12  planet size: 210:208  CM: 320:241  Candidate pixel:  55: 61 (200) CRC: 77  Candidate: "
              "Cleared\n");
    r.m_iKivState = ZUB_STATE_CANDIDATE;
    EXPECT_EQ(ZubFramesListState(r), "Candidate: Detected");
    r.m_iKivState = ZUB_STATE_NONE;
    r.m_iZubState = ZUB_STATE_CANDIDATE;
    EXPECT_EQ(ZubFramesListState(r), "Candidate: ");
    r.m_iZubState = ZUB_STATE_NONE;
    EXPECT_EQ(ZubFramesListState(r), "");

    EXPECT_EQ(ZubFramesList(nullptr, 0), (std::vector<std::string>{"No data.", "Process a file to see the frame's data."}));
    const std::vector<CZubCandidate> records = {Frame12(), CZubCandidate()};
    const std::vector<std::string> lines = ZubFramesList(records.data(), 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], ZubFramesListLine(records[0]));
    EXPECT_EQ(lines[1].substr(0, 11), "Frame    0 ");
}

TEST(ZubFramesData, CsvFile)
{
    ASSERT_TRUE(ZubWriteFramesCsv("none.csv", nullptr, 0));
    EXPECT_EQ(ZubReadText("none.csv"), ZubFramesCsvHeader());

    std::vector<CZubCandidate> records = {Frame12(), CZubCandidate(), Frame12()};
    records[2].m_iKivState = ZUB_STATE_CLEARED;
    ZubWriteText("frames.csv", "an older and much longer content that must not survive the export\n");
    ASSERT_TRUE(ZubWriteFramesCsv("frames.csv", records.data(), 3));
    EXPECT_EQ(ZubReadText("frames.csv"), ZubFramesCsvHeader() + "    12;210;208;320;241; 55; 61;200;;0\n" +
                                             "     0;  0;  0;  0;  0;  0;  0;  0;;0\n" +
                                             "    12;210;208;320;241; 55; 61;200;CLEARED;0\n");

    // One message, nothing more on the console.
    std::string error, reason;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ZubWriteFramesCsv("no-such-folder/frames.csv", records.data(), 3, &error, &reason));
    EXPECT_FALSE(ZubWriteFramesCsv(".", records.data(), 3));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error, "Can't open file no-such-folder/frames.csv.");
    EXPECT_EQ(reason, "No such file or directory");
}
