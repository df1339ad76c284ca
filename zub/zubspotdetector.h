// Algorithm 2 ("ZUB"), the second impact detector beside KIV. KIV keeps one brightest
// pixel per frame, which is usually a seeing residual at the limb or a belt edge; this one
// filters every frame for a seeing-sized spot, removes what a small change of gain,
// position or blur of a running reference explains, scores the rest against the noise of
// that very place and keeps the best few local maxima of every frame. After the pass, a spot
// that recurs at one place over consecutive frames is a detection, unless that place is lit
// in most frames around it (a moon, a shadow, a fixed artefact).
//
// Its stages, each in its own source: the crop, the sensor's defects and the searched disc
// (zubspotarea), the filter (zubspotfilter), the reference and the noise (zubspotreference),
// the spots of a frame (zubspotscore), and the tracks and the decision (zubspottracks).
#pragma once

#include "zubspotarea.h"
#include "zubspotfilter.h"
#include "zubspotreference.h"
#include "zubtypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CZubCandidate;
class CZubFrame;

// One local maximum of a frame's normalised response.
struct SZubSpot
{
    int32_t iFrame = 0;
    int32_t x = 0;  // ROI coordinates
    int32_t y = 0;
    float fScore = 0.0f;     // filtered difference over its noise, in sigma
    float fIncrease = 0.0f;  // brightness increase of a seeing-sized spot, gray levels
    float fLowest = 0.0f;    // the lowest score beside it: a darker place next to a brighter one
                             // is something that moved (a moon, a shadow, the limb)
};

// The faintest flash a run would have detected at its threshold: a seeing-sized spot whose
// peak, over the median noise of the searched disc, reaches the threshold in one frame.
struct SZubDetectionLimit
{
    bool bKnown = false;
    double peak = 0.0;           // gray levels, 8-bit scale
    double percentOfDisc = 0.0;  // of the disc's mean brightness
    double magnitude = 0.0;      // -2.5 log10 of the spot's light over the disc's
    double searchedShare = 0.0;  // of the disc's area
};

// "12.4 gray levels (5.2 % of the disc's brightness, 9.1 mag below the disc), 87 % of the
// disc searched", or "unknown".
std::string ZubDetectionLimitText(const SZubDetectionLimit& limit);

class CZubSpotDetector
{
public:
    static constexpr int kMaxSpotsPerFrame = 8;
    static constexpr int kTrackRadius = 3;  // pixels a spot may move between frames
    static constexpr int kDipoleReach = 4;  // grid points (2 px each) searched beside a spot

    CZubSpotDetector();
    ~CZubSpotDetector();
    CZubSpotDetector(const CZubSpotDetector&) = delete;
    CZubSpotDetector& operator=(const CZubSpotDetector&) = delete;

    // Mean phase: the ROI crop of its n-th frame (8-bit), whose pixel (0, 0) is pixel
    // `origin` of a frame of size `frame`; n = 1 starts a new run.
    void AddMeanFrame(int n, const CZubFrame& roi, SZubPoint origin, SZubSize frame);
    // End of the mean phase: the searched disc, the reference and the noise map.
    void Prepare();
    // Impact phase: scores the crop of the record's frame (cropped around its m_ptCM), keeps
    // its best spots, updates the detection image and follows the session.
    void ProcessFrame(const CZubCandidate& record, const CZubFrame& roi, SZubSize frame);
    // After the impact pass: marks the peak frame of every confirmed spot in records 1 to
    // nRecords (m_iZubState, m_ptZub, m_iZubValue); a flash KIV already marked nearby is
    // marked cleared instead, so that it is listed once. Returns the new candidates.
    int Detect(CZubCandidate* records, int nRecords);
    // A detection's strength in sigma of this detector's noise at its place: KIV's (algorithm
    // 1) at its brightest pixel, this detector's (2) at its peak. 0 when not known.
    float DetectionScore(const CZubCandidate& record, int algorithm) const;

    bool IsReady() const { return m_bReady; }
    // The detection image, ROI sized (row after row): for every pixel the largest normalised
    // difference of the run (sigma), 0 outside the search. Empty before the impact phase.
    std::vector<float> DetectionImage() const;
    bool HasDetectionImage() const { return m_bReady && !m_detection.empty(); }
    int ImageWidth() const { return m_iRoiWidth; }
    int ImageHeight() const { return m_iRoiHeight; }
    // Every spot kept in this run, in frame order, the best of a frame first.
    const std::vector<SZubSpot>& Spots() const { return m_spots; }
    // Pixels of the sensor found defective in this run.
    size_t DefectCount() const { return m_defects.Count(); }
    // Frames of the impact pass that could not be compared with the reference.
    int UnlikeFrames() const { return m_nUnlike; }
    // From the noise as learnt so far (after the impact pass: the whole run's).
    SZubDetectionLimit Limit(int threshold) const;

private:
    struct STrack;

    void StartRun(const CZubFrame& roi, SZubSize frame);
    // The crop with its defects repaired; false when it does not belong to this run.
    bool TakeCrop(const CZubFrame& roi, SZubPoint origin);
    SZubGrid Grid() const { return m_reference.Grid(); }
    // The crop filtered as if it were read `offset` pixels further on, into the reference's
    // frame.
    void FilterCrop(SZubPoint offset);
    // The crop filtered where it lines up with the reference (the offset it was read at);
    // false when it cannot be lined up.
    bool FilterLinedUp(SZubPoint& offset);

    // Spots of a frame (zubspotscore.cpp), the crop read `offset` pixels further on.
    void KeepBestSpots(int n, SZubPoint offset);
    void NoteKivScore(const CZubCandidate& record, SZubPoint offset);
    float LowestAround(int i, int j) const;
    void LogFrameSpot(int n) const;

    // Tracks and the decision (zubspottracks.cpp).
    void BuildTracks(std::vector<STrack>& tracks) const;
    // Shares of the frames around the track in which its place holds a spot: all of them,
    // and those besides the track's own frames.
    struct SLit
    {
        double all = 0.0;
        double elsewhere = 0.0;
    };
    SLit LitShare(const STrack& track, int nRecords) const;
    bool Mark(const STrack& track, CZubCandidate* records, int nRecords);

    bool m_bReady = false;
    bool m_bStarted = false;
    int m_iRoiWidth = 0;
    int m_iRoiHeight = 0;
    SZubSize m_frameSize;

    CZubSpotCrop m_crop;
    CZubSensorDefects m_defects;
    CZubSearchArea m_area;
    CZubSpotFilter m_filter;
    CZubSpotReference m_reference;

    // Mean phase.
    int m_nMeanFrames = 0;
    int m_nUnlike = 0;
    std::vector<uint32_t> m_sum;  // ROI sized, for the disc

    // Impact phase, one value per grid point.
    std::vector<float> m_score;      // the frame's residual over its noise
    std::vector<float> m_detection;  // largest score so far
    std::vector<SZubSpot> m_spots;
    std::vector<float> m_kivScore;   // per frame, at KIV's brightest pixel
    std::vector<float> m_zubScore;   // per frame, at a detection's peak
    float m_fUnitResponse = 1.0f;    // response to a seeing-sized spot of 1 gray level
};
