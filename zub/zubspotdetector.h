// Algorithm 2 ("ZUB"), the second impact detector beside KIV. KIV keeps one brightest
// pixel per frame, which is usually a seeing residual at the limb or a belt edge; this one
// filters every frame's difference to the mean for a seeing-sized spot, removes what a
// small change of gain, position or blur of the mean frame explains, scores the rest
// against the noise of that very place (learnt per place from the mean phase's crops and
// kept up to date during the impact pass) and keeps the best few local maxima of every
// frame. After the pass, a spot that recurs at one place over consecutive frames is a
// detection, unless that place is lit in most frames around it (a moon, a shadow, a fixed
// artefact).
//
// The filtered image is smooth over a few pixels, so it is evaluated on a grid of every
// second pixel in both directions: a quarter of the work for a small loss on a spot that
// falls between grid points.
#pragma once

#include "zubtypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
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
};

class CZubSpotDetector
{
public:
    static constexpr int kMaxSpotsPerFrame = 8;
    static constexpr int kTrackRadius = 3;       // pixels a spot may move between frames
    static constexpr int kMaxStoredFrames = 64;  // mean-phase crops kept for the noise map

    CZubSpotDetector();
    ~CZubSpotDetector();
    CZubSpotDetector(const CZubSpotDetector&) = delete;
    CZubSpotDetector& operator=(const CZubSpotDetector&) = delete;

    // Mean phase: the ROI crop of its n-th frame (8-bit); n = 1 starts a new run.
    void AddMeanFrame(int n, const CZubFrame& roi);
    // End of the mean phase: the mean, its residual model and the noise map. The search
    // keeps to the mask's pixels (the whole ROI when mask is null).
    void Prepare(const CZubFrame* mask);
    // Impact phase: scores frame n's crop, keeps its best spots, updates the detection image.
    void ProcessFrame(int n, const CZubFrame& roi);
    // After the impact pass: marks the peak frame of every confirmed spot in records 1 to
    // nRecords (m_iZubState, m_ptZub, m_iZubValue); a flash KIV already marked nearby is
    // marked cleared instead, so that it is listed once. Returns the new candidates.
    int Detect(CZubCandidate* records, int nRecords);

    bool IsReady() const { return m_bReady; }
    // The detection image, ROI sized (row after row): for every pixel the largest normalised
    // difference of the run (sigma), 0 outside the search. Empty before the impact phase.
    std::vector<float> DetectionImage() const;
    bool HasDetectionImage() const { return !m_detection.empty() && m_detection.size() == m_grid.Points(); }
    int ImageWidth() const { return m_iRoiWidth; }
    int ImageHeight() const { return m_iRoiHeight; }
    // Every spot kept in this run, in frame order, the best of a frame first.
    const std::vector<SZubSpot>& Spots() const { return m_spots; }

private:
    static constexpr int kModelTerms = 4;  // gain, shift in x and y, blur
    // Every second pixel from (x0, y0): w columns, h rows.
    struct SGrid
    {
        int x0 = 0, y0 = 0, w = 0, h = 0;
        size_t Points() const { return static_cast<size_t>(w) * static_cast<size_t>(h); }
    };
    struct STrack;

    void StartRun(const CZubFrame& roi);
    // The matched filter on the grid points of an image whose row y is row(y).
    template <class FRow>
    void FilterGrid(FRow&& row, const SGrid& grid, float* out);
    bool BuildModel(const CZubFrame* mask);
    // The model's fit to the frame's filtered crop (in m_response), and its removal.
    void FitModel();
    void RemoveModel();
    void RefreshInvSigma();  // 0 outside the mask
    void BuildNoiseMap();
    void ScoreFrame(int n);
    void KeepBestSpots(int n);
    void BuildTracks(std::vector<STrack>& tracks) const;
    // Share of the frames around the track in which its place holds a spot.
    double LitShare(const STrack& track, int nRecords) const;
    bool Mark(const STrack& track, CZubCandidate* records, int nRecords) const;
    void LogFrameSpot(int n) const;

    bool m_bReady = false;
    int m_iRoiWidth = 0;
    int m_iRoiHeight = 0;
    SGrid m_grid;  // over the mask's bounding box

    // Mean phase.
    int m_nMeanFrames = 0;
    std::vector<uint32_t> m_sum;    // ROI sized
    std::vector<uint8_t> m_stored;  // the first kMaxStoredFrames crops
    int m_nStored = 0;

    // Impact phase, one value per grid point.
    std::array<std::vector<float>, kModelTerms> m_terms;  // the model's images, the mean first
    std::array<float, kModelTerms> m_beta{};  // the frame's fit
    std::array<std::array<double, kModelTerms>, kModelTerms> m_solve{};  // inverse normal matrix
    std::vector<float> m_inMask;    // 1 inside the mask, else 0
    std::vector<float> m_variance;
    std::vector<float> m_invSigma;
    std::vector<float> m_response;  // the frame's filtered crop, then its residual
    std::vector<float> m_score;     // the residual over its noise
    std::vector<float> m_detection;  // largest score so far
    // Scratch of the separable filter.
    std::vector<float> m_even, m_odd, m_pairs;
    std::vector<float> m_rowsGauss, m_rowsBox, m_column;
    std::vector<SZubSpot> m_spots;
    float m_fUnitResponse = 1.0f;   // response to a seeing-sized spot of 1 gray level
};
