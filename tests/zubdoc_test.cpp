// End-to-end runs of the document and the view through the headless loop, on synthetic
// SER videos and on a real recording.
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kSerHeader = 178;

SZubSynthOptions SmallVideo(int frames = 30)
{
    SZubSynthOptions o;
    o.iWidth = kWidth;
    o.iHeight = kHeight;
    o.iFrames = frames;
    return o;
}

std::string Fmt(const char* format, ...) ZUB_PRINTF(1, 2);
std::string Fmt(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// Runs `action` once, when the first console line starting with `prefix` is logged.
void OnLine(CZubTestRun& run, const std::string& prefix, std::function<void()> action)
{
    run.m_shell.m_consoleSink = [&run, prefix, action, bDone = false](const std::string& line) mutable {
        run.m_lines.push_back(line);
        if (!bDone && StartsWith(line, prefix))
        {
            bDone = true;
            action();
        }
    };
}

int CountPrefix(const CZubTestRun& run, const std::string& prefix)
{
    return static_cast<int>(std::count_if(run.m_lines.begin(), run.m_lines.end(),
                                          [&](const std::string& l) { return StartsWith(l, prefix); }));
}

std::vector<std::string> Slice(const std::vector<std::string>& v, size_t from, size_t count)
{
    if (from >= v.size())
        return {};
    return {v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(std::min(v.size(), from + count))};
}

// Planet sizes from the ROI trace lines, in frame order.
std::vector<SZubSize> RoiTraceSizes(const CZubTestRun& run)
{
    std::vector<SZubSize> sizes;
    for (const std::string& line : run.m_lines)
    {
        int n = 0;
        SZubSize s;
        if (std::sscanf(line.c_str(), "ROI frame: %d planet size: %dx%d", &n, &s.cx, &s.cy) == 3)
        {
            EXPECT_EQ(n, static_cast<int>(sizes.size()) + 1);
            sizes.push_back(s);
        }
    }
    return sizes;
}

// Width and height from a bitmap's header.
SZubSize BmpSize(const std::string& path)
{
    const std::vector<uint8_t> b = ZubReadFile(path);
    if (b.size() < 54)
        return {};
    auto le32 = [&](size_t i) { return static_cast<int32_t>(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | b[i + 3] << 24); };
    return {le32(18), le32(22)};
}

void RemoveFiles(std::initializer_list<std::string> names)
{
    for (const std::string& name : names)
        std::remove(name.c_str());
}

// A window whose handler runs a function: lets a test act between two frames of a pass.
class CActionWnd : public CZubWnd
{
public:
    static constexpr UINT kAct = WM_USER + 200;
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM) override
    {
        if (msg == kAct && m_action)
            m_action();
        if (msg == WM_TIMER && m_onTimer)
            m_onTimer();
        return 0;
    }
    std::function<void()> m_action;
    std::function<void()> m_onTimer;
};

// An 8-bit mono SER of `frames` frames (none: the header alone) with pixels from `pixel`.
void WriteSer(const std::string& path, int32_t headerCount, int frames, const std::function<uint8_t(int, int)>& pixel)
{
    std::vector<uint8_t> data(kSerHeader, 0);
    std::copy_n("LUCAM-RECORDER", 14, data.begin());
    auto put = [&](size_t at, int32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    };
    put(26, kWidth);
    put(30, kHeight);
    put(34, 8);
    put(38, headerCount);
    for (int n = 0; n < frames; ++n)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                data.push_back(pixel(x, y));
    ZubWriteFile(path, data.data(), data.size());
}

// "endless.avi": more frames than records can be made for; any other file fails to open.
class CEndlessSource : public IZubMediaSource
{
public:
    bool Connect(const std::string& path, SZubMediaFacts* facts) override
    {
        facts->bih.biWidth = kWidth;
        facts->bih.biHeight = kHeight;
        facts->bih.biBitCount = 24;
        facts->llFrames = INT64_MAX / 2;
        return path == "endless.avi";
    }
    bool Run(ZubFrameCallback, CZubWnd*) override { return false; }
    void Stop() override {}
    bool TakeEndOfStream() override { return false; }
};

class ZubDocRunTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Params().ProcessAuto = true;
    }
    static SZubParams& Params() { return ZubApp().m_params; }
    CZubTestRun run;
};
}  // namespace

// ---- The log of a whole run ---------------------------------------------------------------

TEST_F(ZubDocRunTest, LogOfASmallRunLineByLine)
{
    const std::string path = CZubTestRun::Synth("log.ser", SmallVideo());
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;
    const std::string roiLine = Fmt("Calculated ROI: %ix%i", doc.m_sizeRoi.cx, doc.m_sizeRoi.cy);
    const std::vector<std::string> head = {
        "***************************************",
        "New process started.",
        "File: log.ser",
        "Frame size: 160 x 120",
        "Number of frames: 30",
        "Frames per second: Not defined",
        "Media Sutype: ",
        "BITMAPINFOHEADER:",
        "biWidth: 160",
        "biHeight: 120",
        "biPlanes: 1",
        "biBitCount: 24",
        "biSizeImage: 57600",
        "biCompression: 0",
        "Automaticly PROCESS FILE.",
        "ROI: Use automatic process.",
        "ROI: Process 20 frames.",
        "ROI: Factor bright   0.900 dinamic range.",
        "ROI: Factor size     1.100 x planet size.",
        "ROI: Filter to smooth planet profile: 5.",
        "Avg. image: Process 20 frames.",
        "Channel selected for convert image",
        "Channel: Monochrome",
        "Trying to create array data for 30 frames...",
        "Created.",
        "Init...",
        "Init fase: Compute ROI",
        "Start processing SER file.",
        "Stop processing SER file.",
        "End fase: Compute ROI.",
        "----------------------",
        roiLine,
        "Init fase: Compute AVG.",
        "Start processing SER file.",
        "Stop processing SER file.",
        "Fase-II Calculate average frame.",
        "End fase: Compute AVG.",
        "----------------------",
        "Init fase: Find IMPACT.",
        "Start processing SER file.",
        "Stop processing SER file.",
        "End fase: Find IMPACT.",
        "----------------------",
    };
    // Between these the detection writes its own lines.
    const std::vector<std::string> tail = {
        "**********************************",
        "NOT FOUND CANDIDATES",
        "**********************************",
    };
    ASSERT_GE(run.m_lines.size(), head.size() + tail.size());
    EXPECT_EQ(Slice(run.m_lines, 0, head.size()), head);
    EXPECT_EQ(Slice(run.m_lines, run.m_lines.size() - tail.size(), tail.size()), tail);

    const std::string viewHead = "\r\n***************************************\r\nNew process started.\r\n"
                                 "File: log.ser\r\nInit fase: Compute ROI\r\nEnd fase: Compute ROI.\r\n" +
                                 roiLine +
                                 "\r\nInit fase: Compute AVG.\r\nEnd fase: Compute AVG.\r\n"
                                 "Init fase: Find IMPACT.\r\nEnd fase: Find IMPACT.";
    EXPECT_EQ(run.m_view.m_csLog.substr(0, viewHead.size()), viewHead);
    EXPECT_TRUE(run.m_view.m_csLog.ends_with("\r\nNOT FOUND CANDIDATES"));

    EXPECT_FALSE(doc.m_bRunning);
    EXPECT_EQ(doc.m_nPhase, PHASE_IDLE);
    EXPECT_EQ(doc.m_nRoiFrames, 20);
    EXPECT_EQ(doc.m_nAvgFrames, 20);
    EXPECT_EQ(doc.m_nProcessed, 30);
    EXPECT_EQ(doc.m_nRoiErrors, 0);
    EXPECT_EQ(doc.m_nFrame, 30);
    EXPECT_EQ(doc.RecordCount(), 30);
    EXPECT_TRUE(run.m_shell.m_messageBoxes.empty());
    EXPECT_EQ(run.m_view.m_nFrames, 30);
    EXPECT_EQ(run.m_view.m_csFileName, path);

    // Idle after a finished run: what may be done and viewed.
    EXPECT_TRUE(doc.IsCommandEnabled(ID_PROCESS_RUN));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_PROCESS_STOP));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_PARAMS_GENERAL));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_FRAME_DATA));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_MEAN));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_MASK));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_RESULTS));

    // End messages of this run arriving again are ignored.
    const size_t lines = run.m_lines.size();
    run.m_view.PostMessage(WM_END_ROI);
    run.m_view.PostMessage(WM_END_AVG);
    run.m_view.PostMessage(WM_END_IMPACT);
    EXPECT_TRUE(run.m_loop.PumpPending());
    EXPECT_EQ(run.m_lines.size(), lines);
}

