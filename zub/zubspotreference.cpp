#include "zubspotreference.h"

#include <algorithm>
#include <cmath>

namespace
{
// The weight of a frame joining the reference, and of a frame's noise: about the last 64.
constexpr float kFollowRate = 1.0f / 64.0f;
constexpr float kNoiseRate = 1.0f / 64.0f;
// Beyond this score a difference is a spot, not noise: a flash must not raise its own noise.
constexpr float kOutlierScore = 4.0f;
constexpr int kModelRefresh = 8;     // frames between rebuilds of the model from the reference
constexpr int kInvSigmaRefresh = 8;  // frames between refreshes of the inverse noise
// A frame whose squared scores (each capped) average more than this over the searched points
// is not like the reference at all: a centre measured wrong, a frame torn by the camera.
constexpr float kChiCap = 25.0f;
constexpr float kMaxFrameChi = 4.0f;

// The inverse of a small symmetric matrix, by Gauss-Jordan elimination; a direction the
// data does not determine (a flat reference has no derivatives) gets no weight.
template <size_t N>
std::array<std::array<double, N>, N> Invert(std::array<std::array<double, N>, N> a)
{
    std::array<std::array<double, N>, N> inv{};
    double scale = 0.0;
    for (size_t k = 0; k < N; ++k)
    {
        inv[k][k] = 1.0;
        scale = std::max(scale, a[k][k]);
    }
    std::array<bool, N> used{};
    for (size_t k = 0; k < N; ++k)
    {
        if (a[k][k] <= scale * 1e-9)
            continue;
        used[k] = true;
        const double pivot = a[k][k];
        for (size_t j = 0; j < N; ++j)
        {
            a[k][j] /= pivot;
            inv[k][j] /= pivot;
        }
        for (size_t i = 0; i < N; ++i)
        {
            const double f = i == k ? 0.0 : a[i][k];
            for (size_t j = 0; j < N; ++j)
            {
                a[i][j] -= f * a[k][j];
                inv[i][j] -= f * inv[k][j];
            }
        }
    }
    for (size_t k = 0; k < N; ++k)
        if (!used[k])
            for (size_t j = 0; j < N; ++j)
                inv[k][j] = inv[j][k] = 0.0;
    return inv;
}
// Every second grid row takes part in the fit: plenty of points for four numbers, half the
// memory to read.
constexpr int kFitRowStep = 2;

// A row's contribution to the fit: sums of (d - t0) * tk in kLanes partial sums side by side,
// so that they vectorise.
constexpr size_t kLanes = 8;
void FitRow(const float* __restrict d, const float* __restrict t0, const float* __restrict t1,
            const float* __restrict t2, const float* __restrict t3, int n, float (&sums)[4][kLanes])
{
    int i = 0;
    for (; i + static_cast<int>(kLanes) <= n; i += static_cast<int>(kLanes))
        for (size_t l = 0; l < kLanes; ++l)
        {
            const float v = d[i + l] - t0[i + l];
            sums[0][l] += v * t0[i + l];
            sums[1][l] += v * t1[i + l];
            sums[2][l] += v * t2[i + l];
            sums[3][l] += v * t3[i + l];
        }
    for (; i < n; ++i)
    {
        const float v = d[i] - t0[i];
        sums[0][0] += v * t0[i];
        sums[1][0] += v * t1[i];
        sums[2][0] += v * t2[i];
        sums[3][0] += v * t3[i];
    }
}

// The residual of a filtered frame after the model, over its noise; returns the sum of the
// squared scores, each at most kChiCap. No branch: it vectorises.
float ScorePoints(size_t points, const float* __restrict d, const float* __restrict t0, const float* __restrict t1,
                  const float* __restrict t2, const float* __restrict t3, std::array<float, 4> beta,
                  const float* __restrict invSigma, float* __restrict score)
{
    const float b0 = beta[0], b1 = beta[1], b2 = beta[2], b3 = beta[3];
    float sums[kLanes] = {};
    size_t i = 0;
    for (; i + kLanes <= points; i += kLanes)
        for (size_t l = 0; l < kLanes; ++l)
        {
            const size_t p = i + l;
            const float s = (d[p] - (b0 * t0[p] + b1 * t1[p] + b2 * t2[p] + b3 * t3[p])) * invSigma[p];
            score[p] = s;
            sums[l] += std::min(s * s, kChiCap);
        }
    for (; i < points; ++i)
    {
        const float s = (d[i] - (b0 * t0[i] + b1 * t1[i] + b2 * t2[i] + b3 * t3[i])) * invSigma[i];
        score[i] = s;
        sums[0] += std::min(s * s, kChiCap);
    }
    float sum = 0.0f;
    for (const float v : sums)
        sum += v;
    return sum;
}

// A compared frame's scores: the largest of every point so far, and the noise learnt. An
// outlier does not teach the noise: a flash must not raise its own.
void TakeScores(size_t points, const float* __restrict score, float* __restrict best, float* __restrict variance)
{
    const float outlier = kOutlierScore * kOutlierScore;
    for (size_t i = 0; i < points; ++i)
    {
        const float s = score[i];
        best[i] = std::max(best[i], s);
        const float s2 = s * s;  // the residual squared over the variance
        const float keep = static_cast<float>(s2 < outlier);
        variance[i] *= 1.0f + keep * kNoiseRate * (s2 - 1.0f);
    }
}
}  // namespace

