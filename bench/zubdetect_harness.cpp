// The detection benchmark's shared parts: see zubdetect.h.
#include "zubdetect.h"

#include "zubapp.h"
#include "zubdoc.h"
#include "zubframe.h"
#include "zubreport.h"
#include "zubser.h"
#include "zubview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <unistd.h>

namespace zubdetect
{
bool Wanted(const SOptions& o, const std::string& name)
{
    return o.csOnly.empty() || name.find(o.csOnly) != std::string::npos;
}

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

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

// ---- SER files -----------------------------------------------------------------------------

namespace
{
int32_t Le32(const uint8_t* p)
{
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
}
}  // namespace

bool SSer::Open(const std::string& file)
{
    path = file;
    std::ifstream in(path, std::ios::binary);
    std::array<uint8_t, 178> header{};
    if (!in.read(reinterpret_cast<char*>(header.data()), header.size()))
        return false;
    planes = Le32(&header[18]) >= 100 ? 3 : 1;  // RGB, BGR; a Bayer mosaic is one plane
    width = Le32(&header[26]);
    height = Le32(&header[30]);
    depth = Le32(&header[34]);
    frameBytes = static_cast<size_t>(width) * height * planes * (depth > 8 ? 2 : 1);
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || frameBytes == 0 || size < 178)
        return false;
    frames = static_cast<int>(std::min<uintmax_t>(static_cast<uint32_t>(Le32(&header[38])), (size - 178) / frameBytes));
    return frames > 0;
}

