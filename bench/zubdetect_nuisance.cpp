// Videos carrying one thing each that real captures carry (hot pixels, cosmic rays, clouds,
// moons and their shadows, rotation, strong seeing, rings, a planet partly outside the
// frame, raw Bayer and 12-bit data): the false candidates of a flash-free run, and the
// flashes found when some are added.
#include "zubdetect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <random>
#include <string>

namespace zubdetect
{
namespace
{
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kRadius = 60.0;
constexpr int kFrames = 600;
constexpr double kPeaks[] = {5, 8};  // in sigma, taken in turn
constexpr size_t kNumPeaks = std::size(kPeaks);
constexpr int kDuration = 6;
constexpr int kFirstStart = 40;  // after the mean frame's 20
constexpr int kMaxFlashes = 8;   // a run's list holds 15 entries: room left for false ones

struct SNuisance
{
    const char* name;
    int frames;
    // Flashes scaled by this very video's noise, where the nuisance is the picture itself;
    // else by the noise of the same video without the nuisance, which a passing event or
    // a few odd pixels would only inflate.
    bool bOwnNoise;
    std::function<void(SZubSynthOptions&)> apply;
    std::vector<int> starts;  // of the flashes; empty: spread over the video
};

std::vector<SNuisance> Nuisances()
{
    const double r = kRadius;
    auto hot = [](int count) {
        return [=](SZubSynthOptions& s) {
            s.iHotPixels = count;
            s.driftX = 0.05;  // the disc moves under the sensor's pixels
        };
    };
    auto cloud = [](int first, int frames, double depth) {
        return [=](SZubSynthOptions& s) { s.clouds.push_back({first, frames, depth}); };
    };
    // Across the disc and beyond its limbs over the whole video.
    auto moon = [r](double y, double brightness) {
        return [=](SZubSynthOptions& s) { s.moons.push_back({1, s.iFrames, -1.4 * r, y, 1.4 * r, y + 0.1 * r, 3.0, brightness}); };
    };
    const int mid = kFrames / 2 - 15;
    return {
        {"none", kFrames, true, [](SZubSynthOptions&) {}, {}},
        {"hot pixels 5, drift 0.05 px/f", kFrames, false, hot(5), {}},
        {"hot pixels 40, drift 0.05 px/f", kFrames, false, hot(40), {}},
        {"cosmic rays 0.5 a frame", kFrames, false, [](SZubSynthOptions& s) { s.cosmicRate = 0.5; }, {}},
        {"cloud 15 %, frames 1-20", kFrames, false, cloud(1, 20, 0.15), {}},
        {"cloud 40 %, frames 1-20", kFrames, false, cloud(1, 20, 0.40), {}},
        {"cloud 15 %, mid-video", kFrames, false, cloud(mid, 30, 0.15), {}},
        {"cloud 40 %, mid-video", kFrames, false, cloud(mid, 30, 0.40), {}},
        {"moon crossing the disc", 1500, false, moon(-0.3 * r, 230.0), {}},
        {"moon shadow crossing", 1500, false, moon(0.25 * r, -150.0), {}},
        {"rotation 0.002 px/f", 6000, false,
         [](SZubSynthOptions& s) {
             s.rotation = 0.002;
             s.driftX = 0.002;  // the planet stays in the frame for 6,000 frames
             s.driftY = 0.001;
         },
         {300, 420, 5080, 5200}},
        {"seeing, jitter 2.5 px", kFrames, true, [](SZubSynthOptions& s) { s.jitter = 2.5; }, {}},
        {"rings", kFrames, true, [](SZubSynthOptions& s) { s.bRings = true; }, {}},
        {"1/4 of the disc outside", kFrames, true,
         // On average over the drift, the centre 0.4 R inside the left edge.
         [r](SZubSynthOptions& s) { s.startX = 0.4 * r - s.driftX * s.iFrames / 2; }, {}},
        {"raw Bayer RGGB", kFrames, true, [](SZubSynthOptions& s) { s.bBayer = true; }, {}},
        {"12-bit", kFrames, true, [](SZubSynthOptions& s) { s.iDepth = 12; }, {}},
    };
}

std::vector<int> FlashStarts(const SNuisance& n)
{
    if (!n.starts.empty())
        return n.starts;
    const int spacing = (n.frames - kFirstStart - 20) / kMaxFlashes;
    std::vector<int> starts;
    for (int k = 0; k < kMaxFlashes; ++k)
        starts.push_back(kFirstStart + k * spacing);
    return starts;
}

// The offsets from the planet's centre of the visible disc: the mean frame's disc at least
// 3 px inside its limb, and within the planet's outline (not on a ring beside it).
std::vector<SZubPoint> VisibleDisc(const SVideo& v, const SZubSynthOptions& s)
{
    const SZubSize roi = v.clean.roi;
    const std::vector<uint8_t> inside = Eroded(v.clean.disc, roi, 3);
    double x1, y1;
    ZubSynthCentre(s, 1, x1, y1);
    const double biasX = v.cx[0] - x1, biasY = v.cy[0] - y1;  // the measured centre's offset
    const double radius = s.radius > 0 ? s.radius : 0.3 * std::min(s.iWidth, s.iHeight);
    std::vector<SZubPoint> places;
    for (int y = 0; y < roi.cy; ++y)
        for (int x = 0; x < roi.cx; ++x)
        {
            const int dx = x - roi.cx / 2, dy = y - roi.cy / 2;
            const double ex = (dx + biasX) / radius, ey = (dy + biasY) / (radius * s.oblateness);
            if (inside[static_cast<size_t>(y) * roi.cx + x] == 1 && ex * ex + ey * ey <= 1.0)
                places.push_back({dx, dy});
        }
    return places;
}

// What one nuisance gave over its videos.
struct SRow
{
    SFalse falses;
    double sigmaSum = 0.0;
    int videos = 0;
    struct SResult
    {
        SFlash flash;
        int peak;  // index in kPeaks
        SFound found;
    };
    std::vector<SResult> flashes;
};

// A random place of the visible disc away from the flashes before it: flashes at one
// place make it a place lit again and again, which ZUB rightly takes for an artefact.
SZubPoint PlaceApart(const std::vector<SZubPoint>& places, const std::vector<SFlash>& before, std::mt19937& random)
{
    constexpr double kApart = 20.0;  // pixels
    SZubPoint place{};
    for (int tries = 0; tries < 100; ++tries)
    {
        place = places[random() % places.size()];
        const bool bApart = std::none_of(before.begin(), before.end(), [&](const SFlash& f) {
            return std::hypot(f.offset.x - place.x, f.offset.y - place.y) < kApart;
        });
        if (bApart)
            break;
    }
    return place;
}

// Flashes at random places of the visible disc, peaks in turn, scored on one run.
void RunFlashes(CHarness& harness, const SVideo& v, const SNuisance& n, const SZubSynthOptions& s, double sigma,
                std::mt19937& random, SRow& row)
{
    const std::vector<SZubPoint> places = VisibleDisc(v, s);
    if (places.empty())
        return;
    std::vector<SFlash> flashes;
    const std::vector<int> starts = FlashStarts(n);
    for (size_t k = 0; k < starts.size(); ++k)
        flashes.push_back({starts[k], kDuration, kPeaks[k % kNumPeaks] * sigma, PlaceApart(places, flashes, random)});
    const SRun run = RunWithFlashes(harness, v, flashes);
    for (size_t k = 0; k < flashes.size(); ++k)
        row.flashes.push_back({flashes[k], static_cast<int>(k % kNumPeaks), Find(v, flashes[k], run)});
}

// Columns: frames, sigma, the false candidates of KIV and of ZUB, the flashes found at each peak.
void PrintHeader()
{
    std::printf("    %-31s %6s %5s  %-10s  %-10s", "", "", "", " KIV false", " ZUB false");
    for (double peak : kPeaks)
        std::printf("    found at %.0f sigma", peak);
    std::printf("\n    %-31s %6s %5s  %10s  %10s", "nuisance", "frames", "sigma", "list/marks", "list/marks");
    for (size_t p = 0; p < kNumPeaks; ++p)
        std::printf("    KIV ZUB list/all");
    std::printf("\n");
}

void PrintRow(const SNuisance& n, const SRow& row)
{
    std::printf("    %-31s %6lld %5.2f  %4d /%4d  %4d /%4d", n.name, static_cast<long long>(row.falses.frames),
                row.videos ? row.sigmaSum / row.videos : 0.0, row.falses.kivListed, row.falses.kivMarks,
                row.falses.zubListed, row.falses.zubMarks);
    for (int p = 0; p < static_cast<int>(kNumPeaks); ++p)
    {
        int all = 0, kiv = 0, zub = 0, listed = 0;
        for (const SRow::SResult& r : row.flashes)
        {
            if (r.peak != p)
                continue;
            ++all;
            kiv += r.found.kivMarks;
            zub += r.found.zubMarks;
            listed += r.found.listed;
        }
        std::printf("    %3d %3d %3d /%3d", kiv, zub, listed, all);
    }
    std::printf("\n");
    if (n.starts.empty())
        return;
    // Flashes at set frames (early and late in a long video): each on its own.
    std::printf("      listed, by the flash's first frame:");
    for (int start : n.starts)
    {
        int all = 0, listed = 0;
        for (const SRow::SResult& r : row.flashes)
            if (r.flash.start == start)
            {
                ++all;
                listed += r.found.listed;
            }
        std::printf("  %d: %d/%d", start, listed, all);
    }
    std::printf("\n");
}

// One nuisance over the seeds: each video run without flash, then with flashes. The
// videos without nuisance (index 0) leave their noise in plainSigma for the others.
SRow RunNuisance(CHarness& harness, size_t index, const SNuisance& n, std::vector<double>& plainSigma)
{
    SRow row;
    for (size_t k = 0; k < plainSigma.size(); ++k)
    {
        const uint64_t seed = 101 + k;
        SZubSynthOptions s = Synth(kWidth, kHeight, n.frames, seed);
        s.radius = kRadius;
        n.apply(s);
        SVideo v;
        v.name = "nuisance-" + std::to_string(index) + "-" + std::to_string(seed);
        if (!PrepareSynthVideo(harness, v, s))
            continue;
        if (index == 0)
            plainSigma[k] = v.sigmaZub;
        const double sigma = n.bOwnNoise || plainSigma[k] == 0.0 ? v.sigmaZub : plainSigma[k];
        row.falses.Add(v.clean);
        row.sigmaSum += sigma;
        ++row.videos;
        std::mt19937 random(static_cast<uint32_t>(1000 * index + seed));
        RunFlashes(harness, v, n, s, sigma, random, row);
        DropVideo(v);
    }
    return row;
}
}  // namespace

void RunNuisancePart(const SOptions& o, CHarness& harness, SSummary& summary)
{
    if (!Wanted(o, "nuisance"))
        return;
    const int seeds = o.bQuick ? 1 : 6;  // the full run: some 100,000 flash-free frames
    std::printf("\n== nuisance: %d x %d 8-bit mono unless said, planet radius %.0f px, %d seed%s each\n"
                "    without flash: the false candidates of KIV and of ZUB, listed / marked\n"
                "    with flashes of %d frames at random places on the visible disc, peaks %.0f and %.0f sigma in turn: "
                "found by KIV's marks, ZUB's marks, the list\n"
                "    sigma: over the disc ZUB searches, of the video without the nuisance unless the nuisance is the "
                "picture itself (seeing, rings, the frame's edge, Bayer, 12-bit)\n",
                kWidth, kHeight, kRadius, seeds, seeds > 1 ? "s" : "", kDuration, kPeaks[0], kPeaks[1]);
    PrintHeader();
    const Clock::time_point t0 = Clock::now();
    std::vector<double> plainSigma(static_cast<size_t>(seeds), 0.0);
    const std::vector<SNuisance> nuisances = Nuisances();
    for (size_t i = 0; i < nuisances.size(); ++i)
    {
        const SRow row = RunNuisance(harness, i, nuisances[i], plainSigma);
        PrintRow(nuisances[i], row);
        summary.nuisanceFalses.Add(row.falses);
    }
    summary.nuisanceFalses.Print(10000, "   target ZUB <= 1");
    std::printf("    (%.0f s)\n", Seconds(t0));
}
}  // namespace zubdetect
