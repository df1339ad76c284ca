// Rates by place on the disc and by planet size: flashes from the centre to 2-3 px inside
// the limb of small, middle and large planets, many to a video.
#include "zubdetect.h"

#include <cstdio>
#include <numbers>
#include <string>

namespace zubdetect
{
namespace
{
// The limb is the mean frame's whole disc: KIV's searched disc stops short of it, and a
// flash near the limb is what this table is about.
const SAxes kPlaceAxes{{{"centre", 0.0, 0}, {"0.5 R", 0.5, 0}, {"0.9 R", 0.9, 0}, {"2-3 px inside", 1.0, 2}},
                       {3, 4, 5, 7},
                       {4, 6},
                       true};

struct SSize
{
    int radius, width, height;
};
constexpr SSize kSizes[] = {{25, 160, 120}, {60, 320, 240}, {150, 480, 400}};
constexpr int kFrames = 400;
constexpr int kFirstStart = 30;  // after the mean frame's 20
constexpr int kSpacing = 90;     // 4 flashes a video: each place once
}  // namespace

const SAxes& PlaceAxes()
{
    return kPlaceAxes;
}

void RunPlacesPart(const SOptions& o, CHarness& harness, SSummary& summary)
{
    if (!Wanted(o, "places"))
        return;
    const int trials = o.bQuick ? 2 : 8;
    std::printf("\n== places: %d-frame 8-bit mono videos, %d flashes per cell at turning angles, %d frames apart, scored "
                "on the detectors' marks; places and the limb from the mean frame's whole disc; sigma: the frame-to-mean "
                "noise over the disc ZUB searches (the mean frame's disc eroded by 2 px)\n",
                kFrames, trials, kSpacing);
    for (const SSize& size : kSizes)
    {
        const Clock::time_point t0 = Clock::now();
        SZubSynthOptions s = Synth(size.width, size.height, kFrames, 20 + static_cast<uint64_t>(size.radius));
        s.radius = size.radius;
        SVideo v;
        v.name = "places-" + std::to_string(size.radius);
        if (!PrepareSynthVideo(harness, v, s))
            continue;
        int runs = 0;
        const CTable t = RunManyFlashes(harness, v, kPlaceAxes, kFirstStart, kSpacing, std::numbers::pi / 7, trials, runs);
        std::printf("\n-- planet radius %d px: %d x %d, ROI %d x %d, the mean frame's limb %.0f px from the centre on the "
                    "equator and %.0f px on the pole, sigma %.2f gray levels, %d runs (%.0f s)\n",
                    size.radius, size.width, size.height, v.clean.roi.cx, v.clean.roi.cy, v.LimbAlong(0.0, true),
                    v.LimbAlong(std::numbers::pi / 2, true), v.sigmaZub, runs, Seconds(t0));
        t.Print();
        t.PrintTargets(false);
        summary.places.Merge(t);
    }
}
// Flashes at the detection limit each clean run states (a seeing-sized spot, the detector's
// own, the same peak in each of its frames) and at multiples of it: found at about half the
// limit's rate at 1, nearly always above it, if the limit says what it should.
void RunLimitPart(const SOptions& o, CHarness& harness)
{
    if (!Wanted(o, "limit"))
        return;
    const int trials = o.bQuick ? 2 : 8;
    std::printf("\n== limit: flashes at the detection limit the flash-free run states (Gaussian sigma %.1f px, the same "
                "peak in each of %d frames), peaks as multiples of the limit; %d flashes per cell, places up to 2-3 px "
                "inside the limb, scored on the detectors' marks\n",
                CZubSpotFilter::kSpotSigma, 4, trials);
    for (const SSize& size : kSizes)
    {
        SZubSynthOptions s = Synth(size.width, size.height, kFrames, 40 + static_cast<uint64_t>(size.radius));
        s.radius = size.radius;
        SVideo v;
        v.name = "limit-" + std::to_string(size.radius);
        if (!PrepareSynthVideo(harness, v, s) || !v.clean.limit.bKnown)
            continue;
        SAxes axes = kPlaceAxes;
        axes.peaks = {0.75, 1.0, 1.25, 1.5};
        axes.durations = {4};
        axes.unit = v.clean.limit.peak;
        axes.flashSigma = CZubSpotFilter::kSpotSigma;
        axes.bFlat = true;
        int runs = 0;
        const CTable t = RunManyFlashes(harness, v, axes, kFirstStart, kSpacing, std::numbers::pi / 5, trials, runs);
        std::printf("\n-- planet radius %d px: limit %s; %d runs\n", size.radius,
                    ZubDetectionLimitText(v.clean.limit).c_str(), runs);
        t.Print();
    }
}
}  // namespace zubdetect
