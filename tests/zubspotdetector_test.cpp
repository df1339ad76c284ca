// The second detector end to end: whole runs over synthetic videos at default settings.
#include "zubpictures.h"
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace
{
SZubSynthOptions Video()
{
    SZubSynthOptions o;
    o.iWidth = 240;
    o.iHeight = 180;
    o.iFrames = 120;
    o.seed = 4;
    return o;
}

// Adds `level` gray levels on a round spot at (dx, dy) from the disc's centre to frames
// first to last of an 8-bit mono SER.
void PaintSpot(const std::string& path, const SZubSynthOptions& o, int first, int last, double dx, double dy, int level)
{
    std::vector<uint8_t> bytes = ZubReadFile(path);
    for (int n = first; n <= last; ++n)
    {
        double cx = 0, cy = 0;
        ZubSynthCentre(o, n, cx, cy);
        const size_t frame = 178 + static_cast<size_t>(n - 1) * o.iWidth * o.iHeight;
        for (int y = -3; y <= 3; ++y)
            for (int x = -3; x <= 3; ++x)
            {
                const size_t row = static_cast<size_t>(std::lround(cy + dy) + y);
                const size_t at = frame + row * o.iWidth + static_cast<size_t>(std::lround(cx + dx) + x);
                const int add = static_cast<int>(level * std::exp(-(x * x + y * y) / 8.0));
                bytes[at] = static_cast<uint8_t>(std::min(255, bytes[at] + add));
            }
    }
    ZubWriteFile(path, bytes.data(), bytes.size());
}

class ZubSpotDetectorRun : public testing::Test
{
protected:
    void SetUp() override { ZubApp().m_params.ProcessAuto = true; }
    CZubDoc& Doc() { return m_run.m_doc; }
    const CZubImpact& Candidate(int i) { return Doc().m_pCandidates->m_aImpacts[static_cast<size_t>(i)]; }
    bool HasLineWith(const std::string& text) const
    {
        return std::any_of(m_run.m_lines.begin(), m_run.m_lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    int CountStates(int32_t CZubCandidate::*state, int value)
    {
        int n = 0;
        for (const CZubCandidate& r : Doc().m_pFrameData)
            n += r.*state == value;
        return n;
    }

    CZubTestRun m_run;
};
}  // namespace

TEST_F(ZubSpotDetectorRun, FaintShortFlashMissedByKivIsFoundAtItsFrameAndPlace)
{
    SZubSynthOptions o = Video();
    o.flash = {60, 4, 15, -10, 14, 2.0};
    ASSERT_TRUE(m_run.Open(CZubTestRun::Synth("faint.ser", o)));

    EXPECT_TRUE(m_run.HasLine("Detect algorithm: ZUB"));
    EXPECT_EQ(CountStates(&CZubCandidate::m_iKivState, ZUB_STATE_CANDIDATE), 0);
    ASSERT_EQ(Doc().CandidateCount(), 1);
    const CZubImpact& c = Candidate(0);
    EXPECT_EQ(c.m_iAlgorithm, 2);
    EXPECT_GE(c.m_iFrame, 60);
    EXPECT_LE(c.m_iFrame, 63);
    EXPECT_NEAR(c.m_ptRel.x, 15, 3);
    EXPECT_NEAR(c.m_ptRel.y, -10, 3);
    const CZubCandidate& record = *Doc().Record(c.m_iFrame);
    EXPECT_EQ(record.m_iZubState, ZUB_STATE_CANDIDATE);
    EXPECT_NEAR(record.m_iZubValue - record.m_iLevel, 14, 6);  // the brightness it added
    // The results pass keeps the frame of detection and the flash's place in it.
    double cx = 0, cy = 0;
    ZubSynthCentre(o, c.m_iFrame, cx, cy);
    EXPECT_NEAR(c.m_ptFrame.x, cx + 15, 4);
    EXPECT_NEAR(c.m_ptFrame.y, cy - 10, 4);
    EXPECT_TRUE(c.m_frame.HasBuffer());

    // The detection image peaks on the flash.
    const std::vector<float> image = Doc().m_spotDetector.DetectionImage();
    ASSERT_EQ(image.size(), static_cast<size_t>(record.m_sizeRoi.cx) * record.m_sizeRoi.cy);
    const size_t best = static_cast<size_t>(std::max_element(image.begin(), image.end()) - image.begin());
    EXPECT_NEAR(static_cast<int>(best % record.m_sizeRoi.cx), record.m_sizeRoi.cx / 2 + 15, 3);
    EXPECT_NEAR(static_cast<int>(best / record.m_sizeRoi.cx), record.m_sizeRoi.cy / 2 - 10, 3);
    // Its picture circles the candidate in the second detector's colour (yellow).
    const SZubPicture picture = ZubDetectionPicture(Doc());
    ASSERT_EQ(picture.pixels.size(), image.size() * 3);
    const size_t ring = (static_cast<size_t>(record.m_sizeRoi.cy / 2 + c.m_ptRel.y) * picture.iWidth +
                         record.m_sizeRoi.cx / 2 + c.m_ptRel.x + 8) * 3;
    EXPECT_EQ(std::vector<uint8_t>(picture.pixels.begin() + ring, picture.pixels.begin() + ring + 3),
              (std::vector<uint8_t>{255, 220, 0}));

    // Switched off: nothing of it in the run.
    ZubApp().m_params.ZubDetection = false;
    m_run.m_lines.clear();
    ASSERT_TRUE(m_run.Open("faint.ser"));
    EXPECT_EQ(Doc().CandidateCount(), 0);
    EXPECT_FALSE(m_run.HasLine("Detect algorithm: ZUB"));
}

TEST_F(ZubSpotDetectorRun, SpotLitInEveryFrameAfterTheMeanIsNotReported)
{
    // A spot that appears after the mean frame and stays: a moon or a fixed artefact.
    const SZubSynthOptions o = Video();
    const std::string path = CZubTestRun::Synth("fixed.ser", o);
    PaintSpot(path, o, 30, o.iFrames, -12, 8, 40);
    ASSERT_TRUE(m_run.Open(path));
    EXPECT_TRUE(m_run.HasLine("Detect algorithm: ZUB"));
    EXPECT_EQ(CountStates(&CZubCandidate::m_iZubState, ZUB_STATE_NONE), o.iFrames);
}

TEST_F(ZubSpotDetectorRun, FlashFoundByBothDetectorsIsListedOnceAsKiv)
{
    SZubSynthOptions o = Video();
    o.flash = {60, 6, 15, -10, 70, 2.0};
    ASSERT_TRUE(m_run.Open(CZubTestRun::Synth("bright.ser", o)));
    ASSERT_EQ(Doc().CandidateCount(), 1);
    EXPECT_EQ(Candidate(0).m_iAlgorithm, 1);
    EXPECT_EQ(CountStates(&CZubCandidate::m_iZubState, ZUB_STATE_CANDIDATE), 0);
    EXPECT_EQ(CountStates(&CZubCandidate::m_iZubState, ZUB_STATE_CLEARED), 1);
}

TEST_F(ZubSpotDetectorRun, FlashAtTheLimbOfASmallDiscAmongHotPixelsIsTheOnlyCandidate)
{
    // A disc 50 px across drifting under 60 hot pixels fixed on the sensor; the flash sits at
    // 0.85 of the radius, where the shrunk mask of the mean frame searches nothing.
    SZubSynthOptions o = Video();
    o.iWidth = 160;
    o.iHeight = 120;
    o.iFrames = 300;
    o.radius = 25;
    o.driftX = 0.05;
    o.driftY = 0.03;
    o.iHotPixels = 60;
    o.flash = {200, 6, 21, -3, 14, 1.5};
    ASSERT_TRUE(m_run.Open(CZubTestRun::Synth("small.ser", o)));

    EXPECT_TRUE(HasLineWith(" pixels of the sensor are defective and left out."));
    ASSERT_EQ(Doc().CandidateCount(), 1);
    EXPECT_EQ(Candidate(0).m_iAlgorithm, 2);
    EXPECT_GE(Candidate(0).m_iFrame, 200);
    EXPECT_LE(Candidate(0).m_iFrame, 205);
    EXPECT_NEAR(Candidate(0).m_ptRel.x, 21, 3);
    EXPECT_NEAR(Candidate(0).m_ptRel.y, -3, 3);
}

TEST_F(ZubSpotDetectorRun, FullListKeepsTheStrongestSoALateFlashIsListed)
{
    // KIV at a hair trigger makes about twenty detections from the start; a flash late in the
    // video is stronger than all of them.
    SZubSynthOptions o = Video();
    o.iFrames = 400;
    o.iDepth = 12;
    o.seed = 3;
    o.flash = {370, 6, 15, -10, 40, 2.0};
    ZubApp().m_params.MinIncrBright = 3;
    ASSERT_TRUE(m_run.Open(CZubTestRun::Synth("busy.ser", o)));

    EXPECT_TRUE(m_run.HasLine("TOO MANY CANDIDATES"));
    EXPECT_TRUE(HasLineWith("Not listed: "));
    ASSERT_EQ(Doc().CandidateCount(), 15);
    bool bFlash = false;
    for (int i = 0; i < 15; ++i)
    {
        bFlash = bFlash || (Candidate(i).m_iFrame >= 370 && Candidate(i).m_iFrame <= 376);
        if (i > 0)
        {
            EXPECT_LT(Candidate(i - 1).m_iFrame, Candidate(i).m_iFrame);  // still in frame order
        }
    }
    EXPECT_TRUE(bFlash);
}
