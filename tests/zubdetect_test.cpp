// Detection end to end: whole runs over synthetic and real videos, with the default
// parameters, through the document, the view and the message loop.
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

namespace
{
constexpr int kRadius = 10;  // RadiusSearch default

SZubSynthOptions Video()
{
    SZubSynthOptions o;
    o.iWidth = 320;
    o.iHeight = 240;
    o.iFrames = 150;
    o.seed = 3;
    return o;
}

SZubSynthOptions VideoWithFlash()
{
    SZubSynthOptions o = Video();
    o.flash.iFrame = 80;
    o.flash.iDuration = 6;
    o.flash.dx = 20;
    o.flash.dy = -10;
    o.flash.peak = 65;
    return o;
}

// Records the commands that reach the view without a document handler (the results dialog).
class CCommandView : public CZubView
{
public:
    using CZubView::CZubView;
    std::vector<UINT> m_commands;
    std::vector<std::string> m_logLines;
    std::vector<SZubRunState> m_states;

protected:
    void OnOtherCommand(UINT id) override { m_commands.push_back(id); }
    void OnLogLine(const std::string& text) override { m_logLines.push_back(text); }
    void OnRunStateChanged() override { m_states.push_back(GetDocument().RunState()); }
};

class ZubDetect : public testing::Test
{
protected:
    void SetUp() override
    {
        m_run = std::make_unique<CZubTestRun>();
        m_view = std::make_unique<CCommandView>(m_run->m_doc);  // takes over from the run's view
        ZubApp().m_params.ProcessAuto = true;
    }
    void TearDown() override
    {
        m_view.reset();
        m_run.reset();
    }

    CZubDoc& Doc() { return m_run->m_doc; }
    bool Open(const std::string& path) { return m_run->Open(path); }
    bool Has(const std::string& line) const { return m_run->HasLine(line); }
    int Count(const std::string& line) const
    {
        return static_cast<int>(std::count(m_run->m_lines.begin(), m_run->m_lines.end(), line));
    }
    const CZubImpact& Candidate(int i) { return Doc().m_pCandidates->m_aImpacts[static_cast<size_t>(i)]; }
    // Records in the state of a detection.
    std::vector<int> DetectedFrames()
    {
        std::vector<int> frames;
        for (const CZubCandidate& r : Doc().m_pFrameData)
            if (r.m_iKivState == ZUB_STATE_CANDIDATE)
                frames.push_back(r.m_iFrame);
        return frames;
    }

    std::unique_ptr<CZubTestRun> m_run;
    std::unique_ptr<CCommandView> m_view;
};

bool Within(int value, double target, double radius)
{
    return std::abs(value - target) < radius;
}
}  // namespace