TEST_F(ZubDocRunTest, FrameTraceLinesOfATinyRunLineByLine)
{
    // Both counts equal to the frames: the "all frames" branches.
    Params().WriteConsole = true;
    Params().ROIAutoNumFrames = 4;
    Params().DarkFrames = 4;
    const std::string path = CZubTestRun::Synth("trace.ser", SmallVideo(4));
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;

    std::vector<std::string> expected = {
        "ROI: Use automatic process.",
        "ROI: Process 4 frames.",
        "ROI: Frames in file < frames requested.",
        "ROI: Process all frames!!!",
        "ROI: Factor bright   0.900 dinamic range.",
        "ROI: Factor size     1.100 x planet size.",
        "ROI: Filter to smooth planet profile: 5.",
        "Avg. image: Process 4 frames.",
        "Avg. image: Frames in file < frames requested.",
        "Avg. image: Process all frames!!!",
        "Channel selected for convert image",
        "Channel: Monochrome",
        "Trying to create array data for 4 frames...",
        "Created.",
        "Init...",
        "Init fase: Compute ROI",
        "Start processing SER file.",
    };
    // The impact phase measures each frame as the ROI phase did, so its records hold the
    // sizes the ROI trace lines show.
    for (int n = 1; n <= 4; ++n)
    {
        const SZubSize s = doc.Record(n)->m_sizePlanet;
        expected.push_back(Fmt("ROI frame: %i planet size: %ix%i", n, s.cx, s.cy));
    }
    for (const char* line : {"Stop processing SER file.", "End fase: Compute ROI.", "----------------------"})
        expected.push_back(line);
    expected.push_back(Fmt("Calculated ROI: %ix%i", doc.m_sizeRoi.cx, doc.m_sizeRoi.cy));
    expected.push_back("Init fase: Compute AVG.");
    expected.push_back("Start processing SER file.");
    for (int n = 1; n <= 4; ++n)
        expected.push_back(Fmt("Fase-II AVG Add frame: %i", n));
    for (const char* line : {"Stop processing SER file.", "Fase-II Calculate average frame.", "End fase: Compute AVG.",
                             "----------------------", "Init fase: Find IMPACT.", "Start processing SER file."})
        expected.push_back(line);
    for (int n = 1; n <= 4; ++n)
    {
        const CZubCandidate& r = *doc.Record(n);
        expected.push_back(Fmt("PROCESS frame: %4i", n));
        expected.push_back(Fmt("KIV PROCESS frame: %4i PixMax at: (%3i-%3i) %3i", n, r.m_ptKiv.x, r.m_ptKiv.y,
                               r.m_iKivValue));
    }
    for (const char* line : {"Stop processing SER file.", "End fase: Find IMPACT.", "----------------------"})
        expected.push_back(line);

    const int from = run.LineIndex("ROI: Use automatic process.");
    ASSERT_GE(from, 0);
    EXPECT_EQ(Slice(run.m_lines, static_cast<size_t>(from), expected.size()), expected);
}

// ---- ROI, mean frame and mask ---------------------------------------------------------------

TEST_F(ZubDocRunTest, RoiIsTheMeanPlanetSizeTimesTheFactorTruncated)
{
    Params().ROIFactorSize = 1.3;
    EXPECT_EQ(CZubFrame::ScaleSize({301, 297}), (SZubSize{391, 386}));
    Params().ROIFactorSize = 1.1;
    EXPECT_EQ(CZubFrame::ScaleSize({301, 297}), (SZubSize{331, 326}));

    Params().ROIFactorSize = 1.3;
    Params().WriteConsole = true;
    std::vector<CZubCandidate> atRoiEnd;
    OnLine(run, "Calculated ROI:", [&] { atRoiEnd = run.m_doc.m_pFrameData; });
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("roi.ser", SmallVideo())));

    const std::vector<SZubSize> sizes = RoiTraceSizes(run);
    ASSERT_EQ(sizes.size(), 20u);
    SZubSize sum;
    for (const SZubSize& s : sizes)
        sum.cx += s.cx, sum.cy += s.cy;
    const SZubSize mean{sum.cx / 20, sum.cy / 20};
    const SZubSize roi{static_cast<int>(mean.cx * 1.3), static_cast<int>(mean.cy * 1.3)};
    EXPECT_GT(mean.cx, 60);
    EXPECT_EQ(run.m_doc.m_sizeRoi, roi);
    EXPECT_TRUE(run.HasLine(Fmt("Calculated ROI: %ix%i", roi.cx, roi.cy)));
    EXPECT_EQ(run.m_doc.m_frameRoi.m_iWidth, roi.cx);
    EXPECT_EQ(run.m_doc.m_frameRoi.m_iHeight, roi.cy);
    EXPECT_EQ(run.m_doc.m_frameRoi.m_iBits, FRAME_MONO8);

    // The ROI phase stores sizes and centres but no frame number.
    ASSERT_EQ(atRoiEnd.size(), 30u);
    for (int n = 1; n <= 20; ++n)
    {
        EXPECT_EQ(atRoiEnd[n - 1].m_sizePlanet, sizes[n - 1]) << n;
        EXPECT_EQ(atRoiEnd[n - 1].m_iFrame, 0) << n;
        EXPECT_NE(atRoiEnd[n - 1].m_ptCM, SZubPoint{}) << n;
    }
    EXPECT_EQ(atRoiEnd[20].m_sizePlanet, SZubSize{}) << "frames after the ROI frames are not measured";
}

