// Detection benchmark: injects Gaussian flashes (sigma 2 px, a rise-and-fall light curve)
// into the real recording and into synthetic videos, runs the whole pipeline at default
// settings and prints the share of flashes found by KIV alone and by both detectors, by
// peak (in units of the frame-to-mean noise), duration and place on the disc, and the false
// candidates per 1,000 flash-free frames. Prints figures only; it never fails on them.
//
// Usage: zubdetect [--quick] [--data DIR] [--only NAME] [--set Section.Key=Value]... [--trace]
#include "zubapp.h"
#include "zubdoc.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubser.h"
#include "zubsynth.h"
#include "zubview.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
constexpr double kPeaks[] = {2, 3, 4, 5, 7, 10};
constexpr int kDurations[] = {3, 4, 6, 10, 20};
constexpr const char* kPlaces[] = {"centre", "mid-disc", "near the limb"};
constexpr int kNumPeaks = 6;
constexpr int kNumDurations = 5;
constexpr int kNumPlaces = 3;
constexpr double kFlashSigma = 2.0;
constexpr double kMatchDistance = 5.0;
constexpr int kMatchLate = 2;  // frames after the flash's end a detection may come
constexpr int kLimbMargin = 4;  // "near the limb": this far inside the searched disc

using Clock = std::chrono::steady_clock;

struct SOptions
{
    bool bQuick = false;
    bool bTrace = false;
    std::string csData;
    std::string csOnly;
    std::vector<std::string> sets;  // settings other than the defaults, to compare
};

// A SER file held in memory, frames editable in place.
struct SSer
{
    std::vector<uint8_t> bytes;
    int width = 0, height = 0, depth = 8, planes = 1, frames = 0;
    size_t frameBytes = 0;

    static int32_t Le32(const uint8_t* p) { return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }
    bool Load(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes.size() < 178)
            return false;
        planes = Le32(&bytes[18]) >= 100 ? 3 : 1;
        width = Le32(&bytes[26]);
        height = Le32(&bytes[30]);
        depth = Le32(&bytes[34]);
        frameBytes = static_cast<size_t>(width) * height * planes * (depth > 8 ? 2 : 1);
        frames = static_cast<int>(std::min<size_t>(Le32(&bytes[38]), (bytes.size() - 178) / frameBytes));
        return frames > 0;
    }
    uint8_t* Frame(int n) { return bytes.data() + 178 + frameBytes * static_cast<size_t>(n - 1); }
    bool Save(const std::string& path) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    }
    // Adds a Gaussian spot of `peak` 8-bit gray levels at (cx, cy) to frame n, every plane.
    void AddSpot(int n, double cx, double cy, double peak)
    {
        const double scale = depth > 8 ? ((1 << std::min(depth, 16)) - 1) / 255.0 : 1.0;
        const int maxSample = depth > 8 ? (1 << std::min(depth, 16)) - 1 : 255;
        const int reach = static_cast<int>(std::ceil(5 * kFlashSigma));
        uint8_t* frame = Frame(n);
        for (int y = std::max(0, int(cy) - reach); y <= std::min(height - 1, int(cy) + reach); ++y)
        {
            for (int x = std::max(0, int(cx) - reach); x <= std::min(width - 1, int(cx) + reach); ++x)
            {
                const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                const double add = peak * scale * std::exp(-d2 / (2 * kFlashSigma * kFlashSigma));
                for (int p = 0; p < planes; ++p)
                {
                    const size_t i = (static_cast<size_t>(y) * width + x) * planes + p;
                    if (depth > 8)
                    {
                        uint8_t* s = frame + 2 * i;
                        const int v = std::clamp(static_cast<int>(std::lround(s[0] + 256 * s[1] + add)), 0, maxSample);
                        s[0] = static_cast<uint8_t>(v);
                        s[1] = static_cast<uint8_t>(v >> 8);
                    }
                    else
                        frame[i] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(frame[i] + add)), 0, 255));
                }
            }
        }
    }
};

// What a run leaves for the measurements.
struct SRun
{
    bool bDone = false;
    std::vector<CZubCandidate> records;
    struct SListed
    {
        int frame;
        SZubPoint rel;
        int algorithm;
    };
    std::vector<SListed> listed;
    SZubSize roi;
    std::vector<uint8_t> mask;     // the searched disc
    std::vector<uint16_t> mean;
    int processed = 0;
};