void CZubSpotReference::Start(const SZubGrid& grid)
{
    m_grid = grid;
    m_nStored = 0;
    m_nRing = 0;
    m_nFrames = 0;
    m_stored.clear();
    m_ring.assign(grid.Points() * kRingSlots, 0.0f);
}

void CZubSpotReference::AddMeanCrop()
{
    if (m_nStored >= kMaxStored)
        return;
    m_stored.insert(m_stored.end(), Frame(), Frame() + m_grid.Points());
    ++m_nStored;
}

void CZubSpotReference::Prepare(const std::vector<float>& weights)
{
    const size_t points = m_grid.Points();
    m_reference.assign(points, 0.0f);
    for (int k = 0; k < m_nStored; ++k)
    {
        const float* crop = m_stored.data() + points * static_cast<size_t>(k);
        for (size_t i = 0; i < points; ++i)
            m_reference[i] += crop[i];
    }
    for (float& v : m_reference)
        v /= static_cast<float>(std::max(1, m_nStored));
    m_variance.assign(points, 1.0f);
    SetWeights(weights);
    BuildNoise();
    m_nRing = 0;
    m_stored.clear();
    m_stored.shrink_to_fit();
}

void CZubSpotReference::SetWeights(const std::vector<float>& weights)
{
    m_weights = weights;
    m_nSearched = static_cast<size_t>(std::count(weights.begin(), weights.end(), 1.0f));
    BuildModel();
    RefreshInvSigma();
}

void CZubSpotReference::BuildModel()
{
    // What a change of gain, a small shift and a change of blur of the reference add to the
    // filtered difference: the reference, its two derivatives and its Laplacian. The grid's
    // outer ring is never searched.
    const size_t points = m_grid.Points();
    const int w = m_grid.w;
    for (std::vector<float>& term : m_terms)
        term.assign(points, 0.0f);
    for (int j = 1; j < m_grid.h - 1; ++j)
        for (int i = 1; i < w - 1; ++i)
        {
            const size_t p = m_grid.Index(i, j);
            if (m_weights[p] == 0.0f)
                continue;
            const float* f = m_reference.data() + p;
            m_terms[0][p] = f[0];
            m_terms[1][p] = 0.5f * (f[1] - f[-1]);
            m_terms[2][p] = 0.5f * (f[w] - f[-w]);
            m_terms[3][p] = f[1] + f[-1] + f[w] + f[-w] - 4.0f * f[0];
        }
    std::array<std::array<double, kModelTerms>, kModelTerms> normal{};
    for (int j = 1; j < m_grid.h - 1; j += kFitRowStep)
        for (int i = 1; i < w - 1; ++i)
        {
            const size_t p = m_grid.Index(i, j);
            for (int k = 0; k < kModelTerms; ++k)
                for (int l = 0; l < kModelTerms; ++l)
                    normal[k][l] += m_terms[k][p] * m_terms[l][p];
        }
    m_solve = Invert(normal);
}

void CZubSpotReference::Fit()
{
    // The least-squares fit of the terms to the difference; the reference is the gain term,
    // so the difference is the frame minus term 0.
    const float* d = Frame();
    float sums[kModelTerms][kLanes] = {};
    for (int j = 1; j < m_grid.h - 1; j += kFitRowStep)
    {
        const size_t row = m_grid.Index(0, j);
        FitRow(d + row, m_terms[0].data() + row, m_terms[1].data() + row, m_terms[2].data() + row,
               m_terms[3].data() + row, m_grid.w, sums);
    }
    double b[kModelTerms] = {};
    for (int k = 0; k < kModelTerms; ++k)
        for (size_t l = 0; l < kLanes; ++l)
            b[k] += sums[k][l];
    for (int k = 0; k < kModelTerms; ++k)
    {
        double sum = 0.0;
        for (int l = 0; l < kModelTerms; ++l)
            sum += m_solve[k][l] * b[l];
        m_beta[k] = static_cast<float>(sum);
    }
    m_beta[0] += 1.0f;  // the reference itself
}