TEST_F(ZubDetect, FlashIsFoundOnceAtItsFrameAndPlace)
{
    const SZubSynthOptions o = VideoWithFlash();
    // The results pass is still writing what the results dialog reads: no dialog meanwhile.
    bool bResultsEnabledInResultsPass = true;
    m_run->m_shell.m_consoleSink = [&](const std::string& line) {
        m_run->m_lines.push_back(line);
        if (line == "Init fase: Get RESULTS.")
            bResultsEnabledInResultsPass = Doc().IsCommandEnabled(ID_VIEW_RESULTS);
    };
    ASSERT_TRUE(Open(CZubTestRun::Synth("flash.ser", o)));
    EXPECT_FALSE(bResultsEnabledInResultsPass);

    ASSERT_EQ(Doc().CandidateCount(), 1);
    EXPECT_TRUE(Has("FOUND 1 CANDIDATES"));
    EXPECT_FALSE(Has("NOT FOUND CANDIDATES"));
    EXPECT_TRUE(Has("End fase: RESULTS."));
    EXPECT_FALSE(Doc().m_bRunning);

    const CZubImpact& impact = Candidate(0);
    EXPECT_GE(impact.m_iFrame, o.flash.iFrame);
    EXPECT_LT(impact.m_iFrame, o.flash.iFrame + o.flash.iDuration);
    EXPECT_EQ(impact.m_iAlgorithm, 1);
    EXPECT_TRUE(Within(impact.m_ptRel.x, o.flash.dx, kRadius)) << impact.m_ptRel.x;
    EXPECT_TRUE(Within(impact.m_ptRel.y, o.flash.dy, kRadius)) << impact.m_ptRel.y;
    EXPECT_EQ(DetectedFrames(), std::vector<int>{impact.m_iFrame});

    // The results pass filled the patches, the light curve and the detection frame.
    ASSERT_TRUE(impact.HasArrays());
    EXPECT_EQ(impact.m_iFrames, o.iFrames);
    EXPECT_EQ(Doc().m_nProcessed, o.iFrames);
    // The flash lifts the candidate's light curve above its usual level (the median).
    std::vector<int> curve(impact.m_piPhotometry.get(), impact.m_piPhotometry.get() + impact.m_iFrames);
    const int peak = *std::max_element(curve.begin() + o.flash.iFrame - 1,
                                       curve.begin() + o.flash.iFrame + o.flash.iDuration - 1);
    std::nth_element(curve.begin(), curve.begin() + o.iFrames / 2, curve.end());
    EXPECT_GT(peak, curve[static_cast<size_t>(o.iFrames / 2)] + 3);

    ASSERT_TRUE(impact.m_frame.HasBuffer());
    EXPECT_EQ(impact.m_frame.m_iWidth, o.iWidth);
    EXPECT_EQ(impact.m_frame.m_iHeight, o.iHeight);
    EXPECT_EQ(impact.m_frame.m_iBits, FRAME_COLOR_RGB24);
    // Its place in the frame: the record's centre plus the detection, less half the ROI
    // (which is not the planet's size).
    const CZubCandidate& r = *Doc().Record(impact.m_iFrame);
    ASSERT_NE(r.m_sizeRoi.cx / 2, r.m_sizePlanet.cx / 2);
    ASSERT_NE(r.m_sizeRoi.cy / 2, r.m_sizePlanet.cy / 2);
    EXPECT_EQ(impact.m_ptFrame, (SZubPoint{r.m_ptCM.x + r.m_ptKiv.x - r.m_sizeRoi.cx / 2,
                                           r.m_ptCM.y + r.m_ptKiv.y - r.m_sizeRoi.cy / 2}));
    double cx = 0, cy = 0;
    ZubSynthCentre(o, impact.m_iFrame, cx, cy);
    EXPECT_TRUE(Within(impact.m_ptFrame.x, cx + o.flash.dx, kRadius)) << impact.m_ptFrame.x << " vs " << cx + o.flash.dx;
    EXPECT_TRUE(Within(impact.m_ptFrame.y, cy + o.flash.dy, kRadius)) << impact.m_ptFrame.y << " vs " << cy + o.flash.dy;
    // The stored frame is the detection frame: the flash stands out there.
    const int fx = static_cast<int>(std::lround(cx + o.flash.dx));
    const int fy = static_cast<int>(std::lround(cy + o.flash.dy));
    EXPECT_GT(impact.m_frame.GetPixelRGB(fx, fy)[0], impact.m_frame.GetPixelRGB(fx - 5, fy)[0] + 30);

    // The windows heard of every view line and of each step of the run, in order.
    EXPECT_EQ(m_view->m_logLines.front(), "***************************************");
    EXPECT_EQ(m_view->m_logLines.back(), "End fase: RESULTS.");
    std::vector<int> phases;
    for (const SZubRunState& state : m_view->m_states)
        if (state.bRunning && state.nPhase != PHASE_IDLE && (phases.empty() || phases.back() != state.nPhase))
            phases.push_back(state.nPhase);
    EXPECT_EQ(phases, (std::vector<int>{PHASE_ROI, PHASE_AVG, PHASE_IMPACT, PHASE_RESULTS}));
    const SZubRunState end = m_view->m_states.back();
    EXPECT_TRUE(!end.bRunning && end.nCandidates == 1 && end.bMeanReady && end.bMaskReady && end.bProcessed);

    // ShowResults on and not silent: the results command goes to the view, no hint line.
    EXPECT_EQ(m_view->m_commands, std::vector<UINT>{ID_VIEW_RESULTS});
    EXPECT_FALSE(Has("Select 'View'/'Show results' for view candidates."));
    EXPECT_TRUE(Doc().IsCommandEnabled(ID_VIEW_RESULTS));
}