TEST_F(ZubDocRunTest, MeanFrameIsTheTruncatedMeanOfTheCentredCrops)
{
    const std::string path = CZubTestRun::Synth("mean.ser", SmallVideo());
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;
    const SZubSize roi = doc.m_sizeRoi;
    ASSERT_TRUE(doc.m_bMeanReady);
    ASSERT_EQ(doc.m_frameMean.m_iBits, FRAME_MONO16);
    ASSERT_EQ(doc.m_frameMean.m_iWidth, roi.cx);
    ASSERT_EQ(doc.m_frameMean.m_iHeight, roi.cy);
    EXPECT_EQ(doc.m_frameMean.m_iAvgCount, 0);

    // The same crops, summed here.
    CZubSer ser;
    ASSERT_TRUE(ser.Open(path));
    CZubFrame video, mono, crop;
    video.Create(kWidth, kHeight, FRAME_COLOR_RGB24);
    mono.Create(kWidth, kHeight, FRAME_MONO8);
    crop.Create(roi.cx, roi.cy, FRAME_MONO8);
    std::vector<int> sum(static_cast<size_t>(roi.cx) * roi.cy, 0);
    for (int n = 1; n <= 20; ++n)
    {
        ASSERT_TRUE(ser.ReadNextFrame());
        video.SetPixels(ser.m_pFrame.data());
        video.ConvertAvi2Frame(mono, {0, 0}, {0, 0}, 0);
        const SZubPoint cm = mono.GetCenterOfMass();
        ASSERT_TRUE(cm.x >= 0 && cm.x <= kWidth && cm.y >= 0 && cm.y <= kHeight);
        video.ConvertAvi2Frame(crop, cm, roi, 0);
        for (int y = 0; y < roi.cy; ++y)
            for (int x = 0; x < roi.cx; ++x)
                sum[static_cast<size_t>(y) * roi.cx + x] += *crop.GetPixel(x, y);
    }
    int mismatches = 0;
    int roundedUp = 0;  // pixels where rounding instead of truncating would differ
    for (int y = 0; y < roi.cy; ++y)
        for (int x = 0; x < roi.cx; ++x)
        {
            const int s = sum[static_cast<size_t>(y) * roi.cx + x];
            mismatches += *doc.m_frameMean.GetPixel16(x, y) != s / 20;
            roundedUp += s % 20 >= 10;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(roundedUp, 100);
}

TEST_F(ZubDocRunTest, MaskIsShrunkByMaskPixelsOnTheCentreRow)
{
    const std::string path = CZubTestRun::Synth("mask.ser", SmallVideo());
    RemoveFiles({"frame-KIV-mask.bmp"});
    Params().SaveIntermediateFrames = true;
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;
    ASSERT_TRUE(doc.m_bMaskReady);
    ASSERT_EQ(doc.m_frameMask.m_iWidth, doc.m_sizeRoi.cx);
    ASSERT_EQ(doc.m_frameMask.m_iHeight, doc.m_sizeRoi.cy);
    EXPECT_EQ(BmpSize("frame-KIV-mask.bmp"), doc.m_sizeRoi);

    CZubFrame built;
    built.Create(doc.m_sizeRoi.cx, doc.m_sizeRoi.cy, FRAME_MONO8);
    doc.m_frameMean.MakeMask(built);
    const int k = built.CountCenterRow();
    const int shrunk = doc.m_frameMask.CountCenterRow();
    EXPECT_GT(k, 60) << "the disc spans most of the ROI";
    EXPECT_LE(shrunk, k - 40);
    EXPECT_GE(shrunk, k - 40 - 2) << "one step more than needed at most";
    int outside = 0;
    for (int y = 0; y < doc.m_sizeRoi.cy; ++y)
        for (int x = 0; x < doc.m_sizeRoi.cx; ++x)
            outside += *doc.m_frameMask.GetPixel(x, y) == 1 && *built.GetPixel(x, y) != 1;
    EXPECT_EQ(outside, 0) << "shrinking never adds pixels";

    // MaskPixels 0 leaves the mask as built.
    Params().MaskPixels = 0;
    ASSERT_TRUE(run.Open(path));
    EXPECT_EQ(run.m_doc.m_frameMask.CountCenterRow(), k);

    // Mask off: no mask, no mask file, Show mask disabled.
    RemoveFiles({"frame-KIV-mask.bmp"});
    Params().Mask = false;
    ASSERT_TRUE(run.Open(path));
    EXPECT_TRUE(run.m_doc.m_bMeanReady);
    EXPECT_FALSE(run.m_doc.m_bMaskReady);
    EXPECT_FALSE(run.m_doc.IsCommandEnabled(ID_VIEW_MASK));
    EXPECT_FALSE(ZubFileExists("frame-KIV-mask.bmp"));
}

// ---- Records of the impact phase ------------------------------------------------------------

TEST_F(ZubDocRunTest, RecordsFollowThePlanetAndTheFlash)
{
    SZubSynthOptions o = SmallVideo();
    o.discBrightness = 120.0;  // room above the disc for the flash
    o.flash.iFrame = 24;
    o.flash.iDuration = 3;
    o.flash.dx = 8.0;
    o.flash.dy = -4.0;
    o.flash.peak = 120.0;  // its first frame stands out even from a crop one pixel off the mean
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("flash.ser", o)));
    const CZubDoc& doc = run.m_doc;
    const double radius = 0.3 * kHeight;
    int brightestOutside = 0;
    for (int n = 1; n <= 30; ++n)
    {
        SCOPED_TRACE(n);
        const CZubCandidate& r = *doc.Record(n);
        double cx = 0, cy = 0;
        ZubSynthCentre(o, n, cx, cy);
        EXPECT_EQ(r.m_iFrame, n);
        EXPECT_EQ(r.m_sizeRoi, doc.m_sizeRoi);
        EXPECT_EQ(r.m_iChannel, 0);
        EXPECT_NEAR(r.m_ptCM.x, cx, 1.5);
        EXPECT_NEAR(r.m_ptCM.y, cy, 1.5);
        // The smoothing of the size measurement widens the disc by about two pixels a side.
        EXPECT_NEAR(r.m_sizePlanet.cx, 2 * radius + 4, 3);
        EXPECT_NEAR(r.m_sizePlanet.cy, 2 * radius * o.oblateness + 4, 3);
        EXPECT_NEAR(r.m_iLevel, 128, 3);
        if (n < o.flash.iFrame || n >= o.flash.iFrame + o.flash.iDuration)
        {
            brightestOutside = std::max(brightestOutside, r.m_iKivValue);
            continue;
        }
        // The flash, in ROI coordinates of this frame's crop.
        const int fx = static_cast<int>(std::lround(cx + o.flash.dx)) - (r.m_ptCM.x - doc.m_sizeRoi.cx / 2);
        const int fy = static_cast<int>(std::lround(cy + o.flash.dy)) - (r.m_ptCM.y - doc.m_sizeRoi.cy / 2);
        EXPECT_NEAR(r.m_ptKiv.x, fx, 1);
        EXPECT_NEAR(r.m_ptKiv.y, fy, 1);
        EXPECT_GT(r.m_iKivValue, 128 + 30);
    }
    EXPECT_LT(brightestOutside, doc.Record(25)->m_iKivValue - 40);
    EXPECT_GT(doc.Record(25)->m_iKivValue, doc.Record(24)->m_iKivValue);

    // The view shows the last frame's crop and record.
    EXPECT_EQ(run.m_view.m_frameImage.m_iWidth, doc.m_sizeRoi.cx);
    EXPECT_EQ(run.m_view.m_record.m_iFrame, 30);
    EXPECT_EQ(run.m_view.m_ptCM, doc.Record(30)->m_ptCM);
    EXPECT_EQ(run.m_view.m_sizePlanet, doc.Record(30)->m_sizePlanet);
}

// Patches that cannot be kept are reported, and a candidate without them still stands.
TEST_F(ZubDocRunTest, CandidateDataThatCannotBeKeptIsReported)
{
    SZubSynthOptions o = SmallVideo();
    o.discBrightness = 120.0;
    o.flash = {24, 3, 8.0, -4.0, 120.0, 1.2};
    run.m_doc.m_nPatchMemoryBytes = 0;  // every patch to the temporary file...
    const std::string path = CZubTestRun::Synth("nofile.ser", o);
    {
        CZubScopedEnv tmp("TMPDIR", "/nonexistent-zub-folder");  // ...which cannot be made
        ASSERT_TRUE(run.Open(path));
    }
    ASSERT_GE(run.m_doc.CandidateCount(), 1);
    const std::string error = run.m_doc.m_pCandidates->StorageError();
    EXPECT_NE(error.find("/nonexistent-zub-folder"), std::string::npos) << error;
    EXPECT_TRUE(run.HasLine("Could not keep the candidates' data: " + error));
    EXPECT_EQ(run.m_doc.m_pCandidates->GetPatch(0, 23), nullptr);
    EXPECT_TRUE(run.HasLine("End fase: RESULTS."));
}

