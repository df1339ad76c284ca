// The second detector end to end: whole runs over synthetic videos at default settings.
#include "zubpictures.h"
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

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