// The planet drifts 50 px right and 24 px down over a grey sky: the centres follow the disc,
// so every crop matches the mean frame and only the flash stands out.
TEST_F(ZubDetect, DriftingPlanetIsFollowedAndOnlyItsFlashFound)
{
    SZubSynthOptions o = VideoWithFlash();
    o.seed = 7;
    o.driftX = 0.33;
    o.driftY = 0.16;
    o.flash = {120, 6, 20, -12, 70};
    ASSERT_TRUE(Open(CZubTestRun::Synth("drift.ser", o)));
    double cx = 0, cy = 0;
    ZubSynthCentre(o, 150, cx, cy);
    const SZubPoint cm = Doc().Record(150)->m_ptCM;
    EXPECT_LT(std::hypot(cm.x - cx, cm.y - cy), 2.0) << cm.x << "," << cm.y;
    ASSERT_EQ(Doc().CandidateCount(), 1) << "first at frame " << Candidate(0).m_iFrame;
    EXPECT_GE(Candidate(0).m_iFrame, o.flash.iFrame);
    EXPECT_LT(Candidate(0).m_iFrame, o.flash.iFrame + o.flash.iDuration);
}

TEST_F(ZubDetect, RunAgainFindsTheSameCandidate)
{
    ASSERT_TRUE(Open(CZubTestRun::Synth("flash.ser", VideoWithFlash())));
    ASSERT_EQ(Doc().CandidateCount(), 1);
    const int frame = Candidate(0).m_iFrame;
    const SZubPoint rel = Candidate(0).m_ptRel;
    const std::vector<int> curve(Candidate(0).m_piPhotometry.get(), Candidate(0).m_piPhotometry.get() + 150);

    m_run->m_lines.clear();
    m_view->m_commands.clear();
    ASSERT_TRUE(Doc().IsCommandEnabled(ID_PROCESS_RUN));
    Doc().OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(m_run->WaitIdle());
    ASSERT_EQ(Doc().CandidateCount(), 1);
    EXPECT_EQ(Candidate(0).m_iFrame, frame);
    EXPECT_EQ(Candidate(0).m_ptRel, rel);
    EXPECT_EQ(std::vector<int>(Candidate(0).m_piPhotometry.get(), Candidate(0).m_piPhotometry.get() + 150), curve);
    EXPECT_EQ(Count("FOUND 1 CANDIDATES"), 1);
    EXPECT_EQ(m_view->m_commands, std::vector<UINT>{ID_VIEW_RESULTS});
}

TEST_F(ZubDetect, LimitedRunStopsBothPassesAtTheLimit)
{
    ZubApp().m_params.LimitProcessFrames = true;
    ZubApp().m_params.ProcessFrames = 100;
    ASSERT_TRUE(Open(CZubTestRun::Synth("flash.ser", VideoWithFlash())));
    EXPECT_EQ(Doc().m_nProcessed, 100);
    ASSERT_EQ(Doc().CandidateCount(), 1);
    EXPECT_EQ(Candidate(0).m_iFrames, 100);
    EXPECT_TRUE(Has("End fase: RESULTS."));
    EXPECT_EQ(Count("End fase: RESULTS."), 1);
    EXPECT_EQ(Doc().Record(120)->m_iFrame, 0);

    // A flash after the limit is not searched for.
    ZubApp().m_params.ProcessFrames = 70;
    m_run->m_lines.clear();
    ASSERT_TRUE(Open("flash.ser"));
    EXPECT_EQ(Doc().CandidateCount(), 0);
    EXPECT_TRUE(Has("NOT FOUND CANDIDATES"));
}