void SSer::AddSpot(uint8_t* frame, double cx, double cy, double peak, double sigma) const
{
    const int maxSample = depth > 8 ? (1 << std::min(depth, 16)) - 1 : 255;
    const double scale = maxSample / 255.0;
    const int reach = static_cast<int>(std::ceil(5 * sigma));
    for (int y = std::max(0, int(cy) - reach); y <= std::min(height - 1, int(cy) + reach); ++y)
    {
        for (int x = std::max(0, int(cx) - reach); x <= std::min(width - 1, int(cx) + reach); ++x)
        {
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const double add = peak * scale * std::exp(-d2 / (2 * sigma * sigma));
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

// ---- Runs --------------------------------------------------------------------------------------

std::vector<uint8_t> Eroded(const std::vector<uint8_t>& mask, SZubSize roi, int n)
{
    CZubFrame f;
    f.Create(roi.cx, roi.cy, FRAME_MONO8);
    std::copy(mask.begin(), mask.end(), f.m_pBits);
    for (int i = 0; i < n; ++i)
        f.ErodeMask();
    return {f.m_pBits, f.m_pBits + mask.size()};
}

CHarness::CHarness(bool bTrace)
{
    ZubSetMessageLoop(&m_loop);
    ZubApp().SetShell(&m_shell);
    ZubApp().m_params = SZubParams::Defaults();
    ZubApp().m_params.ProcessAuto = true;
    ZubApp().m_params.ShowResults = false;
    if (bTrace)
        m_shell.m_consoleSink = [](const std::string& line) { std::printf("    | %s\n", line.c_str()); };
}

CHarness::~CHarness()
{
    ZubApp().SetShell(nullptr);
    ZubApp().m_log.SetView(nullptr);
    ZubSetMessageLoop(nullptr);
}

SRun CHarness::Run(const std::string& path)
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
        run.limit = ZubDocDetectionLimit(doc);
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
        CZubFrame disc;
        disc.Create(run.roi.cx, run.roi.cy, FRAME_MONO8);
        doc.m_frameMean.MakeMask(disc);
        run.disc.assign(disc.m_pBits, disc.m_pBits + pixels);
        doc.OnCloseDocument();
    }
    ZubApp().m_log.SetView(nullptr);
    return run;
}

// ---- Videos ------------------------------------------------------------------------------------

double SVideo::LimbAlong(double angle, bool bWholeDisc) const
{
    const std::vector<uint8_t>& inside = bWholeDisc ? clean.disc : clean.mask;
    const SZubSize roi = clean.roi;
    const int x0 = roi.cx / 2, y0 = roi.cy / 2;
    double r = 0;
    while (true)
    {
        const int x = x0 + static_cast<int>(std::lround((r + 1) * std::cos(angle)));
        const int y = y0 + static_cast<int>(std::lround((r + 1) * std::sin(angle)));
        if (x < 0 || y < 0 || x >= roi.cx || y >= roi.cy || inside[static_cast<size_t>(y) * roi.cx + x] != 1)
            return r;
        r += 1;
    }
}

SZubPoint SVideo::Place(const SPlace& place, double angle, bool bWholeDisc) const
{
    if (place.fraction == 0.0)
        return {0, 0};
    const double r = place.fraction * LimbAlong(angle, bWholeDisc) - place.inset;
    return {static_cast<int32_t>(std::lround(r * std::cos(angle))), static_cast<int32_t>(std::lround(r * std::sin(angle)))};
}

namespace
{
// Frame-to-mean noise: the standard deviation over a region of each frame's crop minus the
// mean frame, averaged over the video; one figure per region.
std::vector<double> MeasureSigmas(const std::string& path, const SRun& run, const std::vector<std::vector<uint8_t>>& regions)
{
    std::vector<double> sigmas(regions.size(), 0.0);
    CZubFrame mean;
    mean.Create(run.roi.cx, run.roi.cy, FRAME_MONO16);
    std::copy(run.mean.begin(), run.mean.end(), mean.m_pBits16);
    CZubSer ser;
    if (!ser.Open(path))
        return sigmas;
    CZubFrame video, roi;
    video.Create(ser.m_bih.biWidth, ser.m_bih.biHeight, FRAME_COLOR_RGB24);
    roi.Create(run.roi.cx, run.roi.cy, FRAME_MONO8);
    std::vector<int> frames(regions.size(), 0);
    for (const CZubCandidate& r : run.records)
    {
        if (!ser.ReadNextFrame())
            break;
        video.SetPixels(ser.m_pFrame.data());
        video.ConvertAvi2Frame(roi, r.m_ptCM, run.roi, 0);
        for (size_t k = 0; k < regions.size(); ++k)
        {
            double sum = 0, squares = 0;
            int64_t count = 0;
            for (size_t i = 0; i < regions[k].size(); ++i)
            {
                if (regions[k][i] != 1)
                    continue;
                const double d = double(roi.m_pBits[i]) - mean.m_pBits16[i];
                sum += d;
                squares += d * d;
                ++count;
            }
            if (count > 1)
            {
                sigmas[k] += std::sqrt(std::max(0.0, squares / count - (sum / count) * (sum / count)));
                ++frames[k];
            }
        }
    }
    for (size_t k = 0; k < regions.size(); ++k)
        sigmas[k] = frames[k] ? sigmas[k] / frames[k] : 0.0;
    return sigmas;
}

// The planet's centre per frame: the synthetic disc's true centre shifted by the constant
// offset of the measured centre, or the measured centre itself.
void LearnCentres(SVideo& v, const SZubSynthOptions* synth)
{
    const int frames = v.ser.frames;
    v.cx.assign(frames, 0.0);
    v.cy.assign(frames, 0.0);
    const int measured = static_cast<int>(v.clean.records.size());
    double ox = 0, oy = 0;
    const int n0 = std::min(20, measured);
    for (int n = 1; synth && n <= n0; ++n)
    {
        double x, y;
        ZubSynthCentre(*synth, n, x, y);
        ox += (v.clean.records[n - 1].m_ptCM.x - x) / n0;
        oy += (v.clean.records[n - 1].m_ptCM.y - y) / n0;
    }
    for (int n = 1; n <= frames; ++n)
    {
        if (synth)
        {
            ZubSynthCentre(*synth, n, v.cx[n - 1], v.cy[n - 1]);
            v.cx[n - 1] += ox;
            v.cy[n - 1] += oy;
        }
        else if (n <= measured)
        {
            v.cx[n - 1] = v.clean.records[n - 1].m_ptCM.x;
            v.cy[n - 1] = v.clean.records[n - 1].m_ptCM.y;
        }
    }
}
}  // namespace

bool PrepareVideo(CHarness& harness, SVideo& v, const std::string& path, const SZubSynthOptions* synth)
{
    if (!v.ser.Open(path))
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
    LearnCentres(v, synth);
    const std::vector<double> sigmas =
        MeasureSigmas(path, v.clean, {v.clean.mask, v.clean.disc, Eroded(v.clean.disc, v.clean.roi, 2)});
    v.sigma = sigmas[0];
    v.sigmaDisc = sigmas[1];
    v.sigmaZub = sigmas[2];
    return true;
}

namespace
{
// A copy of the video with the flashes added; every frame they touch rewritten once.
bool WriteWithFlashes(const SVideo& v, const std::vector<SFlash>& flashes, const std::string& path)
{
    std::error_code ec;
    std::filesystem::copy_file(v.ser.path, path, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec)
        return false;
    struct SSpot
    {
        double x, y, peak, sigma;
    };
    std::map<int, std::vector<SSpot>> spots;  // by frame
    for (const SFlash& f : flashes)
    {
        for (int k = 0; k < f.duration && f.start + k <= v.ser.frames; ++k)
        {
            const int n = f.start + k;
            const double level = f.bFlat ? f.peak : f.peak * std::sin(std::numbers::pi * (k + 0.5) / f.duration);
            spots[n].push_back({v.cx[n - 1] + f.offset.x, v.cy[n - 1] + f.offset.y, level, f.sigma});
        }
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> frame(v.ser.frameBytes);
    char* bytes = reinterpret_cast<char*>(frame.data());
    const auto size = static_cast<std::streamsize>(frame.size());
    for (const auto& [n, list] : spots)
    {
        const auto offset = static_cast<std::streamoff>(v.ser.Offset(n));
        file.seekg(offset);
        file.read(bytes, size);
        for (const SSpot& s : list)
            v.ser.AddSpot(frame.data(), s.x, s.y, s.peak, s.sigma);
        file.seekp(offset);
        file.write(bytes, size);
    }
    return static_cast<bool>(file);
}
}  // namespace

namespace
{
std::string FlashesPath(const SVideo& v)
{
    return TempDir() + "/" + v.name + "-flashes.ser";
}
}  // namespace

void DropVideo(const SVideo& v)
{
    std::error_code ec;
    std::filesystem::remove(v.ser.path, ec);
    std::filesystem::remove(FlashesPath(v), ec);
}

SRun RunWithFlashes(CHarness& harness, const SVideo& v, const std::vector<SFlash>& flashes)
{
    const std::string path = FlashesPath(v);
    if (!WriteWithFlashes(v, flashes, path))
    {
        std::printf("cannot write %s\n", path.c_str());
        return {};
    }
    return harness.Run(path);
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

bool PrepareSynthVideo(CHarness& harness, SVideo& v, const SZubSynthOptions& s)
{
    const std::string path = TempDir() + "/" + v.name + ".ser";
    std::string error;
    if (!ZubSynthWriteSer(s, path, error))
    {
        std::printf("zubsynth: %s\n", error.c_str());
        return false;
    }
    return PrepareVideo(harness, v, path, &s);
}

void PrintVideo(const SVideo& v, const char* extra)
{
    std::printf("\n== %s: %d x %d, %d-bit %s, %d frames, ROI %d x %d, noise sigma %.2f gray levels (%.2f up to the "
                "limb)%s\n",
                v.name.c_str(), v.ser.width, v.ser.height, v.ser.depth, v.ser.planes == 3 ? "RGB" : "mono", v.ser.frames,
                v.clean.roi.cx, v.clean.roi.cy, v.sigma, v.sigmaDisc, extra);
}

// ---- Scoring -----------------------------------------------------------------------------------

bool Matches(const SVideo& v, const SFlash& f, const SRun& run, int frame, SZubPoint rel)
{
    if (frame < f.start || frame > f.start + f.duration - 1 + kMatchLate || frame > static_cast<int>(run.records.size()))
        return false;
    const SZubPoint cm = run.records[frame - 1].m_ptCM;
    const double dx = cm.x + rel.x - (v.cx[frame - 1] + f.offset.x);
    const double dy = cm.y + rel.y - (v.cy[frame - 1] + f.offset.y);
    return std::hypot(dx, dy) <= kMatchDistance;
}

namespace
{
SZubPoint Rel(const CZubCandidate& r, SZubPoint pt)
{
    return {pt.x - r.m_sizeRoi.cx / 2, pt.y - r.m_sizeRoi.cy / 2};
}
}  // namespace

SFound Find(const SVideo& v, const SFlash& f, const SRun& run)
{
    SFound found;
    if (!run.bDone)
        return found;
    int nKiv = 0;  // KIV's candidates in frame order: its first ones make its list
    for (const CZubCandidate& r : run.records)
    {
        const bool bKivHere = r.m_iKivState != ZUB_STATE_NONE && Matches(v, f, run, r.m_iFrame, Rel(r, r.m_ptKiv));
        found.kivMarks = found.kivMarks || bKivHere;
        if (r.m_iKivState == ZUB_STATE_CANDIDATE && nKiv++ < CZubCandidateList::kMaxCandidates)
            found.kivListed = found.kivListed || bKivHere;
        found.zubMarks =
            found.zubMarks || (r.m_iZubState != ZUB_STATE_NONE && Matches(v, f, run, r.m_iFrame, Rel(r, r.m_ptZub)));
    }
    for (const SRun::SListed& c : run.listed)
        found.listed = found.listed || Matches(v, f, run, c.frame, c.rel);
    return found;
}

// ---- Tables ------------------------------------------------------------------------------------

CTable::CTable(const SAxes& axes) : m_axes(&axes)
{
    const size_t cells = axes.places.size() * axes.peaks.size() * axes.durations.size();
    m_found[0].assign(cells, 0);
    m_found[1].assign(cells, 0);
    m_trials.assign(cells, 0);
}

bool CTable::Empty() const
{
    return std::all_of(m_trials.begin(), m_trials.end(), [](int n) { return n == 0; });
}

size_t CTable::Index(int place, int peak, int duration) const
{
    return (static_cast<size_t>(place) * m_axes->peaks.size() + static_cast<size_t>(peak)) * m_axes->durations.size() +
           static_cast<size_t>(duration);
}

void CTable::Add(int place, int peak, int duration, bool bKiv, bool bBoth)
{
    const size_t i = Index(place, peak, duration);
    m_found[0][i] += bKiv;
    m_found[1][i] += bBoth;
    ++m_trials[i];
}

void CTable::Merge(const CTable& o)
{
    for (size_t i = 0; i < m_trials.size(); ++i)
    {
        m_found[0][i] += o.m_found[0][i];
        m_found[1][i] += o.m_found[1][i];
        m_trials[i] += o.m_trials[i];
    }
    away[0] += o.away[0];
    away[1] += o.away[1];
    runs += o.runs;
}

void CTable::Pool(int who, double minPeak, double maxPeak, int minDuration, int& hit, int& all) const
{
    hit = all = 0;
    for (size_t p = 0; p < m_axes->places.size(); ++p)
        for (size_t i = 0; i < m_axes->peaks.size(); ++i)
            for (size_t j = 0; j < m_axes->durations.size(); ++j)
            {
                const double peak = m_axes->peaks[i];
                if (peak < minPeak || peak > maxPeak || m_axes->durations[j] < minDuration)
                    continue;
                const size_t k = Index(static_cast<int>(p), static_cast<int>(i), static_cast<int>(j));
                hit += m_found[who][k];
                all += m_trials[k];
            }
}

void CTable::Print() const
{
    std::printf("    %% found, KIV alone / both detectors; columns: duration in frames\n");
    for (size_t p = 0; p < m_axes->places.size(); ++p)
    {
        std::printf("    %-14s", m_axes->places[p].name);
        for (int d : m_axes->durations)
            std::printf("  %4d f   ", d);
        std::printf("\n");
        for (size_t i = 0; i < m_axes->peaks.size(); ++i)
        {
            if (m_axes->unit > 0.0)
                std::printf("    %4.2f x limit  ", m_axes->peaks[i]);
            else
                std::printf("    %5.0f sigma   ", m_axes->peaks[i]);
            for (size_t j = 0; j < m_axes->durations.size(); ++j)
            {
                const size_t k = Index(static_cast<int>(p), static_cast<int>(i), static_cast<int>(j));
                if (m_trials[k] == 0)
                    std::printf("     -     ");
                else
                    std::printf(" %3.0f / %3.0f ", 100.0 * m_found[0][k] / m_trials[k], 100.0 * m_found[1][k] / m_trials[k]);
            }
            std::printf("\n");
        }
    }
}

void CTable::PrintTargets(bool bTargets) const
{
    auto line = [&](const char* label, double minPeak, double maxPeak, int target) {
        int hk, nk, hb, nb;
        Pool(0, minPeak, maxPeak, 4, hk, nk);
        Pool(1, minPeak, maxPeak, 4, hb, nb);
        if (nk == 0)
            return;
        std::printf("    %-28s KIV alone %5.1f %% (%d/%d)   both %5.1f %% (%d/%d)", label, 100.0 * hk / nk, hk, nk,
                    100.0 * hb / nb, hb, nb);
        if (bTargets)
            std::printf("   target >= %d %%", target);
        std::printf("\n");
    };
    line("peak >= 5 sigma, >= 4 frames:", 5, 1e9, 95);
    line("peak    4 sigma, >= 4 frames:", 4, 4, 85);
    line("peak    3 sigma, >= 4 frames:", 3, 3, 50);
    if (runs > 0)
        std::printf("    candidates away from the flash in %d runs of one flash: KIV %d, ZUB %d\n", runs, away[0], away[1]);
}

CTable RunManyFlashes(CHarness& harness, const SVideo& v, const SAxes& axes, int firstStart, int spacing, double angle,
                      int trials, int& runs)
{
    CTable table(axes);
    struct SCell
    {
        int place, peak, duration;
    };
    // The place turns fastest: flashes that follow one another at one place (the centre)
    // would make it a place lit again and again, which ZUB rightly takes for an artefact.
    std::vector<SCell> cells;
    for (int t = 0; t < trials; ++t)
        for (size_t i = 0; i < axes.peaks.size(); ++i)
            for (size_t j = 0; j < axes.durations.size(); ++j)
                for (size_t place = 0; place < axes.places.size(); ++place)
                    cells.push_back({static_cast<int>(place), static_cast<int>(i), static_cast<int>(j)});
    const int longest = *std::max_element(axes.durations.begin(), axes.durations.end());
    const double unit = axes.unit > 0.0 ? axes.unit : axes.bWholeDisc ? v.sigmaZub : v.sigma;
    size_t next = 0;
    runs = 0;
    while (next < cells.size())
    {
        std::vector<SFlash> flashes;
        std::vector<SCell> flashCells;
        for (int start = firstStart; start + longest + kMatchLate < v.ser.frames && next < cells.size(); start += spacing)
        {
            const SCell c = cells[next++];
            const SZubPoint offset = v.Place(axes.places[static_cast<size_t>(c.place)], angle + 0.7 * static_cast<double>(next),
                                             axes.bWholeDisc);
            flashes.push_back({start, axes.durations[static_cast<size_t>(c.duration)],
                               axes.peaks[static_cast<size_t>(c.peak)] * unit, offset, axes.flashSigma, axes.bFlat});
            flashCells.push_back(c);
        }
        if (flashes.empty())
            break;
        const SRun run = RunWithFlashes(harness, v, flashes);
        ++runs;
        for (size_t k = 0; k < flashes.size(); ++k)
        {
            const SFound found = Find(v, flashes[k], run);
            table.Add(flashCells[k].place, flashCells[k].peak, flashCells[k].duration, found.kivMarks,
                      found.kivMarks || found.zubMarks);
        }
    }
    return table;
}

void SFalse::Add(const SRun& run)
{
    frames += static_cast<int64_t>(run.records.size());
    for (const CZubCandidate& r : run.records)
    {
        kivMarks += r.m_iKivState == ZUB_STATE_CANDIDATE;
        zubMarks += r.m_iZubState == ZUB_STATE_CANDIDATE;
    }
    for (const SRun::SListed& c : run.listed)
    {
        kivListed += c.algorithm != 2;
        zubListed += c.algorithm == 2;
    }
}

void SFalse::Add(const SFalse& o)
{
    frames += o.frames;
    kivMarks += o.kivMarks;
    zubMarks += o.zubMarks;
    kivListed += o.kivListed;
    zubListed += o.zubListed;
}

void SFalse::Print(int per, const char* note) const
{
    if (frames == 0)
        return;
    const double f = static_cast<double>(per) / static_cast<double>(frames);
    std::printf("    false candidates per %d,%03d flash-free frames, marked: KIV %6.2f (%d)   ZUB %5.2f (%d);   listed: KIV "
                "%6.2f (%d)   ZUB %5.2f (%d);   in %lld frames%s\n",
                per / 1000, per % 1000, f * kivMarks, kivMarks, f * zubMarks, zubMarks, f * kivListed, kivListed,
                f * zubListed, zubListed, static_cast<long long>(frames), note);
}
}  // namespace zubdetect
