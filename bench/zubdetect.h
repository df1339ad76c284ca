// The detection benchmark's shared parts: the harness that runs the whole pipeline on a
// SER file, videos whose planet is known frame by frame, Gaussian flashes added to copies
// of them, and the tables that count what the detectors found.
#pragma once

#include "zubcandidate.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubspotdetector.h"
#include "zubsynth.h"
#include "zubtypes.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zubdetect
{
constexpr double kFlashSigma = 2.0;
constexpr double kMatchDistance = 5.0;
constexpr int kMatchLate = 2;  // frames after the flash's end a detection may come

using Clock = std::chrono::steady_clock;

struct SOptions
{
    bool bQuick = false;
    bool bTrace = false;
    std::string csData;
    std::string csOnly;
    std::vector<std::string> sets;  // settings other than the defaults, to compare
};

// True when --only names nothing or a part of `name`.
bool Wanted(const SOptions& o, const std::string& name);
double Seconds(Clock::time_point since);
// This run's folder for the videos it writes, made on first use.
std::string TempDir();

// A SER file's layout; its frames are read and rewritten on disk, not held in memory.
struct SSer
{
    std::string path;
    int width = 0, height = 0, depth = 8, planes = 1, frames = 0;
    size_t frameBytes = 0;

    bool Open(const std::string& file);
    size_t Offset(int n) const { return 178 + frameBytes * static_cast<size_t>(n - 1); }
    // Adds a Gaussian spot of `peak` 8-bit gray levels at (cx, cy) to a frame's samples,
    // every plane.
    void AddSpot(uint8_t* frame, double cx, double cy, double peak, double sigma = kFlashSigma) const;
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
    std::vector<uint8_t> mask;  // KIV's searched disc
    std::vector<uint8_t> disc;  // the mean frame's whole disc, up to its limb
    std::vector<uint16_t> mean;
    int processed = 0;
    SZubDetectionLimit limit;
};

// The ROI mask eroded by n pixels.
std::vector<uint8_t> Eroded(const std::vector<uint8_t>& mask, SZubSize roi, int n);

class CHarness
{
public:
    explicit CHarness(bool bTrace);
    ~CHarness();
    CHarness(const CHarness&) = delete;
    CHarness& operator=(const CHarness&) = delete;
    SRun Run(const std::string& path);

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
    double sigma = kFlashSigma;  // of its Gaussian, pixels
    bool bFlat = false;          // the peak in every frame, not a sine's rise and fall
};

// A place on the disc along a direction: fraction x the limb's distance - inset pixels.
struct SPlace
{
    const char* name;
    double fraction;
    int inset;
};

// A video of the benchmark with what is known of its planet.
struct SVideo
{
    std::string name;
    SSer ser;
    std::vector<double> cx, cy;  // the planet's centre per frame (index = frame - 1)
    SRun clean;
    double sigma = 0.0;      // frame-to-mean noise over KIV's searched disc
    double sigmaDisc = 0.0;  // over the whole disc, up to the limb
    double sigmaZub = 0.0;   // over the disc ZUB searches: the whole disc eroded by 2 px

    // bWholeDisc: the limb of the mean frame's disc, else of KIV's searched disc.
    SZubPoint Place(const SPlace& place, double angle, bool bWholeDisc) const;
    double LimbAlong(double angle, bool bWholeDisc) const;
};

// Loads or writes the video, runs it without flash and learns its planet (from the
// synthetic options when given, else from the measured centres).
bool PrepareVideo(CHarness& harness, SVideo& v, const std::string& path, const SZubSynthOptions* synth);
// Runs a copy of the video with the flashes added.
SRun RunWithFlashes(CHarness& harness, const SVideo& v, const std::vector<SFlash>& flashes);
// Removes the video's file and its copy with flashes: long videos take room.
void DropVideo(const SVideo& v);

SZubSynthOptions Synth(int width, int height, int frames, uint64_t seed);
// Writes the synthetic video as this run's v.name.ser and prepares it.
bool PrepareSynthVideo(CHarness& harness, SVideo& v, const SZubSynthOptions& s);
void PrintVideo(const SVideo& v, const char* extra);

// What found a flash: KIV's marks, the first of them that its list would hold, ZUB's
// marks (one KIV found too included) and the candidate list of the run.
struct SFound
{
    bool kivMarks = false;
    bool kivListed = false;
    bool zubMarks = false;
    bool listed = false;
};
SFound Find(const SVideo& v, const SFlash& f, const SRun& run);
// Whether a candidate of the run at (frame, rel) is the flash.
bool Matches(const SVideo& v, const SFlash& f, const SRun& run, int frame, SZubPoint rel);

// The cells of a rate table: places, peaks (in sigma) and durations (frames).
struct SAxes
{
    std::vector<SPlace> places;
    std::vector<double> peaks;
    std::vector<int> durations;
    bool bWholeDisc = false;  // places measured on the mean frame's whole disc
    double unit = 0.0;        // gray levels of a peak of 1; 0: the video's sigma
    double flashSigma = kFlashSigma;
    bool bFlat = false;
};

// Detections per cell [place][peak][duration], KIV alone and both detectors.
class CTable
{
public:
    explicit CTable(const SAxes& axes);
    bool Empty() const;
    void Add(int place, int peak, int duration, bool bKiv, bool bBoth);
    void Merge(const CTable& o);
    void Print() const;
    // Pooled rates at >= 5, 4 and 3 sigma lasting >= 4 frames; bTargets: with their targets.
    void PrintTargets(bool bTargets) const;

    int away[2] = {};  // listed candidates of KIV and ZUB away from the flash of their run
    int runs = 0;

private:
    size_t Index(int place, int peak, int duration) const;
    // Pooled rate over peaks in [minPeak, maxPeak] lasting >= minDuration frames.
    void Pool(int who, double minPeak, double maxPeak, int minDuration, int& hit, int& all) const;

    const SAxes* m_axes;
    std::vector<int> m_found[2];
    std::vector<int> m_trials;
};

// Many flashes in one video, `spacing` frames apart from firstStart, every cell `trials`
// times at turning angles, the place changing from one flash to the next; scored on the
// detectors' marks, since one video may hold more flashes than the list's entries.
// `runs`: the runs it took.
CTable RunManyFlashes(CHarness& harness, const SVideo& v, const SAxes& axes, int firstStart, int spacing, double angle,
                      int trials, int& runs);

// False candidates of flash-free runs: as marks (every one) and as listed (what the list
// shows).
struct SFalse
{
    int64_t frames = 0;
    int kivMarks = 0, zubMarks = 0;
    int kivListed = 0, zubListed = 0;
    void Add(const SRun& run);
    void Add(const SFalse& o);
    void Print(int per = 1000, const char* note = "") const;
};

// What the parts hand to the closing summary.
struct SSummary
{
    SSummary(const SAxes& flashAxes, const SAxes& placeAxes) : flashes(flashAxes), places(placeAxes) {}
    CTable flashes;  // the real recording, the short and the long videos
    SFalse falses;
    CTable places;
    SFalse nuisanceFalses;
};

// The parts of their own sources.
const SAxes& PlaceAxes();
void RunPlacesPart(const SOptions& o, CHarness& harness, SSummary& summary);
void RunLimitPart(const SOptions& o, CHarness& harness);
void RunNuisancePart(const SOptions& o, CHarness& harness, SSummary& summary);
}  // namespace zubdetect