void CZubSpotReference::BuildNoise()
{
    const size_t points = m_grid.Points();
    std::vector<double> squares(points, 0.0);
    for (int k = 0; k < m_nStored; ++k)
    {
        const float* crop = m_stored.data() + points * static_cast<size_t>(k);
        std::copy_n(crop, points, Frame());
        Fit();
        for (size_t i = 0; i < points; ++i)
        {
            const float e = crop[i] - (m_beta[0] * m_reference[i] + m_beta[1] * m_terms[1][i] +
                                       m_beta[2] * m_terms[2][i] + m_beta[3] * m_terms[3][i]);
            squares[i] += static_cast<double>(e) * e;
        }
    }
    // Each crop is part of the mean it is compared with, which makes it look a bit quieter;
    // a few dozen crops give a rough estimate per point: average it with its neighbours.
    const double scale = m_nStored > 1 ? 1.0 / (m_nStored - 1.0) : 1.0;
    const int w = m_grid.w;
    const int h = m_grid.h;
    m_variance.resize(points);
    std::vector<float> searched;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
        {
            double sum = 0.0;
            int count = 0;
            for (int sj = std::max(0, j - 1); sj <= std::min(h - 1, j + 1); ++sj)
                for (int si = std::max(0, i - 1); si <= std::min(w - 1, i + 1); ++si, ++count)
                    sum += squares[m_grid.Index(si, sj)];
            const size_t p = m_grid.Index(i, j);
            m_variance[p] = static_cast<float>(sum * scale / count);
            if (m_weights[p] != 0.0f)
                searched.push_back(m_variance[p]);
        }
    // A floor of a quarter of the typical variance: no place may look quieter than that.
    float floor = 1e-6f;
    if (!searched.empty())
    {
        const auto middle = searched.begin() + static_cast<std::ptrdiff_t>(searched.size() / 2);
        std::nth_element(searched.begin(), middle, searched.end());
        floor = std::max(floor, 0.25f * *middle);
    }
    for (float& v : m_variance)
        v = std::max(v, floor);
    RefreshInvSigma();
}

void CZubSpotReference::RefreshInvSigma()
{
    m_invSigma.resize(m_grid.Points());
    const float* __restrict var = m_variance.data();
    const float* __restrict weight = m_weights.data();
    float* __restrict inv = m_invSigma.data();
    for (size_t i = 0; i < m_grid.Points(); ++i)
        inv[i] = weight[i] / std::sqrt(var[i]);
}

float CZubSpotReference::Sigma(size_t point) const
{
    return point < m_variance.size() ? std::sqrt(m_variance[point]) : 0.0f;
}

float CZubSpotReference::MedianSigma() const
{
    std::vector<float> sigmas;
    sigmas.reserve(m_nSearched);
    for (size_t i = 0; i < m_weights.size() && i < m_variance.size(); ++i)
        if (m_weights[i] == 1.0f)
            sigmas.push_back(m_variance[i]);
    if (sigmas.empty())
        return 0.0f;
    std::nth_element(sigmas.begin(), sigmas.begin() + static_cast<std::ptrdiff_t>(sigmas.size() / 2), sigmas.end());
    return std::sqrt(sigmas[sigmas.size() / 2]);
}

SZubPoint CZubSpotReference::Offset() const
{
    // The fit says the frame is the reference moved by beta / beta0 grid steps (2 px each).
    auto pixels = [&](float beta) {
        const float shift = m_beta[0] > 0.1f ? -2.0f * beta / m_beta[0] : 0.0f;
        return static_cast<int32_t>(std::lround(std::clamp(shift, -1.0f - kMaxOffset, 1.0f + kMaxOffset)));
    };
    return {pixels(m_beta[1]), pixels(m_beta[2])};
}

bool CZubSpotReference::Score(float* score, float* best)
{
    const size_t points = m_grid.Points();
    const float chi = ScorePoints(points, Frame(), m_terms[0].data(), m_terms[1].data(), m_terms[2].data(),
                                  m_terms[3].data(), m_beta, m_invSigma.data(), score);
    if (chi > kMaxFrameChi * static_cast<float>(m_nSearched))
        return false;
    TakeScores(points, score, best, m_variance.data());
    if (++m_nFrames % kInvSigmaRefresh == 0)
        RefreshInvSigma();
    return true;
}

void CZubSpotReference::Follow()
{
    // The slot after the frame's holds the frame kGap before it: it joins the reference, and
    // the next frame takes its place.
    ++m_nRing;
    if (m_nRing > kGap)
    {
        float* __restrict ref = m_reference.data();
        const float* __restrict old = Frame();
        for (size_t i = 0; i < m_grid.Points(); ++i)
            ref[i] += kFollowRate * (old[i] - ref[i]);
    }
    if (m_nRing % kModelRefresh == 0)
        BuildModel();
}