TEST_F(ZubDocRunTest, SilentModeSendsCountersInsteadOfFrames)
{
    const std::string path = CZubTestRun::Synth("silent.ser", SmallVideo());
    ZubApp().m_bSilent = true;
    ASSERT_TRUE(run.Open(path));
    EXPECT_FALSE(run.m_view.m_frameImage.HasBuffer());
    EXPECT_EQ(run.m_view.m_record.m_iFrame, 0);
    EXPECT_EQ(run.m_view.m_ptCM, run.m_doc.Record(30)->m_ptCM);

    ZubApp().m_bSilent = false;
    Params().ShowHisto = true;
    ASSERT_TRUE(run.Open(path));
    EXPECT_EQ(run.m_view.m_frameImage.m_iWidth, run.m_doc.m_sizeRoi.cx);
    EXPECT_EQ(run.m_view.m_record.m_iFrame, 30);
    EXPECT_FALSE(run.m_view.m_bHistoEmpty);
}

TEST_F(ZubDocRunTest, LimitProcessFramesEndsTheImpactPhaseEarly)
{
    Params().LimitProcessFrames = true;
    Params().ProcessFrames = 10;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("limit.ser", SmallVideo())));
    EXPECT_EQ(run.m_doc.m_nProcessed, 10);
    EXPECT_EQ(run.m_doc.Record(10)->m_iFrame, 10);
    EXPECT_EQ(run.m_doc.Record(11)->m_iFrame, 0);
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_FALSE(run.m_doc.m_bRunning);

    // 0 frames to process: the first frame ends the phase.
    Params().ProcessFrames = 0;
    ASSERT_TRUE(run.Open(run.m_doc.m_csPathName));
    EXPECT_EQ(run.m_doc.m_nProcessed, 0);
    EXPECT_EQ(run.m_doc.Record(1)->m_iFrame, 0);
    EXPECT_FALSE(run.m_doc.IsCommandEnabled(ID_VIEW_FRAME_DATA));
    EXPECT_FALSE(run.m_doc.m_bRunning);
}

TEST_F(ZubDocRunTest, PlanetLargerThanTheRoiIsClampedToIt)
{
    Params().ROIFactorSize = 0.8;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("smallroi.ser", SmallVideo(10))));
    const CZubDoc& doc = run.m_doc;
    for (int n = 1; n <= 10; ++n)
    {
        EXPECT_TRUE(run.HasLine(Fmt("Frame: %i Size planet bigger than ROI. Adjust to ROI.", n))) << n;
        EXPECT_EQ(doc.Record(n)->m_sizePlanet, doc.m_sizeRoi) << n;
    }
    EXPECT_EQ(doc.m_nProcessed, 10);
}

TEST_F(ZubDocRunTest, WithoutSubtractionTheCropItselfIsSearched)
{
    Params().SubstractAvg = false;
    Params().Mask = false;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("nosub.ser", SmallVideo(10))));
    const CZubDoc& doc = run.m_doc;
    // The last frame's crop is still in m_frameRoi.
    const CZubCandidate& r = *doc.Record(10);
    EXPECT_EQ(r.m_iKivValue, doc.m_frameRoi.GetMaxValue());
    EXPECT_EQ(r.m_iKivValue, *doc.m_frameRoi.GetPixel(r.m_ptKiv.x, r.m_ptKiv.y));
    EXPECT_GT(r.m_iKivValue, 150) << "a pixel of the bright disc";
    EXPECT_EQ(r.m_iLevel, doc.m_frameRoi.GetMean(nullptr));
    EXPECT_FALSE(doc.m_bMaskReady);
}

// ---- Stop, and the choices at open ------------------------------------------------------------

namespace
{
struct SStopped
{
    bool bRunEnabledWhileRunning = true;
    bool bStopEnabledWhileRunning = false;
    bool bParamsEnabledWhileRunning = true;
    bool bFrameDataEnabledWhileRunning = true;
};

// Clears the running flag (Process -> Stop) when a line starting with `prefix` is logged.
SStopped StopAt(CZubTestRun& run, const std::string& path, const std::string& prefix)
{
    SStopped s;
    OnLine(run, prefix, [&] {
        CZubDoc& doc = run.m_doc;
        s.bRunEnabledWhileRunning = doc.IsCommandEnabled(ID_PROCESS_RUN);
        s.bStopEnabledWhileRunning = doc.IsCommandEnabled(ID_PROCESS_STOP);
        s.bParamsEnabledWhileRunning = doc.IsCommandEnabled(ID_PARAMS_TEST);
        s.bFrameDataEnabledWhileRunning = doc.IsCommandEnabled(ID_VIEW_FRAME_DATA);
        doc.OnCommand(ID_PROCESS_RUN);  // disabled: ignored
        doc.OnCommand(ID_PROCESS_STOP);
    });
    EXPECT_TRUE(run.Open(path));
    EXPECT_FALSE(s.bRunEnabledWhileRunning);
    EXPECT_TRUE(s.bStopEnabledWhileRunning);
    EXPECT_FALSE(s.bParamsEnabledWhileRunning);
    EXPECT_FALSE(s.bFrameDataEnabledWhileRunning);
    EXPECT_EQ(CountPrefix(run, "New process started."), 1);
    const CZubDoc& doc = run.m_doc;
    EXPECT_FALSE(doc.m_bRunning);
    EXPECT_EQ(doc.m_nPhase, PHASE_IDLE);
    EXPECT_EQ(run.m_lines.back(), "Stop processing SER file.");
    EXPECT_TRUE(doc.IsCommandEnabled(ID_PROCESS_RUN));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_PROCESS_STOP));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_PARAMS_GENERAL));
    return s;
}
}  // namespace

TEST_F(ZubDocRunTest, StopInTheRoiPhaseKeepsTheMeasuredRecords)
{
    Params().WriteConsole = true;
    const std::string path = CZubTestRun::Synth("stop1.ser", SmallVideo());
    StopAt(run, path, "ROI frame: 5 ");
    const CZubDoc& doc = run.m_doc;
    EXPECT_FALSE(run.HasLine("End fase: Compute ROI."));
    EXPECT_EQ(doc.m_sizeRoi, SZubSize{});
    EXPECT_NE(doc.Record(5)->m_sizePlanet, SZubSize{});
    EXPECT_EQ(doc.Record(6)->m_sizePlanet, SZubSize{});
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_MEAN));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_MASK));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_FRAME_DATA));

    // Run again: a whole new run on the same file.
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(CountPrefix(run, "New process started."), 2);
    EXPECT_EQ(doc.m_nProcessed, 30);
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_MEAN));
}

TEST_F(ZubDocRunTest, StopInTheMeanFramePhaseComputesNoMean)
{
    Params().WriteConsole = true;
    StopAt(run, CZubTestRun::Synth("stop2.ser", SmallVideo()), "Fase-II AVG Add frame: 5");
    const CZubDoc& doc = run.m_doc;
    EXPECT_TRUE(run.HasLine("End fase: Compute ROI."));
    EXPECT_FALSE(run.HasLine("Fase-II Calculate average frame."));
    EXPECT_FALSE(run.HasLine("End fase: Compute AVG."));
    EXPECT_NE(doc.m_sizeRoi, SZubSize{});
    EXPECT_FALSE(doc.m_bMeanReady);
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_MEAN));
    EXPECT_FALSE(doc.IsCommandEnabled(ID_VIEW_MASK));
    EXPECT_EQ(doc.m_nProcessed, 0);
}

TEST_F(ZubDocRunTest, StopInTheImpactPhaseKeepsWhatWasProcessed)
{
    Params().WriteConsole = true;
    StopAt(run, CZubTestRun::Synth("stop3.ser", SmallVideo()), "PROCESS frame:    5");
    const CZubDoc& doc = run.m_doc;
    EXPECT_FALSE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_EQ(doc.m_nProcessed, 5);
    EXPECT_EQ(doc.Record(5)->m_iFrame, 5);
    EXPECT_EQ(doc.Record(6)->m_iFrame, 0);
    EXPECT_TRUE(doc.m_bMeanReady);
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_MEAN));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_MASK));
    EXPECT_TRUE(doc.IsCommandEnabled(ID_VIEW_FRAME_DATA));
}

