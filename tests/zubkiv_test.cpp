#include "zubcandidate.h"
#include "zubkiv.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
constexpr int kLevel = 128;

// Records whose brightest pixels jump around (never near each other) with no increase.
std::vector<CZubCandidate> NoiseRecords(int n)
{
    std::vector<CZubCandidate> records(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
    {
        CZubCandidate& r = records[static_cast<size_t>(i)];
        r.m_iFrame = i + 1;
        r.m_iLevel = kLevel;
        r.m_iKivValue = kLevel;
        r.m_ptKiv = {1000 + 50 * i, 2000 + 50 * i};
    }
    return records;
}

void SetSpot(std::vector<CZubCandidate>& records, int index, int increase, SZubPoint pt)
{
    CZubCandidate& r = records[static_cast<size_t>(index)];
    r.m_iKivValue = kLevel + increase;
    r.m_ptKiv = pt;
}

// Counts the progress messages Detect sends, one per window.
class CListIndexWnd : public CZubWnd
{
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override
    {
        if (msg == WM_LIST_INDEX)
            m_indexes.push_back(static_cast<int>(wParam));
        return 0;
    }
    std::vector<int> m_indexes;
};

class ZubKiv : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        ZubApp().m_log.SetView(&m_log);
    }
    void TearDown() override { ZubResetApp(); }

    SZubParams& Params() { return ZubApp().m_params; }
    int Detect(std::vector<CZubCandidate>& records, CZubWnd* view = nullptr)
    {
        CZubKiv kiv;
        return kiv.Detect(records.data(), static_cast<int>(records.size()), view);
    }
    bool HasConsoleLine(const std::string& line) const
    {
        for (const std::string& l : m_log.ConsoleLines())
            if (l == line)
                return true;
        return false;
    }

    CZubLogRecorderWnd m_log;
};
}  // namespace

TEST_F(ZubKiv, WindowsCoverTheRecordsExactly)
{
    Params().ListSize = 5;
    CListIndexWnd view;

    std::vector<CZubCandidate> records = NoiseRecords(5);
    EXPECT_EQ(Detect(records, &view), 0);
    EXPECT_EQ(view.m_indexes, std::vector<int>{0});

    view.m_indexes.clear();
    records = NoiseRecords(8);
    Detect(records, &view);
    EXPECT_EQ(view.m_indexes, (std::vector<int>{0, 1, 2, 3}));

    view.m_indexes.clear();
    records = NoiseRecords(4);
    EXPECT_EQ(Detect(records, &view), 0);
    EXPECT_TRUE(view.m_indexes.empty());
    EXPECT_TRUE(HasConsoleLine("Found 0 candidates."));
}

TEST_F(ZubKiv, IncreaseEqualToTheMinimumPasses)
{
    Params().ListSize = 5;
    Params().MinDetection = 3;
    Params().MinIncrBright = 20;
    for (const int increase : {20, 19})
    {
        std::vector<CZubCandidate> records = NoiseRecords(5);
        SetSpot(records, 1, 5, {50, 50});
        SetSpot(records, 2, increase, {51, 49});
        SetSpot(records, 3, 5, {49, 51});
        const int expected = increase >= 20 ? 1 : 0;
        EXPECT_EQ(Detect(records), expected) << "increase " << increase;
        EXPECT_EQ(records[2].m_iKivState, expected) << "increase " << increase;
    }
}

TEST_F(ZubKiv, NearCountEqualToMinDetectionPasses)
{
    Params().ListSize = 5;
    Params().MinIncrBright = 20;
    for (const int minDetection : {3, 4})
    {
        Params().MinDetection = minDetection;
        std::vector<CZubCandidate> records = NoiseRecords(5);
        SetSpot(records, 0, 3, {50, 50});
        SetSpot(records, 2, 40, {50, 50});
        SetSpot(records, 4, 3, {52, 48});
        EXPECT_EQ(Detect(records), minDetection == 3 ? 1 : 0) << "MinDetection " << minDetection;
    }
}