class CHarness
{
public:
    explicit CHarness(bool bTrace)
    {
        ZubSetMessageLoop(&m_loop);
        ZubApp().SetShell(&m_shell);
        ZubApp().m_params = SZubParams::Defaults();
        ZubApp().m_params.ProcessAuto = true;
        ZubApp().m_params.ShowResults = false;
        if (bTrace)
            m_shell.m_consoleSink = [](const std::string& line) { std::printf("    | %s\n", line.c_str()); };
    }
    ~CHarness()
    {
        ZubApp().SetShell(nullptr);
        ZubApp().m_log.SetView(nullptr);
        ZubSetMessageLoop(nullptr);
    }

    SRun Run(const std::string& path)
    {
        SRun run;
        CZubDoc doc;
        {
            CZubView view(doc);
            view.m_nSerStartDelayMs = 0;  // no window to settle
            if (!doc.OnOpenDocument(path) || !doc.RunUntilIdle(600000))
            {
                std::printf("%s: the run failed\n", path.c_str());
                return run;
            }
            run.bDone = true;
            run.processed = doc.m_nProcessed;
            run.records.assign(doc.m_pFrameData.begin(), doc.m_pFrameData.begin() + doc.m_nProcessed);
            for (int i = 0; i < doc.CandidateCount(); ++i)
            {
                const CZubImpact& c = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
                run.listed.push_back({c.m_iFrame, c.m_ptRel, c.m_iAlgorithm});
            }
            run.roi = doc.m_sizeRoi;
            const size_t pixels = static_cast<size_t>(run.roi.cx) * run.roi.cy;
            if (doc.m_bMaskReady)
                run.mask.assign(doc.m_frameMask.m_pBits, doc.m_frameMask.m_pBits + pixels);
            run.mean.assign(doc.m_frameMean.m_pBits16, doc.m_frameMean.m_pBits16 + pixels);
            doc.OnCloseDocument();
        }
        ZubApp().m_log.SetView(nullptr);
        return run;
    }

private:
    CZubHeadlessLoop m_loop;
    CZubHeadlessShell m_shell;
};

// One flash: where and when; its place follows the planet from frame to frame.
struct SFlash
{
    int start = 0;
    int duration = 0;
    double peak = 0.0;  // gray levels
    SZubPoint offset;   // from the planet's centre
};

// A video of the benchmark with what is known of its planet.
struct SVideo
{
    std::string name;
    SSer ser;
    std::vector<double> cx, cy;  // the planet's centre per frame (index = frame - 1)
    SRun clean;
    double sigma = 0.0;          // frame-to-mean noise over the searched disc
    double sigmaDisc = 0.0;      // and up to the limb
    std::vector<double> limbDistance;  // the searched disc's extent by direction

    SZubPoint Place(int place, double angle) const
    {
        if (place == 0)
            return {0, 0};
        const double reach = LimbAlong(angle);
        const double r = place == 1 ? reach / 2 : reach - kLimbMargin;
        return {static_cast<int32_t>(std::lround(r * std::cos(angle))), static_cast<int32_t>(std::lround(r * std::sin(angle)))};
    }
    double LimbAlong(double angle) const
    {
        const SZubSize roi = clean.roi;
        const int x0 = roi.cx / 2, y0 = roi.cy / 2;
        double r = 0;
        while (true)
        {
            const int x = x0 + static_cast<int>(std::lround((r + 1) * std::cos(angle)));
            const int y = y0 + static_cast<int>(std::lround((r + 1) * std::sin(angle)));
            if (x < 0 || y < 0 || x >= roi.cx || y >= roi.cy || clean.mask[static_cast<size_t>(y) * roi.cx + x] != 1)
                return r;
            r += 1;
        }
    }
    void Inject(const SFlash& f)
    {
        for (int k = 0; k < f.duration; ++k)
        {
            const int n = f.start + k;
            const double level = f.peak * std::sin(std::numbers::pi * (k + 0.5) / f.duration);
            ser.AddSpot(n, cx[n - 1] + f.offset.x, cy[n - 1] + f.offset.y, level);
        }
    }
};

std::string TempDir()
{
    static std::string dir;
    if (dir.empty())
    {
        char pattern[] = "/tmp/zubdetect.XXXXXX";
        if (!mkdtemp(pattern))
        {
            std::perror("zubdetect: mkdtemp");
            std::exit(1);
        }
        dir = pattern;
    }
    return dir;
}

