// The FFmpeg media source, alone and driving whole runs: facts, frame delivery, pixels,
// the same results as SER, real files, bad files, stopping and closing at any moment.
#include "zubffmpeg.h"
#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

namespace
{
SZubParams& Params()
{
    return ZubApp().m_params;
}

SZubSynthOptions SmallVideo(int frames = 40)
{
    SZubSynthOptions o;
    o.iWidth = 160;
    o.iHeight = 120;
    o.iFrames = frames;
    o.seed = 11;
    return o;
}

// A video in which the detection finds the flash.
SZubSynthOptions FlashVideo()
{
    SZubSynthOptions o = SmallVideo(60);
    o.iWidth = 200;
    o.iHeight = 150;
    o.seed = 3;
    o.flash.iFrame = 35;
    o.flash.iDuration = 6;
    o.flash.dx = 20;
    o.flash.dy = -10;
    o.flash.peak = 65;
    return o;
}

std::string Video(const std::string& name, const SZubSynthOptions& o, EZubSynthCodec codec)
{
    std::string error;
    EXPECT_TRUE(ZubSynthWriteVideo(o, name, codec, error)) << error;
    return name;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// Calls the UI thread's loop until `done` or the time is up.
bool PumpUntil(IZubMessageLoop& loop, const std::function<bool()>& done, int timeoutMs = 20000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        loop.PumpPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A window whose timers and messages run the test's functions.
class CActionWnd : public CZubWnd
{
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override
    {
        if (msg == WM_TIMER && m_onTimer)
            m_onTimer(wParam);
        if (msg == WM_GRAPH_NOTIFY && m_onGraphNotify)
            m_onGraphNotify();
        return 0;
    }
    std::function<void(WPARAM)> m_onTimer;
    std::function<void()> m_onGraphNotify;
};

class ZubMediaTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Params().ProcessAuto = true;
        run.m_doc.SetMediaFactory(CZubFfmpegSource::Factory());
    }

    int Count(const std::string& line) const
    {
        return static_cast<int>(std::count(run.m_lines.begin(), run.m_lines.end(), line));
    }
    int CountPrefix(const std::string& prefix, size_t from = 0) const
    {
        return static_cast<int>(std::count_if(run.m_lines.begin() + static_cast<long>(std::min(from, run.m_lines.size())),
                                              run.m_lines.end(), [&](const std::string& l) { return StartsWith(l, prefix); }));
    }
    bool HasPrefix(const std::string& prefix) const { return CountPrefix(prefix) > 0; }
    // Calls `action` on the UI thread at the first console line starting with `prefix`.
    void OnLine(const std::string& prefix, std::function<void()> action)
    {
        run.m_shell.m_consoleSink = [this, prefix, action, bDone = false](const std::string& line) mutable {
            run.m_lines.push_back(line);
            if (!bDone && StartsWith(line, prefix))
            {
                bDone = true;
                action();
            }
        };
    }
    // The document finished winding down: the pass that was stopped has released its source.
    bool WoundDown(size_t linesBefore)
    {
        return PumpUntil(run.m_loop, [&] { return CountPrefix("Disconnected.", linesBefore) > 0 && !run.m_doc.m_bRunning; });
    }

    CZubTestRun run;
};

// Frame numbers of the trace lines that `format` (one %d) reads, run by run.
std::vector<std::vector<int>> TracedFrames(const std::vector<std::string>& lines, const char* format)
{
    std::vector<std::vector<int>> runs;
    for (const std::string& line : lines)
    {
        int n = 0;
        if (line == "New process started.")
            runs.emplace_back();
        else if (!runs.empty() && std::sscanf(line.c_str(), format, &n) == 1)
            runs.back().push_back(n);
    }
    return runs;
}

std::vector<int> OneTo(int n)
{
    std::vector<int> v(static_cast<size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = i + 1;
    return v;
}

// The frames a SER holds as the document's buffers: 24-bit, blue-green-red, rows padded to
// 4 bytes; bottom row first as the media source delivers them.
std::vector<std::vector<uint8_t>> BottomUpFrames(const SZubSynthOptions& options)
{
    SZubSynthOptions o = options;
    o.bTimeStamps = false;
    o.bFlipVertical = false;
    std::string error;
    EXPECT_TRUE(ZubSynthWriteSer(o, "frames.ser", error)) << error;
    const std::vector<uint8_t> ser = ZubReadFile("frames.ser");
    const int planes = o.bColor ? 3 : 1;
    const size_t stride = (static_cast<size_t>(o.iWidth) * 3 + 3) & ~size_t(3);
    std::vector<std::vector<uint8_t>> frames;
    for (int n = 0; n < o.iFrames; ++n)
    {
        std::vector<uint8_t> frame(stride * o.iHeight, 0);
        for (int y = 0; y < o.iHeight; ++y)
        {
            const uint8_t* in = ser.data() + 178 + (static_cast<size_t>(n) * o.iHeight + y) * o.iWidth * planes;
            uint8_t* out = frame.data() + (o.iHeight - 1 - y) * stride;
            for (int x = 0; x < o.iWidth; ++x, in += planes, out += 3)
            {
                out[0] = in[planes == 3 ? 2 : 0];  // blue
                out[1] = in[planes == 3 ? 1 : 0];
                out[2] = in[0];                     // red
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// One pass of a source driven directly: what arrived, and whether the stream ended.
struct SPass
{
    int frames = 0;
    int firstMismatch = 0;  // 1-based frame whose buffer differed from the expected one
    int firstBadTime = 0;   // 1-based frame whose time was not (n - 1) / fps
    bool bEnded = false;
};

SPass RunSource(CZubHeadlessLoop& loop, const std::string& path, const std::vector<std::vector<uint8_t>>& expected,
                double fps)
{
    SPass pass;
    CZubFfmpegSource source;
    SZubMediaFacts facts;
    EXPECT_TRUE(source.Connect(path, &facts));
    CActionWnd wnd;
    wnd.m_onGraphNotify = [&] { loop.Quit(0); };
    wnd.m_onTimer = [&](WPARAM) { loop.Quit(1); };
    wnd.SetTimer(1, 20000, true);
    const bool bRunning = source.Run(
        [&](double time, const uint8_t* buffer, long length) {
            const int n = ++pass.frames;
            const size_t i = static_cast<size_t>(n - 1);
            if (!pass.firstMismatch && (i >= expected.size() || static_cast<size_t>(length) != expected[i].size() ||
                                        !std::equal(buffer, buffer + length, expected[i].begin())))
                pass.firstMismatch = n;
            if (!pass.firstBadTime && std::abs(time - (n - 1) / fps) > 1e-6)
                pass.firstBadTime = n;
            return 0;
        },
        &wnd);
    EXPECT_TRUE(bRunning);
    EXPECT_EQ(loop.Run(), 0) << "no end of stream";
    pass.bEnded = source.TakeEndOfStream();
    source.Stop();
    return pass;
}

void ExpectSameRecords(const CZubDoc& a, const CZubDoc& b)
{
    ASSERT_EQ(a.m_pFrameData.size(), b.m_pFrameData.size());
    for (size_t i = 0; i < a.m_pFrameData.size(); ++i)
    {
        const CZubCandidate& r = a.m_pFrameData[i];
        const CZubCandidate& s = b.m_pFrameData[i];
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(r.m_iFrame, s.m_iFrame);
        EXPECT_EQ(r.m_iChannel, s.m_iChannel);
        EXPECT_EQ(r.m_sizeRoi, s.m_sizeRoi);
        EXPECT_EQ(r.m_ptCM, s.m_ptCM);
        EXPECT_EQ(r.m_sizePlanet, s.m_sizePlanet);
        EXPECT_EQ(r.m_iKivState, s.m_iKivState);
        EXPECT_EQ(r.m_iZubState, s.m_iZubState);
        EXPECT_EQ(r.m_ptKiv, s.m_ptKiv);
        EXPECT_EQ(r.m_iKivValue, s.m_iKivValue);
        EXPECT_EQ(r.m_ptZub, s.m_ptZub);
        EXPECT_EQ(r.m_iZubValue, s.m_iZubValue);
        EXPECT_EQ(r.m_iCRC, s.m_iCRC);
        EXPECT_EQ(r.m_iLevel, s.m_iLevel);
    }
}

// Channel ch of pixel i of a candidate's patch k, whether the patch is gray or three bytes a pixel.
int PatchSample(const CZubImpact& impact, int k, int i, int ch)
{
    const int bytes = impact.m_nPatchPixelBytes;
    return impact.GetPatch(k)[i * bytes + (bytes == 3 ? ch : 0)];
}

void ExpectSameCandidates(const CZubDoc& a, const CZubDoc& b)
{
    ASSERT_EQ(a.CandidateCount(), b.CandidateCount());
    for (size_t i = 0; i < static_cast<size_t>(a.CandidateCount()); ++i)
    {
        const CZubImpact& c = a.m_pCandidates->m_aImpacts[i];
        const CZubImpact& d = b.m_pCandidates->m_aImpacts[i];
        SCOPED_TRACE("candidate " + std::to_string(i));
        EXPECT_EQ(c.m_iFrame, d.m_iFrame);
        EXPECT_EQ(c.m_ptRel, d.m_ptRel);
        EXPECT_EQ(c.m_ptFrame, d.m_ptFrame);
        EXPECT_EQ(c.m_iAlgorithm, d.m_iAlgorithm);
        ASSERT_EQ(c.m_iFrames, d.m_iFrames);
        EXPECT_TRUE(std::equal(c.m_piPhotometry.get(), c.m_piPhotometry.get() + c.m_iFrames, d.m_piPhotometry.get()));
        for (int k = 0; k < c.m_iFrames; ++k)
        {
            ASSERT_TRUE(c.GetPatch(k) && d.GetPatch(k)) << k;
            for (int i = 0; i < CZubImpact::kPatchPixels; ++i)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_EQ(PatchSample(c, k, i, ch), PatchSample(d, k, i, ch)) << k << " pixel " << i;
        }
    }
}

bool SameBytes(const CZubFrame& a, const CZubFrame& b)
{
    return a.GetBufferSize() == b.GetBufferSize() && std::equal(a.m_pRGB, a.m_pRGB + a.GetBufferSize(), b.m_pRGB);
}
}  // namespace

// ---- Facts --------------------------------------------------------------------------------

TEST_F(ZubMediaTest, FactsOfAnAviWithItsFrameCount)
{
    SZubSynthOptions o = SmallVideo(24);
    o.iWidth = 30;  // 90 bytes a row, 92 with the padding
    o.fps = 29.97;
    ASSERT_TRUE(run.Open(Video("facts.avi", o, EZubSynthCodec::RawBgr24)));
    const std::vector<std::string> expected = {
        "Connecting video driver...", "Connected.", "Disconnecting video driver...", "Disconnected.",
        "Frame size: 30 x 120", "Number of frames: 24", "Frames per second: 30", "Media Sutype: vids",
        "BITMAPINFOHEADER:", "biWidth: 30", "biHeight: 120", "biPlanes: 1", "biBitCount: 24",
        "biSizeImage: 11040", "biCompression: 0"};
    const int first = run.LineIndex("Connecting video driver...");
    ASSERT_GE(first, 0);
    EXPECT_EQ(std::vector<std::string>(run.m_lines.begin() + first, run.m_lines.begin() + first + 15), expected);
    EXPECT_EQ(run.m_doc.m_llAvgTimePerFrame, 333667);
    EXPECT_EQ(run.m_doc.m_llFrames, 24);
    EXPECT_NEAR(static_cast<double>(run.m_doc.m_llDuration), 24 * 333667.0, 10.0);
    EXPECT_EQ(run.m_doc.m_bih.biSize, 40u);
}

TEST_F(ZubMediaTest, FrameCountFromTheDurationOrByDecoding)
{
    SZubSynthOptions o = SmallVideo(30);
    o.fps = 25;
    // An MPEG program stream has no frame count, but a duration.
    ASSERT_TRUE(run.Open(Video("count.mpg", o, EZubSynthCodec::Mpeg1)));
    EXPECT_TRUE(run.HasLine("Frames per second: 25"));
    EXPECT_TRUE(run.HasLine("Number of frames: 30"));
    EXPECT_EQ(run.m_doc.m_llDuration, 12000000);  // 1.2 s in 100 ns
    EXPECT_EQ(run.m_doc.m_llAvgTimePerFrame, 400000);

    // An elementary stream has neither: the frames are counted by decoding.
    o.iFrames = 17;
    run.m_lines.clear();
    ASSERT_TRUE(run.Open(Video("count.m2v", o, EZubSynthCodec::Mpeg2)));
    EXPECT_EQ(run.m_doc.m_llDuration, 0);
    EXPECT_TRUE(run.HasLine("Number of frames: 17"));
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_EQ(run.m_doc.m_nProcessed, 17);
}

// The duration FFmpeg estimates for a program stream of small frames ends at the last time
// stamp it finds, which belongs to the first of the frames sharing the last pack: counted
// from the duration alone, the last frames would get no record and never be examined.
TEST_F(ZubMediaTest, SmallMpegFramesAreAllCounted)
{
    SZubSynthOptions o = SmallVideo(20);
    o.iWidth = 64;
    o.iHeight = 48;
    ASSERT_TRUE(run.Open(Video("tiny.mpg", o, EZubSynthCodec::Mpeg1)));
    EXPECT_EQ(run.m_doc.m_llFrames, 20);
    EXPECT_EQ(run.m_doc.m_nProcessed, 20);
}

// ---- Delivery -----------------------------------------------------------------------------

TEST_F(ZubMediaTest, SourceDeliversEveryFrameOnceInOrderBottomUpAtEveryPass)
{
    SZubSynthOptions o = SmallVideo(12);
    o.iWidth = 30;  // padded rows
    o.iHeight = 20;
    o.bColor = true;
    const std::string path = Video("pixels.avi", o, EZubSynthCodec::RawBgr24);
    const std::vector<std::vector<uint8_t>> expected = BottomUpFrames(o);
    for (int pass = 1; pass <= 2; ++pass)
    {
        SCOPED_TRACE("pass " + std::to_string(pass));
        const SPass p = RunSource(run.m_loop, path, expected, o.fps);
        EXPECT_EQ(p.frames, 12);
        EXPECT_EQ(p.firstMismatch, 0);
        EXPECT_EQ(p.firstBadTime, 0);
        EXPECT_TRUE(p.bEnded);
    }

    // A gray AVI becomes gray 24-bit frames, exactly.
    o.bColor = false;
    const SPass gray = RunSource(run.m_loop, Video("pixels-gray.avi", o, EZubSynthCodec::RawGray), BottomUpFrames(o), o.fps);
    EXPECT_EQ(gray.frames, 12);
    EXPECT_EQ(gray.firstMismatch, 0);
}

TEST_F(ZubMediaTest, EveryPhaseSeesEveryFrameOnceInOrderRunAfterRun)
{
    Params().WriteConsole = true;
    const SZubSynthOptions o = FlashVideo();
    ASSERT_TRUE(run.Open(Video("order.avi", o, EZubSynthCodec::Mjpeg)));
    ASSERT_GE(run.m_doc.CandidateCount(), 1) << "the results pass needs a candidate";
    run.m_doc.OnCommand(ID_PROCESS_RUN);
    ASSERT_TRUE(run.WaitIdle());

    const int roi = run.m_doc.m_nRoiFrames, avg = run.m_doc.m_nAvgFrames;
    ASSERT_GT(roi, 0);
    ASSERT_GT(avg, 0);
    const struct
    {
        const char* format;
        int frames;
    } kPhases[] = {{"ROI frame: %d", roi}, {"Fase-II AVG Add frame: %d", avg}, {"PROCESS frame: %d", 60},
                   {"RESULTS frame: %d", 60}};
    for (const auto& phase : kPhases)
    {
        const std::vector<std::vector<int>> runs = TracedFrames(run.m_lines, phase.format);
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[0], OneTo(phase.frames)) << phase.format;
        EXPECT_EQ(runs[1], OneTo(phase.frames)) << phase.format;
    }
    EXPECT_EQ(Count("Start processing AVI."), 8);
    EXPECT_EQ(Count("End fase: RESULTS."), 2);
    EXPECT_EQ(run.m_doc.m_nProcessed, 60);
}

// ---- The same video as SER and as AVI -----------------------------------------------------

TEST_F(ZubMediaTest, LosslessAviGivesTheRecordsAndCandidatesOfTheSer)
{
    const SZubSynthOptions o = FlashVideo();
    CZubTestRun& serRun = run;
    ASSERT_TRUE(serRun.Open(CZubTestRun::Synth("same.ser", o)));
    ASSERT_GE(serRun.m_doc.CandidateCount(), 1);
    ASSERT_EQ(serRun.m_doc.m_nProcessed, 60);

    // The AVI's rows are bottom-up: written from flipped frames they decode to the SER's.
    SZubSynthOptions flipped = o;
    flipped.bFlipVertical = true;
    const std::string avi = Video("same.avi", flipped, EZubSynthCodec::RawBgr24);
    CZubDoc aviDoc;
    aviDoc.SetMediaFactory(CZubFfmpegSource::Factory());
    CZubView aviView(aviDoc);
    ASSERT_TRUE(aviDoc.OnOpenDocument(avi));
    ASSERT_TRUE(aviDoc.RunUntilIdle(60000));

    EXPECT_EQ(aviDoc.m_sizeRoi, serRun.m_doc.m_sizeRoi);
    EXPECT_EQ(aviDoc.m_nProcessed, 60);
    EXPECT_EQ(aviDoc.m_nRoiErrors, serRun.m_doc.m_nRoiErrors);
    EXPECT_TRUE(SameBytes(aviDoc.m_frameMean, serRun.m_doc.m_frameMean));
    EXPECT_TRUE(SameBytes(aviDoc.m_frameMask, serRun.m_doc.m_frameMask));
    ExpectSameRecords(aviDoc, serRun.m_doc);
    ExpectSameCandidates(aviDoc, serRun.m_doc);
    aviDoc.OnCloseDocument();
}

// ---- Real recordings ----------------------------------------------------------------------

TEST_F(ZubMediaTest, RealFilesRunThroughEveryPhase)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    // A simulated impact makes a candidate on Jupiter, so that the results pass runs too;
    // on the bright Moon it stands out from nothing.
    Params().Simulation = true;
    const struct
    {
        const char* name;
        const char* size;
        int frames;  // 0: about 3,677
        bool bCandidate;
    } kFiles[] = {{"jupiter-dslr-512x512-mjpeg.avi", "Frame size: 512 x 512", 100, true},
                  {"moon-1280x960-mpeg4.avi", "Frame size: 1280 x 960", 101, false},
                  {"jupiter-clip-128x96-audio.wmv", "Frame size: 128 x 96", 0, true}};
    for (const auto& f : kFiles)
    {
        SCOPED_TRACE(f.name);
        run.m_lines.clear();
        run.m_shell.m_messageBoxes.clear();
        ASSERT_TRUE(run.Open(ZubSharedData(f.name)));
        EXPECT_TRUE(run.HasLine(f.size));
        EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
        EXPECT_EQ(run.m_doc.CandidateCount() > 0, f.bCandidate);
        EXPECT_EQ(run.HasLine("End fase: RESULTS."), f.bCandidate);
        EXPECT_FALSE(run.m_doc.m_bRunning);
        EXPECT_FALSE(HasPrefix("Video decoding error"));
        EXPECT_FALSE(HasPrefix("Video reading error"));
        EXPECT_FALSE(HasPrefix("Video conversion error"));
        EXPECT_FALSE(std::any_of(run.m_lines.begin(), run.m_lines.end(), [](const std::string& l) {
            return l.find("unexpected size") != std::string::npos;
        }));
        EXPECT_TRUE(run.m_shell.m_messageBoxes.empty());
        if (f.frames > 0)
        {
            EXPECT_EQ(run.m_doc.m_llFrames, f.frames);
            EXPECT_EQ(run.m_doc.m_nProcessed, f.frames);
        }
        else
        {
            // Counted from the duration; the stream ends a frame or two before.
            EXPECT_NEAR(static_cast<double>(run.m_doc.m_llFrames), 3677, 5);
            EXPECT_NEAR(run.m_doc.m_nProcessed, 3677, 5);
        }
    }
}

// ---- Bad files ----------------------------------------------------------------------------

TEST_F(ZubMediaTest, TextFileNamedAviIsRefusedAndThePreviousRunStays)
{
    ASSERT_TRUE(run.Open(CZubTestRun::Synth("before.ser", FlashVideo())));
    const std::vector<CZubCandidate> records = run.m_doc.m_pFrameData;
    const int candidates = run.m_doc.CandidateCount();
    const BITMAPINFOHEADER bih = run.m_doc.m_bih;

    ZubWriteText("notes.avi", "These are not the frames you are looking for.\n");
    ASSERT_TRUE(run.Open("notes.avi"));
    EXPECT_TRUE(run.HasLine("Unsupported media type!!!"));
    EXPECT_TRUE(run.HasLine("Process aborted!!!"));
    EXPECT_EQ(run.m_shell.m_messageBoxes, std::vector<std::string>{"Unsupported media type!"});
    EXPECT_FALSE(run.m_doc.m_bRunning);
    EXPECT_TRUE(run.m_doc.IsCommandEnabled(ID_PROCESS_RUN));
    EXPECT_EQ(run.m_doc.CandidateCount(), candidates);
    EXPECT_EQ(run.m_doc.m_bih.biSizeImage, bih.biSizeImage);
    ASSERT_EQ(run.m_doc.m_pFrameData.size(), records.size());
    EXPECT_TRUE(std::equal(records.begin(), records.end(), run.m_doc.m_pFrameData.begin(),
                           [](const CZubCandidate& a, const CZubCandidate& b) {
                               return a.m_iFrame == b.m_iFrame && a.m_ptCM == b.m_ptCM && a.m_ptKiv == b.m_ptKiv;
                           }));
}

TEST_F(ZubMediaTest, CutAviEndsItsLastPhaseAtTheEndOfTheStream)
{
    const std::vector<uint8_t> whole = ZubReadFile(Video("whole.avi", SmallVideo(60), EZubSynthCodec::Mjpeg));
    ZubWriteFile("cut.avi", whole.data(), whole.size() / 2 + 333);  // mid-frame, no index
    ASSERT_TRUE(run.Open("cut.avi", 20000));
    EXPECT_TRUE(run.HasLine("Number of frames: 60"));  // the header's count
    EXPECT_TRUE(run.HasLine("End fase: Find IMPACT."));
    EXPECT_GT(run.m_doc.m_nProcessed, 20);
    EXPECT_LT(run.m_doc.m_nProcessed, 60);
    EXPECT_FALSE(run.m_doc.m_bRunning);
}

TEST_F(ZubMediaTest, AudioOnlyFileHasNoVideoStream)
{
    if (std::system("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -c:a pcm_s16le sound.avi") != 0)
        GTEST_SKIP() << "ffmpeg cannot make the sound file";
    ASSERT_TRUE(run.Open("sound.avi"));
    EXPECT_TRUE(run.HasLine("No video stream found!!!"));
    EXPECT_EQ(run.m_shell.m_messageBoxes, std::vector<std::string>{"No video stream found!"});
    EXPECT_FALSE(run.m_doc.m_bRunning);
}

// ---- Stopping -----------------------------------------------------------------------------

TEST_F(ZubMediaTest, StopDuringEachPhaseWindsTheRunDown)
{
    Params().WriteConsole = true;
    const std::string path = Video("stop.avi", FlashVideo(), EZubSynthCodec::Mjpeg);
    const struct
    {
        const char* trigger;
        const char* endLine;  // the end line the stop prevents
    } kPhases[] = {{"ROI frame: 5 ", "End fase: Compute ROI."},
                   {"Fase-II AVG Add frame: 5", "End fase: Compute AVG."},
                   {"PROCESS frame:   10", "End fase: Find IMPACT."},
                   {"RESULTS frame:   10", "End fase: RESULTS."}};
    for (const auto& phase : kPhases)
    {
        SCOPED_TRACE(phase.trigger);
        run.m_lines.clear();
        OnLine(phase.trigger, [this] { run.m_doc.OnCommand(ID_PROCESS_STOP); });
        ASSERT_TRUE(run.m_doc.OnOpenDocument(path));
        ASSERT_TRUE(run.WaitIdle(20000));
        const size_t stopAt = static_cast<size_t>(std::find_if(run.m_lines.begin(), run.m_lines.end(), [&](const std::string& l) {
                                                      return StartsWith(l, phase.trigger);
                                                  }) - run.m_lines.begin());
        ASSERT_LT(stopAt, run.m_lines.size()) << "the phase never began";
        ASSERT_TRUE(WoundDown(stopAt));
        EXPECT_FALSE(run.HasLine(phase.endLine));
        EXPECT_GE(CountPrefix("Stop processing AVI.", stopAt), 1);
        EXPECT_TRUE(run.m_doc.IsCommandEnabled(ID_PROCESS_RUN));
        EXPECT_EQ(run.m_doc.m_nPhase, PHASE_IDLE);
    }
}

// Stops, closes and reruns at random moments of media runs: the UI thread must never wait
// for a decoder that waits in a send to it.
TEST_F(ZubMediaTest, StoppingAtRandomMomentsNeverDeadlocks)
{
    // Small, yet with a flash found, so that the results pass runs too.
    const std::string path = Video("stress.avi", FlashVideo(), EZubSynthCodec::Mjpeg);
    Params().WriteConsole = true;  // a send per frame and phase: many moments to stop in

    // One whole run first: its console lines and its time set the range of the moments.
    int totalLines = 0;
    run.m_shell.m_consoleSink = [&](const std::string&) { ++totalLines; };
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Open(path));
    const auto runMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(run.m_doc.m_nProcessed, 60);
    ASSERT_GE(run.m_doc.CandidateCount(), 1);

    CWatchdog watchdog(30);
    std::mt19937 random(20240607);
    CActionWnd actor;
    enum EHow
    {
        StopAtLine,
        StopAfterTime,
        CloseAfterTime,
        StopAndRunAgain,
        kHows
    };
    std::array<int, 5> stopsInPhase{};  // by m_nPhase when a line stopped the run
    for (int i = 0; i < 300; ++i)
    {
        const EHow how = static_cast<EHow>(random() % kHows);
        const unsigned ms = static_cast<unsigned>(random() % (runMs.count() + 1));
        const int line = 1 + static_cast<int>(random() % static_cast<unsigned>(totalLines));
        watchdog.Progress("iteration " + std::to_string(i) + ", way " + std::to_string(how));
        int lines = 0;
        run.m_shell.m_consoleSink = [&](const std::string&) {
            if (how == StopAtLine && ++lines == line)
            {
                ++stopsInPhase[static_cast<size_t>(run.m_doc.m_nPhase)];
                run.m_doc.OnCommand(ID_PROCESS_STOP);
            }
        };
        actor.m_onTimer = [&](WPARAM) {
            if (how == CloseAfterTime)
            {
                run.m_doc.OnCloseDocument();
                return;
            }
            run.m_doc.OnCommand(ID_PROCESS_STOP);
            if (how == StopAndRunAgain)
                run.m_doc.OnCommand(ID_PROCESS_RUN);
        };
        if (how != StopAtLine)
            actor.SetTimer(1, ms, true);
        ASSERT_TRUE(run.m_doc.OnOpenDocument(path));
        ASSERT_TRUE(run.WaitIdle(20000)) << "iteration " << i;
        actor.KillTimer(1);
        // The second run is not disturbed by the messages the stopped one left behind.
        if (how == StopAndRunAgain)
        {
            EXPECT_EQ(run.m_doc.m_nProcessed, 60) << "iteration " << i;
        }
    }
    watchdog.Progress("closing");
    run.m_shell.m_consoleSink = nullptr;  // it refers to the loop's variables
    run.m_doc.OnCloseDocument();
    for (int phase = PHASE_ROI; phase <= PHASE_RESULTS; ++phase)
        EXPECT_GT(stopsInPhase[static_cast<size_t>(phase)], 0) << "no stop in phase " << phase;
}