TEST_F(ZubDocRunTest, ChoicesAtOpenWhenNotAutomatic)
{
    const std::string path = CZubTestRun::Synth("choice.ser", SmallVideo());
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;
    const SZubSize roi = doc.m_sizeRoi;
    ASSERT_EQ(doc.m_nProcessed, 30);

    // Cancelled: the previous run's data stays.
    Params().ProcessAuto = false;
    run.m_shell.m_choice = EZubVideoChoice::Cancel;
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(run.m_lines.back(), "Process cancelled.");
    EXPECT_TRUE(run.m_view.m_csLog.ends_with("\r\nProcess cancelled."));
    EXPECT_EQ(run.m_shell.m_shownVideo.csSubtype, "");  // a mono SER has no subtype
    EXPECT_FALSE(doc.m_bRunning);
    EXPECT_EQ(doc.m_nProcessed, 30);
    EXPECT_EQ(doc.m_sizeRoi, roi);
    EXPECT_TRUE(doc.m_bMeanReady);
    EXPECT_TRUE(doc.m_bMaskReady);
    EXPECT_EQ(doc.Record(30)->m_iFrame, 30);

    // Play: the player gets the file, nothing runs.
    run.m_shell.m_choice = EZubVideoChoice::Play;
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(run.m_lines.back(), "Selected: PLAY FILE.");
    EXPECT_EQ(run.m_shell.m_playedVideos, std::vector<std::string>{path});
    EXPECT_EQ(doc.m_nProcessed, 30);

    // A colour camera's SER: its pattern is shown as the subtype.
    SZubSynthOptions bayer = SmallVideo();
    bayer.bBayer = true;
    run.m_shell.m_choice = EZubVideoChoice::Cancel;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("bayer.ser", bayer)));
    EXPECT_EQ(run.m_shell.m_shownVideo.csSubtype, "Bayer RGGB");
    ASSERT_TRUE(run.Open(path));

    // Process with the green channel.
    run.m_shell.m_choice = EZubVideoChoice::Process;
    run.m_shell.m_nChannel = 2;
    const size_t from = run.m_lines.size();
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    const std::vector<std::string> lines = Slice(run.m_lines, from, run.m_lines.size());
    auto has = [&](const char* l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
    EXPECT_TRUE(has("Selected: PROCESS FILE."));
    EXPECT_FALSE(has("Automaticly PROCESS FILE."));
    EXPECT_TRUE(has("Channel: Green"));
    EXPECT_EQ(doc.m_nChannel, 2);
    EXPECT_EQ(doc.Record(30)->m_iChannel, 2);
    EXPECT_TRUE(has("End fase: Find IMPACT."));
}

// Opening a file stops the active run; however the new process ends before its run starts,
// the document is left idle, not running with nothing to run.
TEST_F(ZubDocRunTest, OpeningAFileThatStartsNoRunLeavesTheDocumentIdle)
{
    CZubTestRun::Synth("active.ser", SmallVideo(10));
    WriteSer("noframes.ser", 0, 0, {});
    CZubDoc& doc = run.m_doc;
    doc.SetMediaFactory([] { return std::make_unique<CEndlessSource>(); });
    using enum EZubVideoChoice;
    const struct
    {
        EZubVideoChoice choice;
        int roiAutomatic;  // 0: a fixed ROI larger than the frame
        const char* path;
    } kExits[] = {{Cancel, 1, "active.ser"}, {Play, 1, "active.ser"}, {Process, 0, "active.ser"},
                  {Process, 1, "noframes.ser"}, {Process, 1, "other.avi"}, {Process, 1, "endless.avi"}};
    for (const auto& [choice, roiAutomatic, path] : kExits)
    {
        SCOPED_TRACE(testing::Message() << path << " " << static_cast<int>(choice) << " " << roiAutomatic);
        Params().ProcessAuto = true;
        Params().ROIAutomatic = 1;
        ASSERT_TRUE(doc.OnOpenDocument("active.ser"));
        ASSERT_TRUE(doc.m_bRunning);
        Params().ProcessAuto = false;
        Params().ROIAutomatic = roiAutomatic;
        run.m_shell.m_choice = choice;
        doc.OpenChosenFile(path, path, std::string(path).ends_with("ser"));
        EXPECT_FALSE(doc.m_bRunning);
        EXPECT_EQ(doc.m_nPhase, PHASE_IDLE);
        EXPECT_TRUE(doc.IsCommandEnabled(ID_PROCESS_RUN));
        EXPECT_TRUE(doc.IsCommandEnabled(ID_PARAMS_KIV));
        EXPECT_TRUE(run.WaitIdle(2000));
    }
    EXPECT_TRUE(run.HasLine("Could not create data array for all frames!!!"));
}

TEST_F(ZubDocRunTest, FixedRoi)
{
    const std::string path = CZubTestRun::Synth("fixed.ser", SmallVideo());
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;

    // Larger than the frame (the default 640 x 480): refused after the counters were reset.
    Params().ROIAutomatic = 0;
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    const std::vector<std::string> refused = {
        "ROI: Use fixed size.",
        "ROI: Size 640 x 480.",
        "********************************",
        "Manual ROI bigger than frame.",
        "STOP process.",
        "********************************",
    };
    ASSERT_GE(run.m_lines.size(), refused.size());
    EXPECT_EQ(Slice(run.m_lines, run.m_lines.size() - refused.size(), refused.size()), refused);
    EXPECT_EQ(run.m_shell.m_messageBoxes,
              std::vector<std::string>{"Selected: Fixed ROI size.\nbigger than frame size."});
    EXPECT_FALSE(doc.m_bRunning);
    EXPECT_EQ(doc.m_nProcessed, 0);
    EXPECT_FALSE(doc.m_bMeanReady);
    EXPECT_EQ(doc.RecordCount(), 30) << "the records are freed only later";

    // One pixel too wide is refused as well; exactly the frame size is accepted.
    Params().ROIManualWidth = kWidth + 1;
    Params().ROIManualHeight = kHeight;
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(run.m_shell.m_messageBoxes.size(), 2u);
    // An empty fixed ROI is refused too.
    Params().ROIManualWidth = 0;
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(run.m_shell.m_messageBoxes.back(), "Selected: Fixed ROI size.\nsmaller than 1 x 1.");
    EXPECT_FALSE(doc.m_bRunning);
    run.m_shell.m_messageBoxes.pop_back();

    Params().ROIManualWidth = kWidth;
    const size_t from = run.m_lines.size();
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());
    EXPECT_EQ(run.m_shell.m_messageBoxes.size(), 2u);
    const std::vector<std::string> lines = Slice(run.m_lines, from, run.m_lines.size());
    const std::vector<std::string> start = {"Init...", "ROI manual: Skipping FASE ROI.", "Init fase: Compute Avg. frame",
                                            "Start processing SER file."};
    const auto at = std::find(lines.begin(), lines.end(), "Init...");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(Slice(lines, static_cast<size_t>(at - lines.begin()), start.size()), start);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "End fase: Compute ROI."), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "End fase: Find IMPACT."), 1);
    EXPECT_EQ(doc.m_sizeRoi, (SZubSize{kWidth, kHeight}));
    EXPECT_EQ(doc.m_frameMean.m_iWidth, kWidth);
    EXPECT_EQ(doc.m_nProcessed, 30);
}

// ---- Files written on request ---------------------------------------------------------------