TEST_F(ZubDetect, NoFlashNoCandidate)
{
    ASSERT_TRUE(Open(CZubTestRun::Synth("quiet.ser", Video())));
    EXPECT_EQ(Doc().CandidateCount(), 0);
    const int at = m_run->LineIndex("NOT FOUND CANDIDATES");
    ASSERT_GT(at, 0);
    const std::string stars(34, '*');
    EXPECT_EQ(m_run->m_lines[static_cast<size_t>(at - 1)], stars);
    ASSERT_LT(at + 1, static_cast<int>(m_run->m_lines.size()));
    EXPECT_EQ(m_run->m_lines[static_cast<size_t>(at + 1)], stars);
    EXPECT_FALSE(Has("Init fase: Get RESULTS."));
    EXPECT_FALSE(Has("End fase: RESULTS."));
    EXPECT_FALSE(Has("Select 'View'/'Show results' for view candidates."));
    EXPECT_TRUE(m_view->m_commands.empty());
    EXPECT_FALSE(Doc().IsCommandEnabled(ID_VIEW_RESULTS));
    EXPECT_FALSE(Doc().m_bRunning);
    EXPECT_TRUE(DetectedFrames().empty());
}

TEST_F(ZubDetect, SilentModeLogsTheHintInsteadOfOpeningResults)
{
    ZubApp().m_bSilent = true;
    ASSERT_TRUE(Open(CZubTestRun::Synth("flash.ser", VideoWithFlash())));
    EXPECT_EQ(Doc().CandidateCount(), 1);
    EXPECT_TRUE(Has("End fase: RESULTS."));
    EXPECT_EQ(Count("Select 'View'/'Show results' for view candidates."), 1);
    EXPECT_TRUE(m_view->m_commands.empty());

    // ShowResults off: the same hint, silent or not.
    ZubApp().m_bSilent = false;
    ZubApp().m_params.ShowResults = false;
    m_run->m_lines.clear();
    ASSERT_TRUE(Open("flash.ser"));
    EXPECT_EQ(Count("Select 'View'/'Show results' for view candidates."), 1);
    EXPECT_TRUE(m_view->m_commands.empty());
}

TEST_F(ZubDetect, FifteenAndSixteenDetections)
{
    for (const int detections : {14, 15, 16})
    {
        m_run->m_lines.clear();
        CZubDoc& doc = Doc();
        // Quiet records: KIV finds nothing, the detections are set by hand 25 records apart.
        doc.m_pFrameData.assign(420, CZubCandidate());
        for (int i = 0; i < 420; ++i)
        {
            CZubCandidate& r = doc.m_pFrameData[static_cast<size_t>(i)];
            r.m_iFrame = i + 1;
            r.m_sizeRoi = {100, 80};
            r.m_iLevel = 128;
            r.m_iKivValue = 128;
            r.m_ptKiv = {50, 40};
        }
        for (int k = 0; k < detections; ++k)
            doc.m_pFrameData[static_cast<size_t>(10 + 25 * k)].m_iKivState = ZUB_STATE_CANDIDATE;
        doc.m_nProcessed = 420;
        doc.m_pCandidates = std::make_unique<CZubCandidateList>();

        EXPECT_EQ(doc.GetResults(), std::min(detections, 15)) << detections;
        EXPECT_EQ(Count("TOO MANY CANDIDATES"), std::max(0, detections - 14)) << detections;
        EXPECT_TRUE(Has("Finally detect " + std::to_string(detections) + " candidates.")) << detections;
        EXPECT_EQ(doc.m_pCandidates->m_aImpacts[14].m_iFrame, detections >= 15 ? 11 + 25 * 14 : 0);
        EXPECT_EQ(DetectedFrames().size(), static_cast<size_t>(detections));  // refused records keep their state
        EXPECT_EQ(doc.m_pCandidates->m_aImpacts[0].m_iFrames, 420);
    }
}

