// The view's message handlers, one message at a time.
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{
LPARAM Text(const char* text)
{
    return reinterpret_cast<LPARAM>(text);
}

class CCommandView : public CZubView
{
public:
    using CZubView::CZubView;
    std::vector<UINT> m_otherCommands;

protected:
    void OnOtherCommand(UINT id) override { m_otherCommands.push_back(id); }
};
}  // namespace

TEST(ZubView, LogLinesAreAppendedAfterALineBreak)
{
    CZubTestRun run;
    CZubView& view = run.m_view;
    view.SendMessage(WM_LOG_VIEW, 0, Text("first"));
    view.SendMessage(WM_LOG_VIEW, 0, Text("second"));
    EXPECT_EQ(view.m_csLog, "\r\nfirst\r\nsecond");

    // View lines reach the box and the console; ordinary lines only the console.
    ZubApp().m_log.LogView("third %i", 3);
    ZubApp().m_log.Log("console only");
    EXPECT_EQ(view.m_csLog, "\r\nfirst\r\nsecond\r\nthird 3");
    EXPECT_EQ(run.m_lines, (std::vector<std::string>{"third 3", "console only"}));

    view.SendMessage(WM_LOG_CONSOLE, 0, Text("direct"));
    EXPECT_EQ(run.m_lines.back(), "direct");
}

TEST(ZubView, EachEndMessageActsOnlyOncePerRun)
{
    CZubTestRun run;
    CZubView& view = run.m_view;
    run.m_doc.m_bSer = true;  // the source a stopped pass closes
    auto stops = [&] {
        return std::count(run.m_lines.begin(), run.m_lines.end(), "Stop processing SER file.");
    };

    view.SendMessage(WM_END_AVG);
    EXPECT_EQ(stops(), 0) << "not armed yet";

    view.SendMessage(WM_PHASES_ARM);
    EXPECT_TRUE(view.m_bArmedRoi && view.m_bArmedAvg && view.m_bArmedImpact && view.m_bArmedResults);
    view.SendMessage(WM_END_AVG);
    EXPECT_EQ(stops(), 1);
    EXPECT_FALSE(view.m_bArmedAvg);
    EXPECT_TRUE(view.m_bArmedRoi && view.m_bArmedImpact && view.m_bArmedResults);
    // Not running: the source is stopped and nothing else happens.
    EXPECT_EQ(run.m_lines, std::vector<std::string>{"Stop processing SER file."});

    view.SendMessage(WM_END_AVG);
    EXPECT_EQ(stops(), 1) << "a second end of the same phase is ignored";
    view.SendMessage(WM_END_IMPACT);
    view.SendMessage(WM_END_IMPACT);
    EXPECT_EQ(stops(), 2);

    view.SendMessage(WM_PHASES_ARM);
    view.SendMessage(WM_END_AVG);
    EXPECT_EQ(stops(), 3) << "armed again by the next run";
}

TEST(ZubView, DisplayMessagesCopyTheCurrentFrame)
{
    CZubTestRun run;
    CZubDoc& doc = run.m_doc;
    CZubView& view = run.m_view;
    doc.m_pFrameData.resize(3);
    doc.m_pFrameData[1].m_iFrame = 2;
    doc.m_pFrameData[1].m_ptCM = {5, 6};
    doc.m_pFrameData[1].m_sizePlanet = {7, 8};
    doc.m_nFrame = 2;
    doc.m_llFrames = 3;
    doc.m_csPathName = "/videos/x.avi";
    doc.m_bih.biHeight = 480;
    doc.m_frameRoi.Create(4, 3, FRAME_MONO8);

    view.SendMessage(WM_FRAME_COUNTERS);
    EXPECT_EQ(view.m_nFrameNumber, 2);
    EXPECT_EQ(view.m_nFrames, 3);
    EXPECT_EQ(view.m_ptCM, (SZubPoint{5, 472})) << "y downward, truncated as in a top-down frame";
    EXPECT_EQ(view.m_sizePlanet, (SZubSize{7, 8}));
    EXPECT_EQ(view.m_csFileName, "/videos/x.avi");
    EXPECT_FALSE(view.m_frameImage.HasBuffer()) << "counters carry no image";

    view.SendMessage(WM_LIST_INDEX, 9);
    EXPECT_EQ(view.m_nFrameNumber, 9);

    // The histogram shows only in the impact phase with ShowHisto on.
    ZubApp().m_params.ShowHisto = true;
    doc.m_nPhase = PHASE_RESULTS;
    view.SendMessage(WM_FRAME_SHOW);
    EXPECT_EQ(view.m_nFrameNumber, 2);
    EXPECT_EQ(view.m_frameImage.m_iWidth, 4);
    EXPECT_EQ(view.m_frameImage.m_iHeight, 3);
    EXPECT_EQ(view.m_record.m_iFrame, 2);
    EXPECT_TRUE(view.m_bHistoEmpty);
    doc.m_nPhase = PHASE_IMPACT;
    view.SendMessage(WM_FRAME_SHOW);
    EXPECT_FALSE(view.m_bHistoEmpty);

    view.SendMessage(WM_FRAME_CLEAR);
    EXPECT_FALSE(view.m_frameImage.HasBuffer());
    EXPECT_TRUE(view.m_bHistoEmpty);

    // Outside the records: the counters keep the last centre and size.
    doc.m_nFrame = 7;
    view.SendMessage(WM_FRAME_COUNTERS);
    EXPECT_EQ(view.m_nFrameNumber, 7);
    EXPECT_EQ(view.m_ptCM, (SZubPoint{5, 472}));
}

TEST(ZubView, CommandsGoToTheDocumentFirst)
{
    CZubTestRun run;
    CCommandView view(run.m_doc);
    run.m_doc.m_bRunning = true;
    view.SendMessage(WM_COMMAND, ID_PROCESS_STOP);
    EXPECT_FALSE(run.m_doc.m_bRunning);
    EXPECT_TRUE(view.m_otherCommands.empty());
    view.SendMessage(WM_COMMAND, ID_VIEW_RESULTS);
    EXPECT_EQ(view.m_otherCommands, std::vector<UINT>{ID_VIEW_RESULTS});
}