TEST_F(ZubDocRunTest, IntermediateImagesAndTables)
{
    RemoveFiles({"frame-avi.bmp", "frame-monochrome.bmp", "frame-subs-avg3.bmp", "frame-KIV-mask.bmp",
                 "frame-avg.bmp", "frame3.bmp", "frame4.bmp", "frame5.bmp", "frame6.bmp", "frame7.bmp",
                 "Frame4.csv", "Frame5.csv", "Frame6.csv"});
    Params().SaveIntermediateFrames = true;
    Params().SaveAllFrameNumber = 3;
    Params().SaveAvgFrame = true;
    Params().LogDetailsFrames = true;
    Params().LogDetailsFramesFrom = 4;
    Params().LogDetailsFramesTo = 6;
    Params().LogImagesCsv = true;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("files.ser", SmallVideo())));
    const SZubSize roi = run.m_doc.m_sizeRoi;

    EXPECT_EQ(BmpSize("frame-avi.bmp"), (SZubSize{kWidth, kHeight}));
    EXPECT_EQ(BmpSize("frame-monochrome.bmp"), roi) << "last written by the impact phase: the crop";
    EXPECT_EQ(BmpSize("frame-subs-avg3.bmp"), roi);
    EXPECT_EQ(BmpSize("frame-KIV-mask.bmp"), roi);
    EXPECT_EQ(BmpSize("frame-avg.bmp"), roi);
    EXPECT_TRUE(run.HasLine("Save average frame 'frame-avg.bmp'."));
    EXPECT_EQ(run.LineIndex("Save average frame 'frame-avg.bmp'."),
              run.LineIndex("Fase-II Calculate average frame.") + 1);
    for (int n = 4; n <= 6; ++n)
    {
        EXPECT_EQ(BmpSize(Fmt("frame%i.bmp", n)), roi) << n;
        const std::string csv = ZubReadText(Fmt("Frame%i.csv", n));
        EXPECT_TRUE(csv.starts_with("Col;0;1;2;")) << n;
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), roi.cy + 1) << n;
    }
    EXPECT_FALSE(ZubFileExists("frame3.bmp"));
    EXPECT_FALSE(ZubFileExists("frame7.bmp"));
}

TEST_F(ZubDocRunTest, NothingSavedForFrameZero)
{
    RemoveFiles({"frame-avi.bmp", "frame-monochrome.bmp"});
    Params().SaveIntermediateFrames = true;
    Params().SaveAllFrameNumber = 0;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("files0.ser", SmallVideo(8))));
    EXPECT_FALSE(ZubFileExists("frame-avi.bmp"));
    EXPECT_FALSE(ZubFileExists("frame-monochrome.bmp"));
}

// ---- Files the run cannot use as they are -----------------------------------------------------

TEST_F(ZubDocRunTest, UpperCaseSerExtensionGoesToTheMediaSource)
{
    const std::string path = CZubTestRun::Synth("upper.SER", SmallVideo(4));
    ASSERT_TRUE(run.Open(path));
    EXPECT_FALSE(run.m_doc.m_bSer);
    EXPECT_FALSE(run.m_doc.m_bRunning);
    const std::vector<std::string> expected = {"File: upper.SER", "Connecting video driver...",
                                               "Unsupported media type!!!", "Process aborted!!!"};
    EXPECT_EQ(Slice(run.m_lines, 2, 10), expected);
    EXPECT_EQ(run.m_shell.m_messageBoxes, std::vector<std::string>{"Unsupported media type!"});
}

TEST_F(ZubDocRunTest, SerWithoutWholeFramesDoesNotStartARun)
{
    // One that cannot be opened, after one that could: its error, and no choice offered on
    // the earlier file's facts.
    Params().ProcessAuto = false;
    run.m_shell.m_choice = EZubVideoChoice::Cancel;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("good.ser", SmallVideo(4))));
    ASSERT_TRUE(run.HasLine("Process cancelled."));
    run.m_lines.clear();
    ZubWriteText("zero.ser", "");
    ASSERT_TRUE(run.Open("zero.ser"));
    EXPECT_EQ(run.m_shell.m_messageBoxes, std::vector<std::string>{"Cannot open SER file."});
    EXPECT_FALSE(run.HasLine("Process cancelled.") || run.HasLine("Frame size: 160 x 120"));
    EXPECT_EQ(run.m_doc.m_llFrames, 0);
    for (const int32_t headerCount : {0, 5})
    {
        SCOPED_TRACE(headerCount);
        CZubTestRun empty;
        ZubApp().m_params.ProcessAuto = true;
        WriteSer("empty.ser", headerCount, 0, {});
        ASSERT_TRUE(empty.Open("empty.ser"));
        EXPECT_TRUE(empty.HasLine("Frame size: 160 x 120"));
        EXPECT_TRUE(empty.HasLine("Number of frames: 0"));
        EXPECT_EQ(empty.HasLine("SER file is cut off: the header says 5 frames, the file holds 0."),
                  headerCount == 5);
        const std::vector<std::string> tail = {"biCompression: 0", "No frames in file.", "Process aborted!!!"};
        EXPECT_EQ(Slice(empty.m_lines, empty.m_lines.size() - 3, 3), tail);
        EXPECT_EQ(empty.m_shell.m_messageBoxes, std::vector<std::string>{"No frames in file."});
        EXPECT_FALSE(empty.m_doc.m_bRunning);
        EXPECT_FALSE(empty.m_doc.IsCommandEnabled(ID_PROCESS_STOP));
    }
}

TEST_F(ZubDocRunTest, ZeroRoiAndMeanCountsCountAsOne)
{
    Params().ROIAutoNumFrames = 0;
    Params().DarkFrames = 0;
    Params().WriteConsole = true;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("zero.ser", SmallVideo(10))));
    const CZubDoc& doc = run.m_doc;
    EXPECT_TRUE(run.HasLine("ROI: Process 0 frames."));
    EXPECT_TRUE(run.HasLine("Avg. image: Process 0 frames."));
    EXPECT_EQ(doc.m_nRoiFrames, 1);
    EXPECT_EQ(doc.m_nAvgFrames, 1);
    const std::vector<SZubSize> sizes = RoiTraceSizes(run);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(doc.m_sizeRoi, CZubFrame::ScaleSize(sizes[0]));
    EXPECT_EQ(CountPrefix(run, "Fase-II AVG Add frame:"), 1);
    EXPECT_TRUE(doc.m_bMeanReady);
    EXPECT_EQ(doc.m_nProcessed, 10);
    EXPECT_FALSE(doc.m_bRunning);
}

TEST_F(ZubDocRunTest, MeanFrameCountIsLimitedTo255)
{
    SZubSynthOptions o = SmallVideo(300);
    o.iWidth = 48;
    o.iHeight = 40;
    const std::string path300 = CZubTestRun::Synth("avg300.ser", o);
    o.iFrames = 255;
    const std::string path255 = CZubTestRun::Synth("avg255.ser", o);

    struct SCase
    {
        std::string path;
        bool bAll;
        int nDark;
        bool bLimited;
    };
    const SCase cases[] = {
        {path300, false, 300, true},
        {path300, false, 256, true},
        {path300, true, 20, true},
        {path255, true, 20, false},
        {path300, false, 255, false},
    };
    for (const SCase& c : cases)
    {
        SCOPED_TRACE(c.path + " all " + std::to_string(c.bAll) + " dark " + std::to_string(c.nDark));
        run.m_lines.clear();
        Params().DarkAllFrames = c.bAll;
        Params().DarkFrames = c.nDark;
        ASSERT_TRUE(run.Open(c.path));
        EXPECT_EQ(run.m_doc.m_nAvgFrames, 255);
        EXPECT_EQ(run.HasLine("Avg. image: Limited to 255 frames."), c.bLimited);
        EXPECT_TRUE(run.m_shell.m_messageBoxes.empty()) << "no 256th addition";
        EXPECT_TRUE(run.m_doc.m_bMeanReady);
        EXPECT_LE(run.m_doc.m_frameMean.GetMaxValue(), 255);
        EXPECT_EQ(run.m_doc.m_nProcessed, c.path == path300 ? 300 : 255);
    }
}

