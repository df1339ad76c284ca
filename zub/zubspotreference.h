// What the second detector compares a frame with. A running mean of the filtered crops
// follows slow changes (the planet's rotation, transparency, a moon moving) and leaves out
// the last kGap frames, so that a flash never subtracts itself. A frame's difference to it,
// less what a small change of gain, position and blur explains (the model, fitted per frame
// over the searched points), is scored against the noise of its place; the noise is learnt
// per place from the mean phase's crops and kept up to date as the run goes on. Everything
// lives on the filter's grid (SZubGrid), one value per grid point.
#pragma once

#include "zubspotfilter.h"
#include "zubtypes.h"

#include <array>
#include <cstdlib>
#include <vector>

class CZubSpotReference
{
public:
    static constexpr int kMaxStored = 64;  // mean-phase crops kept for the first reference and noise
    static constexpr int kGap = 10;        // the latest frames left out of the reference
    static constexpr int kMaxOffset = 3;   // pixels a crop is moved at most to line up

    void Start(const SZubGrid& grid);
    // Where a frame's crop is filtered to, in either phase (one value per grid point).
    float* Frame() { return m_ring.data() + m_grid.Points() * static_cast<size_t>(m_nRing % kRingSlots); }
    const float* Frame() const { return const_cast<CZubSpotReference*>(this)->Frame(); }
    // Mean phase: keeps the filtered frame (the first kMaxStored).
    void AddMeanCrop();
    int Stored() const { return m_nStored; }
    // End of the mean phase: the reference, the model over the weighted points and the noise.
    void Prepare(const std::vector<float>& weights);
    // A new set of searched points (1) and points left out (0).
    void SetWeights(const std::vector<float>& weights);

    // Impact phase, for the filtered frame: the model's fit; then how many pixels from where
    // it was filtered the crop should be read, so that it lines up with the reference within
    // half a pixel (the first-order model is good for less than a pixel). Beyond kMaxOffset
    // the frame cannot be lined up: its centre was measured wrong.
    void Fit();
    SZubPoint Offset() const;
    static bool CanLineUp(SZubPoint offset) { return std::abs(offset.x) <= kMaxOffset && std::abs(offset.y) <= kMaxOffset; }
    // With the fit: the residual over its noise into `score` (0 where not searched); when
    // the frame is like the reference, the largest score of every point into `best` and the
    // noise learnt, else false.
    bool Score(float* score, float* best);
    // Then the frame waits kGap frames before it joins the reference.
    void Follow();

    const SZubGrid& Grid() const { return m_grid; }
    // The noise of a grid point's filtered residual (standard deviation).
    float Sigma(size_t point) const;
    // The median of it over the searched points, and their number.
    float MedianSigma() const;
    size_t Searched() const { return m_nSearched; }

private:
    static constexpr int kModelTerms = 4;  // gain, shift in x and y, blur
    static constexpr int kRingSlots = kGap + 1;

    void BuildModel();
    void BuildNoise();
    void RefreshInvSigma();

    SZubGrid m_grid;
    std::vector<float> m_weights;
    size_t m_nSearched = 0;  // weights of 1
    std::vector<float> m_stored;  // kMaxStored filtered crops
    int m_nStored = 0;

    std::vector<float> m_reference;
    // The model's images, the reference first; 0 where not searched, so that only searched
    // points take part in the fit.
    std::array<std::vector<float>, kModelTerms> m_terms;
    std::array<std::array<double, kModelTerms>, kModelTerms> m_solve{};  // inverse normal matrix
    std::array<float, kModelTerms> m_beta{};  // the frame's fit
    std::vector<float> m_variance;
    std::vector<float> m_invSigma;
    std::vector<float> m_ring;  // the frame and the kGap before it, not yet in the reference
    int m_nRing = 0;
    int m_nFrames = 0;  // frames scored
};