// Frame-to-mean noise: the standard deviation over the disc of each frame's crop minus the
// mean frame, averaged over the video. bWholeDisc: the disc up to its limb, else the
// searched part (the mask).
double MeasureSigma(const std::string& path, const SRun& run, bool bWholeDisc)
{
    CZubFrame mean;
    mean.Create(run.roi.cx, run.roi.cy, FRAME_MONO16);
    std::copy(run.mean.begin(), run.mean.end(), mean.m_pBits16);
    CZubFrame disc;
    disc.Create(run.roi.cx, run.roi.cy, FRAME_MONO8);
    if (bWholeDisc)
        mean.MakeMask(disc);
    else
        std::copy(run.mask.begin(), run.mask.end(), disc.m_pBits);
    CZubSer ser;
    if (!ser.Open(path))
        return 0.0;
    CZubFrame video, roi;
    video.Create(ser.m_bih.biWidth, ser.m_bih.biHeight, FRAME_COLOR_RGB24);
    roi.Create(run.roi.cx, run.roi.cy, FRAME_MONO8);
    double total = 0.0;
    int frames = 0;
    for (const CZubCandidate& r : run.records)
    {
        if (!ser.ReadNextFrame())
            break;
        video.SetPixels(ser.m_pFrame.data());
        video.ConvertAvi2Frame(roi, r.m_ptCM, run.roi, 0);
        double sum = 0, squares = 0;
        int64_t count = 0;
        for (int y = 0; y < run.roi.cy; ++y)
        {
            for (int x = 0; x < run.roi.cx; ++x)
            {
                if (*disc.GetPixel(x, y) != 1)
                    continue;
                const double d = double(*roi.GetPixel(x, y)) - *mean.GetPixel16(x, y);
                sum += d;
                squares += d * d;
                ++count;
            }
        }
        if (count > 1)
        {
            total += std::sqrt(std::max(0.0, squares / count - (sum / count) * (sum / count)));
            ++frames;
        }
    }
    return frames ? total / frames : 0.0;
}

// Loads or writes the video, runs it without flash and learns its planet.
bool PrepareVideo(CHarness& harness, SVideo& v, const std::string& path, const SZubSynthOptions* synth)
{
    if (!v.ser.Load(path))
    {
        std::printf("%s: cannot read %s\n", v.name.c_str(), path.c_str());
        return false;
    }
    v.clean = harness.Run(path);
    if (!v.clean.bDone || v.clean.mask.empty())
    {
        std::printf("%s: the clean run did not complete\n", v.name.c_str());
        return false;
    }
    const int frames = v.ser.frames;
    v.cx.resize(frames);
    v.cy.resize(frames);
    if (synth)
    {
        // The disc's true centre, shifted by the constant offset of the measured centre.
        double ox = 0, oy = 0;
        const int n0 = std::min<int>(20, static_cast<int>(v.clean.records.size()));
        for (int n = 1; n <= n0; ++n)
        {
            double x, y;
            ZubSynthCentre(*synth, n, x, y);
            ox += v.clean.records[n - 1].m_ptCM.x - x;
            oy += v.clean.records[n - 1].m_ptCM.y - y;
        }
        for (int n = 1; n <= frames; ++n)
        {
            ZubSynthCentre(*synth, n, v.cx[n - 1], v.cy[n - 1]);
            v.cx[n - 1] += ox / n0;
            v.cy[n - 1] += oy / n0;
        }
    }
    else
    {
        for (int n = 1; n <= frames; ++n)
        {
            v.cx[n - 1] = v.clean.records[n - 1].m_ptCM.x;
            v.cy[n - 1] = v.clean.records[n - 1].m_ptCM.y;
        }
    }
    v.sigma = MeasureSigma(path, v.clean, false);
    v.sigmaDisc = MeasureSigma(path, v.clean, true);
    return true;
}

// The flash's place in the frame of a detection, and whether a detection there matches.
bool Matches(const SVideo& v, const SFlash& f, const SRun& run, int frame, SZubPoint rel)
{
    if (frame < f.start || frame > f.start + f.duration - 1 + kMatchLate || frame > static_cast<int>(run.records.size()))
        return false;
    const SZubPoint cm = run.records[frame - 1].m_ptCM;
    const double dx = cm.x + rel.x - (v.cx[frame - 1] + f.offset.x);
    const double dy = cm.y + rel.y - (v.cy[frame - 1] + f.offset.y);
    return std::hypot(dx, dy) <= kMatchDistance;
}