TEST_F(ZubKiv, NeighbourAtTheRadiusIsNotNear)
{
    KivData e;
    e.m_ptPixMax = {50, 50};
    auto near = [&](int x, int y) {
        KivData k;
        k.m_ptPixMax = {x, y};
        return k.IsNearPoint(e, 10);
    };
    EXPECT_TRUE(near(59, 59));
    EXPECT_TRUE(near(41, 41));
    EXPECT_FALSE(near(60, 50));
    EXPECT_FALSE(near(50, 60));
    EXPECT_FALSE(near(40, 50));
    EXPECT_FALSE(near(50, 40));

    // The same through Detect: one neighbour is needed, and it lies exactly 10 away.
    Params().ListSize = 3;
    Params().MinDetection = 2;
    Params().RadiusSearch = 10;
    for (const SZubPoint neighbour : {SZubPoint{60, 50}, SZubPoint{50, 40}, SZubPoint{59, 41}})
    {
        std::vector<CZubCandidate> records = NoiseRecords(3);
        SetSpot(records, 1, 50, {50, 50});
        SetSpot(records, 2, 10, neighbour);
        EXPECT_EQ(Detect(records), neighbour.x == 59 ? 1 : 0) << neighbour.x << "," << neighbour.y;
    }
}

TEST_F(ZubKiv, FlashInTenWindowsIsReportedOnce)
{
    Params().ListSize = 10;
    CListIndexWnd view;
    std::vector<CZubCandidate> records = NoiseRecords(19);
    SetSpot(records, 8, 30, {70, 40});
    SetSpot(records, 9, 90, {71, 41});
    SetSpot(records, 10, 40, {70, 42});
    EXPECT_EQ(Detect(records, &view), 1);
    EXPECT_EQ(view.m_indexes.size(), 10u);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].m_iKivState, i == 9 ? ZUB_STATE_CANDIDATE : ZUB_STATE_NONE) << "record " << i;
}

TEST_F(ZubKiv, MinDetectionOfOneOrLessTakesEveryBrightWindow)
{
    Params().ListSize = 3;
    for (const int minDetection : {1, 0, 2})
    {
        Params().MinDetection = minDetection;
        // Isolated bright frames: each is the best of some window, none has a neighbour.
        std::vector<CZubCandidate> records = NoiseRecords(9);
        SetSpot(records, 0, 30, {10, 10});
        SetSpot(records, 4, 30, {100, 10});
        SetSpot(records, 8, 30, {10, 100});
        EXPECT_EQ(Detect(records), minDetection <= 1 ? 3 : 0) << "MinDetection " << minDetection;
    }
}

TEST_F(ZubKiv, EqualIncreasesKeepTheirFrameOrder)
{
    Params().ListSize = 6;
    std::vector<CZubCandidate> records = NoiseRecords(6);
    const int increases[] = {5, 9, 9, 3, 9, 5};
    for (int i = 0; i < 6; ++i)
        SetSpot(records, i, increases[i], {i, i});
    CZubKiv kiv;
    kiv.CreateList(records.data());
    EXPECT_EQ(kiv.m_pData[0].m_iPixMax, 5);
    EXPECT_EQ(kiv.m_pData[3].m_ptPixMax, (SZubPoint{3, 3}));
    kiv.SortList();
    const int frames[] = {2, 3, 5, 1, 6, 4};
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(kiv.m_pData[static_cast<size_t>(k)].m_iFrame, frames[k]) << "entry " << k;

    // Among equal best increases the earliest frame is the one examined and marked.
    EXPECT_TRUE(kiv.SearchImpact(records.data(), 10, 1, 9));
    EXPECT_EQ(records[1].m_iKivState, ZUB_STATE_CANDIDATE);
    EXPECT_EQ(records[2].m_iKivState, ZUB_STATE_NONE);
    EXPECT_EQ(records[4].m_iKivState, ZUB_STATE_NONE);
}