TEST_F(ZubDetect, SimulatedImpactOnASyntheticVideo)
{
    SZubParams& p = ZubApp().m_params;
    p.Simulation = true;
    p.RelativePositionX = 15;
    p.RelativePositionY = -10;
    SZubSynthOptions o = Video();
    o.iFrames = 100;
    ASSERT_TRUE(Open(CZubTestRun::Synth("quiet.ser", o)));

    ASSERT_EQ(Doc().CandidateCount(), 1);
    const CZubImpact& impact = Candidate(0);
    EXPECT_GE(impact.m_iFrame, 50);
    EXPECT_LE(impact.m_iFrame, 64);
    EXPECT_TRUE(Within(impact.m_ptRel.x, 15, kRadius)) << impact.m_ptRel.x;
    EXPECT_TRUE(Within(impact.m_ptRel.y, -10, kRadius)) << impact.m_ptRel.y;
    EXPECT_TRUE(Has("End fase: RESULTS."));
    // The results pass paints the spot again: the light curve peaks inside the window.
    const int* curve = impact.m_piPhotometry.get();
    const int peakFrame = static_cast<int>(std::max_element(curve, curve + impact.m_iFrames) - curve) + 1;
    EXPECT_GE(peakFrame, 50);
    EXPECT_LE(peakFrame, 64);
}

TEST_F(ZubDetect, BadIntensityIncIsReportedOncePerRun)
{
    SZubParams& p = ZubApp().m_params;
    p.Simulation = true;
    p.IntensityInc = 0;
    SZubSynthOptions o = Video();
    o.iFrames = 80;
    ASSERT_TRUE(Open(CZubTestRun::Synth("quiet.ser", o)));
    EXPECT_EQ(Count("SIMULATION: IntensityInc must be >= 1."), 1);
    EXPECT_EQ(Doc().CandidateCount(), 0);
    Doc().OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(m_run->WaitIdle());
    EXPECT_EQ(Count("SIMULATION: IntensityInc must be >= 1."), 2);
}

TEST_F(ZubDetect, SimulatedImpactOnTheRealRecording)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    SZubParams& p = ZubApp().m_params;
    p.Simulation = true;
    p.RelativePositionX = 10;
    p.RelativePositionY = 5;
    p.FrameInitial = 30;
    ASSERT_TRUE(Open(ZubSharedData("jupiter-dslr-256x256-mono8.ser")));

    // The ramp of 20 frames from frame 30 is visible in frames 30 to 44.
    int found = 0;
    std::ostringstream candidates;
    for (int i = 0; i < Doc().CandidateCount(); ++i)
    {
        const CZubImpact& impact = Candidate(i);
        candidates << " frame " << impact.m_iFrame << " at (" << impact.m_ptRel.x << "," << impact.m_ptRel.y << ")";
        if (impact.m_iFrame >= 30 && impact.m_iFrame <= 44 && Within(impact.m_ptRel.x, 10, kRadius) &&
            Within(impact.m_ptRel.y, 5, kRadius))
            ++found;
    }
    EXPECT_EQ(found, 1) << "candidates:" << candidates.str();
}

TEST_F(ZubDetect, FalseAlarmsOnTheRealRecording)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    ASSERT_TRUE(Open(ZubSharedData("jupiter-dslr-256x256-mono8.ser")));
    EXPECT_TRUE(Has("End fase: Find IMPACT."));
    const int count = Doc().CandidateCount();
    RecordProperty("false_alarms", count);
    std::cout << "Candidates with the default parameters on the real recording (no impact in it): " << count;
    for (int i = 0; i < count; ++i)
        std::cout << (i ? ", " : " at frames ") << Candidate(i).m_iFrame;
    std::cout << "\n";
}