SZubPoint Rel(const CZubCandidate& r, SZubPoint pt)
{
    return {pt.x - r.m_sizeRoi.cx / 2, pt.y - r.m_sizeRoi.cy / 2};
}

// Found by KIV alone: its first 15 marks in frame order are what its list would hold.
// Found by both: the candidate list of the run. bMarks: every mark, the list's limit aside.
void Score(const SVideo& v, const SFlash& f, const SRun& run, bool bMarks, bool& bKiv, bool& bBoth)
{
    bKiv = bBoth = false;
    int nKiv = 0;
    for (const CZubCandidate& r : run.records)
    {
        if (r.m_iKivState == ZUB_STATE_CANDIDATE && (bMarks || nKiv++ < CZubCandidateList::kMaxCandidates))
            bKiv = bKiv || Matches(v, f, run, r.m_iFrame, Rel(r, r.m_ptKiv));
        if (bMarks && r.m_iZubState == ZUB_STATE_CANDIDATE)
            bBoth = bBoth || Matches(v, f, run, r.m_iFrame, Rel(r, r.m_ptZub));
    }
    if (bMarks)
        bBoth = bBoth || bKiv;
    else
        for (const SRun::SListed& c : run.listed)
            bBoth = bBoth || Matches(v, f, run, c.frame, c.rel);
}

// Detections per cell: [place][peak][duration], KIV alone and both.
struct STable
{
    int found[2][kNumPlaces][kNumPeaks][kNumDurations] = {};
    int trials[kNumPlaces][kNumPeaks][kNumDurations] = {};
    int away[2] = {};  // listed candidates of KIV and ZUB away from the flash of their run
    int runs = 0;

    void Add(int place, int peak, int duration, bool bKiv, bool bBoth)
    {
        found[0][place][peak][duration] += bKiv;
        found[1][place][peak][duration] += bBoth;
        ++trials[place][peak][duration];
    }
    // Pooled rate over peaks >= minPeak (and <= maxPeak) lasting >= minDuration frames.
    void Pool(int who, double minPeak, double maxPeak, int minDuration, int& hit, int& all) const
    {
        hit = all = 0;
        for (int p = 0; p < kNumPlaces; ++p)
            for (int i = 0; i < kNumPeaks; ++i)
                for (int j = 0; j < kNumDurations; ++j)
                    if (kPeaks[i] >= minPeak && kPeaks[i] <= maxPeak && kDurations[j] >= minDuration)
                    {
                        hit += found[who][p][i][j];
                        all += trials[p][i][j];
                    }
    }
    void Merge(const STable& o)
    {
        for (int p = 0; p < kNumPlaces; ++p)
            for (int i = 0; i < kNumPeaks; ++i)
                for (int j = 0; j < kNumDurations; ++j)
                {
                    found[0][p][i][j] += o.found[0][p][i][j];
                    found[1][p][i][j] += o.found[1][p][i][j];
                    trials[p][i][j] += o.trials[p][i][j];
                }
        away[0] += o.away[0];
        away[1] += o.away[1];
        runs += o.runs;
    }
    void Print() const
    {
        std::printf("    %% found, KIV alone / both detectors; columns: duration in frames\n");
        for (int p = 0; p < kNumPlaces; ++p)
        {
            std::printf("    %-14s", kPlaces[p]);
            for (int d : kDurations)
                std::printf("  %4d f   ", d);
            std::printf("\n");
            for (int i = 0; i < kNumPeaks; ++i)
            {
                std::printf("    %5.0f sigma   ", kPeaks[i]);
                for (int j = 0; j < kNumDurations; ++j)
                {
                    const int n = trials[p][i][j];
                    if (n == 0)
                        std::printf("     -     ");
                    else
                        std::printf(" %3.0f / %3.0f ", 100.0 * found[0][p][i][j] / n, 100.0 * found[1][p][i][j] / n);
                }
                std::printf("\n");
            }
        }
    }
    void PrintTargets(const char* what) const
    {
        auto line = [&](const char* label, double minPeak, double maxPeak) {
            int hk, nk, hb, nb;
            Pool(0, minPeak, maxPeak, 4, hk, nk);
            Pool(1, minPeak, maxPeak, 4, hb, nb);
            if (nk > 0)
                std::printf("    %s %-28s KIV alone %5.1f %% (%d/%d)   both %5.1f %% (%d/%d)\n", what, label,
                            100.0 * hk / nk, hk, nk, 100.0 * hb / nb, hb, nb);
        };
        line("peak >= 5 sigma, >= 4 frames:", 5, 100);
        line("peak    4 sigma, >= 4 frames:", 4, 4);
        line("peak    3 sigma, >= 4 frames:", 3, 3);
        if (runs > 0)
            std::printf("    %s candidates away from the flash in %d runs of one flash: KIV %d, ZUB %d\n", what, runs,
                        away[0], away[1]);
    }
};