TEST_F(ZubKiv, LongListSortIsStable)
{
    // Long enough that an unstable sort would reorder equal entries.
    Params().ListSize = 100;
    std::vector<CZubCandidate> records = NoiseRecords(100);
    for (int i = 0; i < 100; ++i)
        SetSpot(records, i, (i * 7) % 5, {0, 0});
    CZubKiv kiv;
    kiv.CreateList(records.data());
    kiv.SortList();
    for (int k = 1; k < 100; ++k)
    {
        const KivData& a = kiv.m_pData[static_cast<size_t>(k - 1)];
        const KivData& b = kiv.m_pData[static_cast<size_t>(k)];
        ASSERT_TRUE(a.m_iPixMax > b.m_iPixMax || (a.m_iPixMax == b.m_iPixMax && a.m_iFrame < b.m_iFrame))
            << "entries " << k - 1 << " and " << k;
    }
}

TEST_F(ZubKiv, ListSizeOutOfRangeIsClamped)
{
    struct SCase
    {
        int requested;
        int used;
    };
    for (const SCase c : {SCase{0, 1}, SCase{-5, 1}, SCase{101, 100}, SCase{150, 100}})
    {
        m_log.m_lines.clear();
        Params().ListSize = c.requested;
        CZubKiv kiv;
        EXPECT_EQ(kiv.m_iSize, c.used);
        EXPECT_TRUE(HasConsoleLine("KIV: ListSize " + std::to_string(c.requested) + " out of range, using " +
                                   std::to_string(c.used) + "."))
            << c.requested;
    }
    for (const int inRange : {1, 100})
    {
        m_log.m_lines.clear();
        Params().ListSize = inRange;
        CZubKiv kiv;
        EXPECT_EQ(kiv.m_iSize, inRange);
        EXPECT_TRUE(m_log.m_lines.empty());
    }

    // A clamped list of 100 runs over 120 records without reading past them.
    Params().ListSize = 1000;
    std::vector<CZubCandidate> records = NoiseRecords(120);
    SetSpot(records, 110, 60, {5, 5});
    Params().MinDetection = 1;
    EXPECT_EQ(Detect(records), 1);
}

TEST_F(ZubKiv, DetectViewLinesInOrder)
{
    std::vector<CZubCandidate> records = NoiseRecords(30);
    SetSpot(records, 14, 30, {40, 40});
    SetSpot(records, 15, 60, {41, 40});
    SetSpot(records, 16, 30, {40, 41});
    EXPECT_EQ(Detect(records), 1);

    std::vector<std::string> viewLines;
    for (const std::string& line : m_log.m_lines)
        if (line.rfind("V:", 0) == 0)
            viewLines.push_back(line.substr(2));
    const std::vector<std::string> expected = {
        "Detect algorithm: KIV",      "Size list: 20",
        "Min. incr. bright: 20",      "Radius search: 10",
        "Min. elements in radius: 3", "Processing frames by KIV algorithm...",
        "Found 1 candidates.",        "Detection Ended.",
    };
    EXPECT_EQ(viewLines, expected);
    // View lines also reach the console; the frame trace stays off without WriteConsole.
    EXPECT_EQ(m_log.ConsoleLines(), expected);
}

TEST_F(ZubKiv, FrameTraceLinesWithWriteConsole)
{
    Params().WriteConsole = true;
    Params().ListSize = 3;
    std::vector<CZubCandidate> records = NoiseRecords(4);
    SetSpot(records, 1, 30, {40, 40});
    SetSpot(records, 2, 25, {40, 40});
    SetSpot(records, 3, 25, {40, 40});
    EXPECT_EQ(Detect(records), 1);
    const std::vector<std::string> lines = m_log.ConsoleLines();
    const std::vector<std::string> trace(lines.begin() + 6, lines.end() - 2);
    // Window 0 sees only two frames of the spot; window 1 sees three.
    const std::vector<std::string> expected = {"Process frame: 1", "Process frame: 2", "Found CANDIDATE in frame: 2"};
    EXPECT_EQ(trace, expected);
}