TEST_F(ZubDocRunTest, TruncatedFileEndsEachPassAtItsEnd)
{
    Params().WriteConsole = true;
    const std::string path = CZubTestRun::Synth("truncated.ser", SmallVideo());
    ASSERT_TRUE(run.m_doc.OnOpenDocument(path));
    // The first pass has the file open already: it meets the new end while reading.
    ASSERT_EQ(truncate(path.c_str(), kSerHeader + 10 * kWidth * kHeight), 0);
    ASSERT_TRUE(run.WaitIdle(20000));
    const CZubDoc& doc = run.m_doc;
    EXPECT_FALSE(doc.m_bRunning);
    EXPECT_TRUE(run.HasLine("End fase: Compute ROI."));
    EXPECT_TRUE(run.HasLine("End fase: Compute AVG."));
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));

    // The ten missing ROI records count with size 0 and pull the mean down.
    const std::vector<SZubSize> sizes = RoiTraceSizes(run);
    ASSERT_EQ(sizes.size(), 10u);
    SZubSize sum;
    for (const SZubSize& s : sizes)
        sum.cx += s.cx, sum.cy += s.cy;
    EXPECT_EQ(doc.m_sizeRoi, CZubFrame::ScaleSize({sum.cx / 20, sum.cy / 20}));
    EXPECT_EQ(CountPrefix(run, "Fase-II AVG Add frame:"), 10);
    EXPECT_TRUE(doc.m_bMeanReady) << "the mean of the frames that were there";
    EXPECT_EQ(doc.m_nProcessed, 10);
    EXPECT_EQ(doc.Record(11)->m_iFrame, 0);
}

TEST_F(ZubDocRunTest, MeanFrameWithoutFramesAbortsTheRun)
{
    const std::string path = CZubTestRun::Synth("nomean.ser", SmallVideo());
    OnLine(run, "Init fase: Compute AVG.", [&] { ASSERT_EQ(truncate(path.c_str(), kSerHeader), 0); });
    ASSERT_TRUE(run.Open(path, 20000));
    EXPECT_FALSE(run.m_doc.m_bRunning);
    EXPECT_FALSE(run.m_doc.m_bMeanReady);
    const std::vector<std::string> tail = {"Stop processing SER file.", "No frames averaged.", "Process aborted!!!"};
    EXPECT_EQ(Slice(run.m_lines, run.m_lines.size() - 3, 3), tail);
    EXPECT_FALSE(run.HasLine("Init fase: Find IMPACT."));
}

TEST_F(ZubDocRunTest, FileGoneAtTheStartOfAPassEndsTheRun)
{
    const std::string path = CZubTestRun::Synth("gone.ser", SmallVideo());
    ASSERT_TRUE(run.m_doc.OnOpenDocument(path));
    // The first pass reads the file it already opened; the second cannot open it.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_TRUE(run.WaitIdle(20000));
    const std::vector<std::string> tail = {"Init fase: Compute AVG.", "Cannot open SER file.", "Process aborted!!!"};
    EXPECT_EQ(Slice(run.m_lines, run.m_lines.size() - 3, 3), tail);
    EXPECT_FALSE(run.m_doc.m_bRunning);
    EXPECT_EQ(run.m_doc.m_nPhase, PHASE_IDLE);
    EXPECT_TRUE(run.m_doc.IsCommandEnabled(ID_PROCESS_RUN));
}

TEST_F(ZubDocRunTest, NoPlanetSizeGivesAWholeFrameRoiAndTheRunGoesOn)
{
    // A band brighter to the right: the bright run through the centre of mass reaches the
    // right border, so no width is measured.
    WriteSer("gradient.ser", 10, 10,
             [](int x, int y) { return static_cast<uint8_t>(y >= 10 && y < 110 ? 40 + x : 0); });
    ASSERT_TRUE(run.Open("gradient.ser"));
    const CZubDoc& doc = run.m_doc;
    EXPECT_EQ(doc.Record(1)->m_sizePlanet.cx, 0);
    EXPECT_GT(doc.Record(1)->m_sizePlanet.cy, 90);
    const int at = run.LineIndex("ROI: No planet size measured. ROI = whole frame.");
    ASSERT_GE(at, 0);
    EXPECT_EQ(run.LineIndex("Calculated ROI: 160x120"), at + 1);
    EXPECT_EQ(doc.m_sizeRoi, (SZubSize{kWidth, kHeight}));
    EXPECT_EQ(doc.m_frameRoi.m_iWidth, kWidth);
    EXPECT_TRUE(doc.m_bMeanReady);
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_EQ(doc.m_nProcessed, 10);
    EXPECT_FALSE(doc.m_bRunning);
}

TEST_F(ZubDocRunTest, ExtremeRoiFactorsAreClampedBeforeTheRoiIsSized)
{
    const std::string path = CZubTestRun::Synth("factor.ser", SmallVideo(10));
    Params().ROIFactorSize = 1e8;
    ASSERT_TRUE(run.Open(path));
    EXPECT_TRUE(run.HasLine("ROI: Size limited to 640x480."));
    // A planet was measured: the factor, not the planet, is to blame.
    Params().ROIFactorSize = -1.0;
    ASSERT_TRUE(run.Open(path));
    EXPECT_TRUE(run.HasLine("ROI: Factor size -1.000 gives an empty ROI. ROI = whole frame."));
    EXPECT_FALSE(run.HasLine("ROI: No planet size measured. ROI = whole frame."));
    EXPECT_EQ(run.m_doc.m_sizeRoi, (SZubSize{kWidth, kHeight}));
    Params().ROIFactorSize = std::nan("");
    EXPECT_EQ(CZubFrame::ScaleSize({301, 297}), SZubSize{});
}

TEST_F(ZubDocRunTest, BlackVideoIsMeasuredAroundTheCentre)
{
    SZubSynthOptions o = SmallVideo(10);
    o.noise = 0.0;
    o.discBrightness = 0.0;
    o.sky = 0.0;
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("black.ser", o)));
    const CZubDoc& doc = run.m_doc;
    // Measured in each of the three passes, the size only in the ROI and impact passes.
    EXPECT_EQ(CountPrefix(run, "Frame: 1 CM ERROR. CM moved to image center."), 3);
    EXPECT_EQ(CountPrefix(run, "Frame: 1 Size planet ERROR. Same as image."), 2);
    // The whole frame times the factor: a ROI past the frame's edges, counted per frame.
    EXPECT_EQ(doc.m_sizeRoi, (SZubSize{176, 132}));
    EXPECT_EQ(doc.m_nRoiErrors, 10);
    const int at = run.LineIndex("ERRORS in conversion to monochrome");
    ASSERT_GE(at, 1);
    EXPECT_EQ(run.m_lines[at - 1], "**********************************");
    EXPECT_EQ(run.m_lines[at + 1], "ROI outside frame in 10 Frames.");
    EXPECT_EQ(doc.m_nProcessed, 10);
    for (int n = 1; n <= 10; ++n)
    {
        EXPECT_EQ(doc.Record(n)->m_ptCM, (SZubPoint{kWidth / 2, kHeight / 2}));
        EXPECT_EQ(doc.Record(n)->m_sizePlanet, (SZubSize{kWidth, kHeight}));
        EXPECT_EQ(doc.Record(n)->m_iKivValue, 0);
    }
    EXPECT_FALSE(doc.m_bRunning);
}

// ---- The frame callback and the pass loop -----------------------------------------------------