struct SFalse
{
    int64_t frames = 0;
    int kiv = 0;
    int zub = 0;
    void Add(const SRun& run)
    {
        frames += static_cast<int64_t>(run.records.size());
        for (const CZubCandidate& r : run.records)
        {
            kiv += r.m_iKivState == ZUB_STATE_CANDIDATE;
            zub += r.m_iZubState == ZUB_STATE_CANDIDATE;
        }
    }
    void Print(const char* what) const
    {
        if (frames == 0)
            return;
        std::printf("    %s false candidates per 1,000 flash-free frames: KIV %6.2f (%d)   ZUB %5.2f (%d)   in %lld frames\n",
                    what, 1000.0 * kiv / frames, kiv, 1000.0 * zub / frames, zub, static_cast<long long>(frames));
    }
};

// One flash per run: every cell, place and trial, each in its own copy of the video.
STable RunSingleFlashes(CHarness& harness, SVideo& v, const std::vector<int>& starts, const std::vector<double>& angles)
{
    STable table;
    const std::string path = TempDir() + "/" + v.name + "-flash.ser";
    const std::vector<uint8_t> pristine = v.ser.bytes;
    for (int place = 0; place < kNumPlaces; ++place)
        for (int i = 0; i < kNumPeaks; ++i)
            for (int j = 0; j < kNumDurations; ++j)
                for (size_t t = 0; t < starts.size(); ++t)
                {
                    SFlash f;
                    f.start = starts[t];
                    f.duration = kDurations[j];
                    f.peak = kPeaks[i] * v.sigma;
                    f.offset = v.Place(place, angles[t % angles.size()]);
                    if (f.start + f.duration - 1 > v.ser.frames)
                        continue;
                    v.Inject(f);
                    if (!v.ser.Save(path))
                    {
                        std::printf("cannot write %s\n", path.c_str());
                        return table;
                    }
                    std::memcpy(v.ser.Frame(f.start), pristine.data() + (v.ser.Frame(f.start) - v.ser.bytes.data()),
                                v.ser.frameBytes * static_cast<size_t>(f.duration));
                    const SRun run = harness.Run(path);
                    bool bKiv = false, bBoth = false;
                    if (run.bDone)
                        Score(v, f, run, false, bKiv, bBoth);
                    table.Add(place, i, j, bKiv, bBoth);
                    ++table.runs;
                    for (const SRun::SListed& c : run.listed)
                        if (!Matches(v, f, run, c.frame, c.rel))
                            ++table.away[c.algorithm == 2 ? 1 : 0];
                }
    return table;
}

// Many flashes in one long video, far apart; scored on the detectors' marks, since one
// video holds more flashes than the list's 15 entries.
STable RunManyFlashes(CHarness& harness, SVideo& v, int firstStart, int spacing, double angle, int& runs)
{
    STable table;
    const std::string path = TempDir() + "/" + v.name + "-flashes.ser";
    const std::vector<uint8_t> pristine = v.ser.bytes;
    struct SCell
    {
        int place, peak, duration;
    };
    std::vector<SCell> cells;
    for (int place = 0; place < kNumPlaces; ++place)
        for (int i = 0; i < kNumPeaks; ++i)
            for (int j = 0; j < kNumDurations; ++j)
                cells.push_back({place, i, j});
    size_t next = 0;
    runs = 0;
    while (next < cells.size())
    {
        std::vector<std::pair<SFlash, SCell>> flashes;
        for (int start = firstStart; start + 20 + kMatchLate < v.ser.frames && next < cells.size(); start += spacing)
        {
            const SCell c = cells[next++];
            SFlash f;
            f.start = start;
            f.duration = kDurations[c.duration];
            f.peak = kPeaks[c.peak] * v.sigma;
            f.offset = v.Place(c.place, angle + 0.7 * static_cast<double>(next));
            v.Inject(f);
            flashes.push_back({f, c});
        }
        if (flashes.empty())
            break;
        if (!v.ser.Save(path))
        {
            std::printf("cannot write %s\n", path.c_str());
            return table;
        }
        v.ser.bytes = pristine;
        const SRun run = harness.Run(path);
        ++runs;
        for (const auto& [f, c] : flashes)
        {
            bool bKiv = false, bBoth = false;
            if (run.bDone)
                Score(v, f, run, true, bKiv, bBoth);
            table.Add(c.place, c.peak, c.duration, bKiv, bBoth);
        }
    }
    return table;
}