TEST_F(ZubDocRunTest, BufferOfUnexpectedSizeIsSkipped)
{
    Params().WriteConsole = true;
    CActionWnd poke;
    const std::vector<uint8_t> shortBuffer(100, 0);
    poke.m_action = [&] { run.m_doc.OnVideoFrame(0.0, shortBuffer.data(), static_cast<long>(shortBuffer.size())); };
    OnLine(run, "PROCESS frame:    5", [&] { poke.PostMessage(CActionWnd::kAct); });
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("short.ser", SmallVideo())));
    const CZubDoc& doc = run.m_doc;
    EXPECT_TRUE(run.HasLine("Frame: 6 unexpected size. Skipped."));
    EXPECT_EQ(doc.Record(5)->m_iFrame, 5);
    EXPECT_EQ(doc.Record(6)->m_iFrame, 0) << "the skipped frame leaves its record alone";
    EXPECT_EQ(doc.Record(7)->m_iFrame, 7);
    EXPECT_EQ(doc.m_nProcessed, 29);
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_FALSE(doc.m_bRunning);
}

TEST_F(ZubDocRunTest, QuitMessageMetByThePassLoopStaysQueued)
{
    Params().WriteConsole = true;
    int frameAtQuit = 0;
    OnLine(run, "Fase-II AVG Add frame: 5", [&] {
        run.m_loop.Quit(7);
        frameAtQuit = run.m_doc.m_nFrame;
    });
    CActionWnd guard;
    guard.m_onTimer = [&] { run.m_loop.Quit(99); };
    ASSERT_TRUE(run.m_doc.OnOpenDocument(CZubTestRun::Synth("quit.ser", SmallVideo())));
    guard.SetTimer(1, 20000, true);
    EXPECT_EQ(run.m_loop.Run(), 7) << "Run ends on the quit message the pass loop left";
    EXPECT_EQ(frameAtQuit, 5);
    EXPECT_EQ(run.m_doc.m_nFrame, 5) << "no frame read after the quit";
    EXPECT_TRUE(run.m_doc.m_bRunning);
    guard.KillTimer(1);
}

TEST_F(ZubDocRunTest, NestedPassLoopHandlesEveryFrameOnce)
{
    // A slow frame lets the next pass's start timer fire inside the running pass loop: the
    // two loops then share the reader, and still every frame is handled once.
    Params().WriteConsole = true;
    OnLine(run, "Fase-II AVG Add frame: 2", [] { usleep(300 * 1000); });
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("nested.ser", SmallVideo())));
    for (int n = 1; n <= 30; ++n)
    {
        EXPECT_EQ(std::count(run.m_lines.begin(), run.m_lines.end(), Fmt("Fase-II AVG Add frame: %i", n)),
                  n <= 20 ? 1 : 0)
            << n;
        EXPECT_EQ(std::count(run.m_lines.begin(), run.m_lines.end(), Fmt("PROCESS frame: %4i", n)), 1) << n;
    }
    EXPECT_EQ(CountPrefix(run, "End fase: Find IMPACT."), 1);
    EXPECT_EQ(run.m_doc.m_nProcessed, 30);
    EXPECT_FALSE(run.m_doc.m_bRunning);
}

// Stops, closes and reruns SER runs at random moments, while the read-ahead thread reads:
// the UI thread never waits for ever, and a run started again is whole.
TEST_F(ZubDocRunTest, StoppingSerRunsAtRandomMomentsNeverDeadlocks)
{
    SZubSynthOptions o = SmallVideo(30);
    o.discBrightness = 120.0;
    o.flash = {20, 3, 8.0, -4.0, 120.0, 1.2};
    const std::string path = CZubTestRun::Synth("stress.ser", o);
    Params().WriteConsole = true;  // many lines: many moments to stop at
    run.m_view.m_nSerStartDelayMs = 0;  // passes nest at once, and the runs are short
    int totalLines = 0;
    run.m_shell.m_consoleSink = [&](const std::string&) { ++totalLines; };
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Open(path));
    const auto runUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_GE(run.m_doc.CandidateCount(), 1) << "the results pass runs too";

    CWatchdog watchdog(30);
    std::mt19937 random(20240611);
    CActionWnd actor;
    enum EHow { StopAtLine, StopAfterTime, CloseAfterTime, StopAndRunAgain, kHows };
    std::array<int, 5> stopsInPhase{};
    for (int i = 0; i < 200; ++i)
    {
        const EHow how = static_cast<EHow>(random() % kHows);
        const int line = 1 + static_cast<int>(random() % static_cast<unsigned>(totalLines));
        const unsigned ms = static_cast<unsigned>(random() % (runUs.count() / 1000 + 1));
        watchdog.Progress("iteration " + std::to_string(i) + ", way " + std::to_string(how));
        int lines = 0;
        run.m_shell.m_consoleSink = [&](const std::string&) {
            if (how == StopAtLine && ++lines == line)
            {
                ++stopsInPhase[static_cast<size_t>(run.m_doc.m_nPhase)];
                run.m_doc.OnCommand(ID_PROCESS_STOP);
            }
        };
        actor.m_onTimer = [&] {
            if (how == CloseAfterTime)
                return run.m_doc.OnCloseDocument();
            run.m_doc.OnCommand(ID_PROCESS_STOP);
            if (how == StopAndRunAgain)
                run.m_doc.OnCommand(ID_PROCESS_RUN);
        };
        if (how != StopAtLine)
            actor.SetTimer(1, ms, true);
        ASSERT_TRUE(run.m_doc.OnOpenDocument(path));
        ASSERT_TRUE(run.WaitIdle(20000)) << "iteration " << i;
        actor.KillTimer(1);
        if (how == StopAndRunAgain)
        {
            EXPECT_EQ(run.m_doc.m_nProcessed, 30) << "iteration " << i;
        }
    }
    run.m_shell.m_consoleSink = nullptr;
    for (int phase = PHASE_ROI; phase <= PHASE_RESULTS; ++phase)
        EXPECT_GT(stopsInPhase[static_cast<size_t>(phase)], 0) << "no stop in phase " << phase;
}

// ---- A real recording -------------------------------------------------------------------------

TEST_F(ZubDocRunTest, RealJupiterDriftIsFollowed)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    const std::string path = ZubSharedData("jupiter-dslr-256x256-mono8.ser");
    ASSERT_TRUE(run.Open(path));
    const CZubDoc& doc = run.m_doc;
    ASSERT_EQ(doc.m_llFrames, 100);
    EXPECT_EQ(doc.m_nProcessed, 100);
    EXPECT_TRUE(doc.m_bMaskReady);
    double drift = 0.0;
    const SZubPoint first = doc.Record(1)->m_ptCM;
    for (int n = 1; n <= 100; ++n)
    {
        SCOPED_TRACE(n);
        const CZubCandidate& r = *doc.Record(n);
        EXPECT_EQ(r.m_iFrame, n);
        EXPECT_GT(r.m_sizePlanet.cx, 100);
        EXPECT_LT(r.m_sizePlanet.cx, doc.m_sizeRoi.cx) << "the ROI holds the whole disc";
        EXPECT_LT(r.m_sizePlanet.cy, doc.m_sizeRoi.cy);
        drift = std::max(drift, std::hypot(r.m_ptCM.x - first.x, r.m_ptCM.y - first.y));
    }
    EXPECT_GT(drift, 20.0);
    EXPECT_LT(drift, 45.0);
    EXPECT_EQ(CountPrefix(run, "Frame: "), 0) << "no repaired measurement";
}

// Opening a FIFO or a folder would block or fail deep inside a reader: only readable regular
// files are opened, the others get a message and no run.
TEST_F(ZubDocRunTest, OnlyRegularFilesAreOpened)
{
    ASSERT_EQ(mkfifo("waiting.ser", 0600), 0);
    EXPECT_FALSE(run.m_doc.OnOpenDocument("waiting.ser"));
    EXPECT_FALSE(run.m_doc.OnOpenDocument(ZubTestDir()));
    EXPECT_EQ(run.m_shell.m_messageBoxes,
              (std::vector<std::string>{"Cannot open file waiting.ser.", "Cannot open file " + ZubTestDir() + "."}));
    EXPECT_FALSE(run.m_doc.m_bRunning);
    EXPECT_TRUE(run.m_lines.empty());
}