SZubSynthOptions Synth(int width, int height, int frames, uint64_t seed)
{
    SZubSynthOptions o;
    o.iWidth = width;
    o.iHeight = height;
    o.iFrames = frames;
    o.seed = seed;
    o.bTimeStamps = false;
    return o;
}

bool WriteSynth(const SZubSynthOptions& o, const std::string& path)
{
    std::string error;
    if (ZubSynthWriteSer(o, path, error))
        return true;
    std::printf("zubsynth: %s\n", error.c_str());
    return false;
}

void PrintVideo(const SVideo& v, const char* extra)
{
    std::printf("\n== %s: %d x %d, %d-bit %s, %d frames, ROI %d x %d, noise sigma %.2f gray levels (%.2f up to the "
                "limb)%s\n",
                v.name.c_str(), v.ser.width, v.ser.height, v.ser.depth, v.ser.planes == 3 ? "RGB" : "mono", v.ser.frames,
                v.clean.roi.cx, v.clean.roi.cy, v.sigma, v.sigmaDisc, extra);
}

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Wanted(const SOptions& o, const std::string& name)
{
    return o.csOnly.empty() || name.find(o.csOnly) != std::string::npos;
}
}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each table as it comes
    SOptions o;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--quick")
            o.bQuick = true;
        else if (arg == "--trace")
            o.bTrace = true;
        else if (arg == "--data" && i + 1 < argc)
            o.csData = argv[++i];
        else if (arg == "--only" && i + 1 < argc)
            o.csOnly = argv[++i];
        else if (arg == "--set" && i + 1 < argc)
            o.sets.push_back(argv[++i]);
        else
        {
            std::fprintf(stderr, "usage: zubdetect [--quick] [--data DIR] [--only NAME] [--set Section.Key=Value]... "
                                 "[--trace]\n");
            return 2;
        }
    }
    const Clock::time_point start = Clock::now();
    CHarness harness(o.bTrace);
    for (const std::string& set : o.sets)
    {
        const size_t dot = set.find('.');
        const size_t eq = set.find('=');
        std::string error = "expected Section.Key=Value";
        if (dot == std::string::npos || eq == std::string::npos || eq < dot ||
            !ZubApp().SetParam(set.substr(0, dot), set.substr(dot + 1, eq - dot - 1), set.substr(eq + 1), error))
        {
            std::fprintf(stderr, "zubdetect: --set %s: %s\n", set.c_str(), error.c_str());
            return 2;
        }
    }
    const SZubParams& p = ZubApp().m_params;
    std::printf("zubdetect: %s settings (KIV: MinIncrBright %d, ListSize %d, MinDetection %d; ZUB: threshold %d sigma, "
                "%d frames)%s\n",
                o.sets.empty() ? "default" : "these", p.MinIncrBright, p.ListSize, p.MinDetection, p.ZubThreshold,
                p.ZubMinFrames, o.bQuick ? ", quick" : "");
    std::printf("flashes: Gaussian sigma %.0f px, peak x sin rise and fall; found: a candidate within the flash's frames "
                "(+%d after) and %.0f px of its place\n",
                kFlashSigma, kMatchLate, kMatchDistance);

    STable total;
    SFalse allFalse;
    const double pi = std::numbers::pi;
    const std::vector<double> angles = {pi / 6, 7 * pi / 6, 2 * pi / 3, 5 * pi / 3};

    // The real recording: 100 frames, the mean frame from the first 20.
    const std::string data = !o.csData.empty() ? o.csData : std::string(ZUB_SHARED_DATA_DIR);
    if (Wanted(o, "real"))
    {
        SVideo v;
        v.name = "real";
        const std::string path = data + "/jupiter-dslr-256x256-mono8.ser";
        if (PrepareVideo(harness, v, path, nullptr))
        {
            const std::vector<int> starts = o.bQuick ? std::vector<int>{50} : std::vector<int>{40, 58, 50, 66};
            const STable t = RunSingleFlashes(harness, v, starts, angles);
            PrintVideo(v, (", " + std::to_string(starts.size()) + " flashes per cell").c_str());
            t.Print();
            t.PrintTargets("");
            SFalse f;
            f.Add(v.clean);
            f.Print("");
            allFalse.Add(v.clean);
            total.Merge(t);
        }
    }

    // Short synthetic videos with seeing jitter and drift: mono 8-bit, 16-bit, RGB.
    struct SKind
    {
        const char* name;
        int depth;
        bool bColor;
    };
    for (const SKind kind : {SKind{"synth-mono8", 8, false}, SKind{"synth-mono16", 16, false}, SKind{"synth-rgb", 8, true}})
    {
        if (!Wanted(o, kind.name))
            continue;
        STable t;
        SFalse f;
        SVideo shown;
        const int seeds = o.bQuick ? 1 : 4;
        for (int seed = 1; seed <= seeds; ++seed)
        {
            SZubSynthOptions s = Synth(256, 256, 150, static_cast<uint64_t>(seed));
            s.iDepth = kind.depth;
            s.bColor = kind.bColor;
            SVideo v;
            v.name = std::string(kind.name) + "-" + std::to_string(seed);
            const std::string path = TempDir() + "/" + v.name + ".ser";
            if (!WriteSynth(s, path) || !PrepareVideo(harness, v, path, &s))
                continue;
            t.Merge(RunSingleFlashes(harness, v, {40 + 13 * seed}, {angles[static_cast<size_t>(seed - 1) % angles.size()]}));
            f.Add(v.clean);
            allFalse.Add(v.clean);
            if (seed == 1)
                shown = std::move(v);
        }
        shown.name = kind.name;
        PrintVideo(shown, (", " + std::to_string(seeds) + " seeds, one flash per cell and seed").c_str());
        t.Print();
        t.PrintTargets("");
        f.Print("");
        total.Merge(t);
    }

    // Long synthetic videos: seeing jitter and drift over thousands of frames.
    struct SLong
    {
        const char* name;
        int depth;
        bool bColor;
        int frames;
        bool bFlashes;
    };
    const int longFrames = o.bQuick ? 1500 : 4000;
    for (const SLong kind : {SLong{"long-mono8", 8, false, longFrames, true}, SLong{"long-mono16", 16, false, 1500, false},
                             SLong{"long-rgb", 8, true, 1500, false}})
    {
        if (!Wanted(o, kind.name) || (o.bQuick && !kind.bFlashes))
            continue;
        SZubSynthOptions s = Synth(400, 300, kind.frames, 11);
        s.radius = 70;
        s.iDepth = kind.depth;
        s.bColor = kind.bColor;
        SVideo v;
        v.name = kind.name;
        const std::string path = TempDir() + "/" + v.name + ".ser";
        const Clock::time_point t0 = Clock::now();
        if (!WriteSynth(s, path) || !PrepareVideo(harness, v, path, &s))
            continue;
        char extra[160];
        std::snprintf(extra, sizeof extra, ", drift %.0f x %.0f px in all", s.driftX * kind.frames, s.driftY * kind.frames);
        PrintVideo(v, extra);
        SFalse f;
        f.Add(v.clean);
        f.Print("");
        allFalse.Add(v.clean);
        if (kind.bFlashes)
        {
            int runs = 0;
            const STable t = RunManyFlashes(harness, v, 300, 110, pi / 5, runs);
            std::printf("    %d runs, flashes 110 frames apart from frame 300; scored on the detectors' marks\n", runs);
            t.Print();
            t.PrintTargets("");
            total.Merge(t);
        }
        std::printf("    (%.0f s)\n", Seconds(t0));
    }

    std::printf("\n== all videos\n");
    total.PrintTargets("");
    allFalse.Print("");
    std::printf("targets: >= 90 %% at >= 5 sigma and >= 4 frames, >= 50 %% at 4 sigma; "
                "ZUB <= 1 false candidate per 1,000 frames\n");
    std::printf("zubdetect: %.0f s\n", Seconds(start));
    std::error_code ec;
    std::filesystem::remove_all(TempDir(), ec);
    return 0;
}
