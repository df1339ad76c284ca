#include "zubspotdetector.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubframe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace
{
// The matched filter: a Gaussian of seeing size minus the mean of a wider box, so that a
// change of a whole region's level does not look like a spot.
constexpr double kSpotSigma = 1.5;
constexpr int kGaussRadius = 3;
constexpr int kBoxRadius = 7;
constexpr float kBoxScale = 1.0f / ((2 * kBoxRadius + 1) * (2 * kBoxRadius + 1));
// Pixels between the search and the ROI's edge: the filter's reach from a grid point one
// step outside the search, and a pixel more for the row pairs.
constexpr int kMargin = 12;

// Spots below this score are not kept; a detection needs its peak at the threshold setting.
constexpr float kKeepScore = 3.5f;
// Noise learning during the impact pass: the weight of a new frame, and the score beyond
// which a difference is a spot, not noise (a flash must not raise its own noise).
constexpr float kNoiseRate = 1.0f / 64.0f;
constexpr float kOutlierScore = 4.0f;
constexpr int kInvSigmaRefresh = 8;  // frames between refreshes of the inverse noise
// A place lit in more than this share of the frames around a detection is a fixed feature.
constexpr int kLitWindow = 250;
constexpr double kLitShare = 0.5;

// The Gaussian's taps from the centre out, summing to 1 over both sides.
struct SGaussTaps
{
    float t[kGaussRadius + 1];
    SGaussTaps()
    {
        double sum = 0.0;
        for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
            sum += std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma));
        for (int k = 0; k <= kGaussRadius; ++k)
            t[k] = static_cast<float>(std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma)) / sum);
    }
};
const SGaussTaps kTaps;

// The filter's response to a seeing-sized spot of 1 gray level at its centre.
float UnitResponse()
{
    double response = 0.0;
    for (int y = -kBoxRadius; y <= kBoxRadius; ++y)
        for (int x = -kBoxRadius; x <= kBoxRadius; ++x)
        {
            double k = -kBoxScale;
            if (std::abs(x) <= kGaussRadius && std::abs(y) <= kGaussRadius)
                k += kTaps.t[std::abs(x)] * kTaps.t[std::abs(y)];
            response += k * std::exp(-0.5 * (x * x + y * y) / (kSpotSigma * kSpotSigma));
        }
    return static_cast<float>(response);
}

// A row from 8 pixels before a grid's first column, split into its even and odd pixels.
template <class T>
void SplitRow(const T* __restrict in, int n, float* __restrict even, float* __restrict odd)
{
    for (int m = 0; m < n; ++m)
    {
        even[m] = static_cast<float>(in[2 * m]);
        odd[m] = static_cast<float>(in[2 * m + 1]);
    }
}

// The horizontal pass of a split row at the grid's w columns: the Gaussian and the box sum.
void FilterRowH(const float* __restrict even, const float* __restrict odd, float* __restrict pairs, int w,
                float* __restrict gauss, float* __restrict box)
{
    const float t0 = kTaps.t[0], t1 = kTaps.t[1], t2 = kTaps.t[2], t3 = kTaps.t[3];
    for (int m = 0; m < w + 8; ++m)
        pairs[m] = even[m] + odd[m];
    for (int i = 0; i < w; ++i)
    {
        // Grid column i is even pixel i + 4 of the split row.
        gauss[i] = t0 * even[i + 4] + t1 * (odd[i + 3] + odd[i + 4]) + t2 * (even[i + 3] + even[i + 5]) +
                   t3 * (odd[i + 2] + odd[i + 5]);
        box[i] = odd[i] + pairs[i + 1] + pairs[i + 2] + pairs[i + 3] + pairs[i + 4] + pairs[i + 5] + pairs[i + 6] +
                 pairs[i + 7];
    }
}

// The vertical pass at one grid row: the Gaussian over rows g[-3..3], minus the box mean.
void FilterRowV(const float* g, size_t stride, const float* __restrict column, float* __restrict out, int w)
{
    const float t0 = kTaps.t[0], t1 = kTaps.t[1], t2 = kTaps.t[2], t3 = kTaps.t[3];
    const float* __restrict m3 = g - 3 * stride;
    const float* __restrict m2 = g - 2 * stride;
    const float* __restrict m1 = g - stride;
    const float* __restrict c = g;
    const float* __restrict p1 = g + stride;
    const float* __restrict p2 = g + 2 * stride;
    const float* __restrict p3 = g + 3 * stride;
    for (int i = 0; i < w; ++i)
        out[i] = t0 * c[i] + t1 * (m1[i] + p1[i]) + t2 * (m2[i] + p2[i]) + t3 * (m3[i] + p3[i]) - column[i] * kBoxScale;
}

// column += a + b - c - d (c, d null: only the additions).
void MoveColumn(float* __restrict column, const float* __restrict a, const float* __restrict b,
                const float* __restrict c, const float* __restrict d, int w)
{
    if (!c)
        for (int i = 0; i < w; ++i)
            column[i] += a[i] + b[i];
    else
        for (int i = 0; i < w; ++i)
            column[i] += (a[i] + b[i]) - (c[i] + d[i]);
}

CZubLog& Log()
{
    return ZubApp().m_log;
}

bool DetailOn()
{
    const SZubParams& p = ZubApp().m_params;
    return p.LogProcess && p.LogDetails;
}

bool Enabled()
{
    return ZubApp().m_params.ZubDetection;
}

// The inverse of a small symmetric matrix, by Gauss-Jordan elimination; a direction the
// data does not determine (a flat mean frame has no derivatives) gets no weight.
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


// Offset of a parabola's top through three samples around the middle one, -0.5 to 0.5.
float Vertex(float before, float at, float after)
{
    const float curve = before - 2.0f * at + after;
    return curve < 0.0f ? std::clamp(0.5f * (before - after) / curve, -0.5f, 0.5f) : 0.0f;
}
}  // namespace

struct CZubSpotDetector::STrack
{
    int iFirst = 0;
    int iLast = 0;
    int nFrames = 0;
    int x = 0;  // where its last spot was
    int y = 0;
    double sumX = 0.0, sumY = 0.0, sumW = 0.0;
    SZubSpot peak;

    SZubPoint Place() const
    {
        return {static_cast<int32_t>(std::lround(sumX / sumW)), static_cast<int32_t>(std::lround(sumY / sumW))};
    }
    void Add(const SZubSpot& s)
    {
        if (nFrames == 0)
            iFirst = s.iFrame;
        iLast = s.iFrame;
        ++nFrames;
        x = s.x;
        y = s.y;
        const double weight = std::max(s.fScore, 1e-3f);
        sumX += weight * s.x;
        sumY += weight * s.y;
        sumW += weight;
        if (nFrames == 1 || s.fScore > peak.fScore)
            peak = s;
    }
};

CZubSpotDetector::CZubSpotDetector() = default;
CZubSpotDetector::~CZubSpotDetector() = default;

// ---- Filtering ---------------------------------------------------------------------------

template <class FRow>
void CZubSpotDetector::FilterGrid(FRow&& row, const SGrid& grid, float* out)
{
    const int w = grid.w;
    const size_t stride = static_cast<size_t>(w);
    const int rows = 2 * (grid.h - 1) + 2 * kBoxRadius + 1;
    const size_t need = stride * static_cast<size_t>(rows);
    if (m_rowsGauss.size() < need)  // grows once, at the first (largest) grid
    {
        m_rowsGauss.resize(need);
        m_rowsBox.resize(need);
    }
    if (m_even.size() < stride + 8)
    {
        m_even.resize(stride + 8);
        m_odd.resize(stride + 8);
        m_pairs.resize(stride + 8);
        m_column.resize(stride);
    }
    for (int r = 0; r < rows; ++r)
    {
        SplitRow(row(grid.y0 - kBoxRadius + r) + grid.x0 - 8, w + 8, m_even.data(), m_odd.data());
        FilterRowH(m_even.data(), m_odd.data(), m_pairs.data(), w, m_rowsGauss.data() + r * stride,
                   m_rowsBox.data() + r * stride);
    }
    // Vertical: grid row j is split row 2j + kBoxRadius; the box sums 15 rows around it.
    float* column = m_column.data();
    std::fill_n(column, w, 0.0f);
    const float* box = m_rowsBox.data();
    for (int r = 0; r < 2 * kBoxRadius; r += 2)
        MoveColumn(column, box + r * stride, box + (r + 1) * stride, nullptr, nullptr, w);
    for (int i = 0; i < w; ++i)
        column[i] += box[2 * kBoxRadius * stride + i];
    for (int j = 0; j < grid.h; ++j, out += w)
    {
        // Two rows enter below, two leave above.
        const int enter = 2 * j + 2 * kBoxRadius - 1;
        if (j > 0)
            MoveColumn(column, box + enter * stride, box + (enter + 1) * stride, box + (2 * j - 2) * stride,
                       box + (2 * j - 1) * stride, w);
        FilterRowV(m_rowsGauss.data() + (2 * j + kBoxRadius) * stride, stride, column, out, w);
    }
}

// ---- Mean phase ----------------------------------------------------------------------------

void CZubSpotDetector::StartRun(const CZubFrame& roi)
{
    m_bReady = false;
    m_nMeanFrames = 0;
    m_nStored = 0;
    m_spots.clear();
    m_detection.clear();
    m_stored.clear();
    m_iRoiWidth = roi.m_iWidth;
    m_iRoiHeight = roi.m_iHeight;
    m_sum.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0);
}

void CZubSpotDetector::AddMeanFrame(int n, const CZubFrame& roi)
{
    if (!Enabled() || roi.m_iBits != FRAME_MONO8 || !roi.HasBuffer())
        return;
    const size_t pixels = static_cast<size_t>(roi.m_iWidth) * roi.m_iHeight;
    try
    {
        if (n == 1)
            StartRun(roi);
        else if (roi.m_iWidth != m_iRoiWidth || roi.m_iHeight != m_iRoiHeight)
            return;  // a run without its first mean frame, or without memory for it
        if (m_nStored < kMaxStoredFrames)
        {
            m_stored.insert(m_stored.end(), roi.m_pBits, roi.m_pBits + pixels);
            ++m_nStored;
        }
    }
    catch (const std::bad_alloc&)
    {
        m_iRoiWidth = m_iRoiHeight = 0;
        m_nMeanFrames = m_nStored = 0;
        Log().Log("ZUB: not enough memory for the ROI.");
        return;
    }
    for (size_t i = 0; i < pixels; ++i)
        m_sum[i] += roi.m_pBits[i];
    ++m_nMeanFrames;
}

void CZubSpotDetector::Prepare(const CZubFrame* mask)
{
    m_bReady = false;
    m_spots.clear();
    if (!Enabled() || m_nStored < 3)
        return;
    if (mask && (mask->m_iWidth != m_iRoiWidth || mask->m_iHeight != m_iRoiHeight || mask->m_iBits != FRAME_MONO8 ||
                 !mask->HasBuffer()))
        mask = nullptr;
    try
    {
        if (!BuildModel(mask))
            return;
        BuildNoiseMap();
    }
    catch (const std::bad_alloc&)
    {
        Log().Log("ZUB: not enough memory for the ROI.");
        return;
    }
    m_fUnitResponse = UnitResponse();
    m_bReady = true;
}

bool CZubSpotDetector::BuildModel(const CZubFrame* mask)
{
    // The grid covers the mask's bounding box, far enough from the ROI's edges.
    int x0 = m_iRoiWidth, y0 = m_iRoiHeight, x1 = 0, y1 = 0;
    for (int y = kMargin; y < m_iRoiHeight - kMargin; ++y)
    {
        const uint8_t* m = mask ? mask->GetRow(y) : nullptr;
        for (int x = kMargin; x < m_iRoiWidth - kMargin; ++x)
            if (!m || m[x] == 1)
            {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x + 1);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y + 1);
            }
    }
    if (x1 - x0 < 6 || y1 - y0 < 6)
        return false;
    m_grid = {x0, y0, (x1 - x0 + 1) / 2, (y1 - y0 + 1) / 2};

    // The filtered mean on the grid and one point around it, for the derivatives.
    std::vector<float> mean(m_sum.size());
    for (size_t i = 0; i < m_sum.size(); ++i)
        mean[i] = static_cast<float>(m_sum[i]) / static_cast<float>(m_nMeanFrames);
    const SGrid outer{x0 - 2, y0 - 2, m_grid.w + 2, m_grid.h + 2};
    std::vector<float> filtered(outer.Points());
    FilterGrid([&](int y) { return mean.data() + static_cast<size_t>(y) * m_iRoiWidth; }, outer, filtered.data());

    // What a change of gain, a small shift and a change of blur of the mean frame add to the
    // filtered difference: the filtered mean, its two derivatives and its Laplacian.
    const size_t points = m_grid.Points();
    m_inMask.resize(points);
    for (std::vector<float>& term : m_terms)
        term.resize(points);
    std::array<std::array<double, kModelTerms>, kModelTerms> normal{};
    const int ow = outer.w;
    for (int j = 0; j < m_grid.h; ++j)
        for (int i = 0; i < m_grid.w; ++i)
        {
            const size_t p = static_cast<size_t>(j) * m_grid.w + i;
            const float* f = filtered.data() + static_cast<size_t>(j + 1) * ow + (i + 1);
            m_terms[0][p] = f[0];
            m_terms[1][p] = 0.5f * (f[1] - f[-1]);
            m_terms[2][p] = 0.5f * (f[ow] - f[-ow]);
            m_terms[3][p] = f[1] + f[-1] + f[ow] + f[-ow] - 4.0f * f[0];
            m_inMask[p] = !mask || *mask->GetPixel(x0 + 2 * i, y0 + 2 * j) == 1 ? 1.0f : 0.0f;
            for (int k = 0; k < kModelTerms; ++k)
                for (int l = 0; l < kModelTerms; ++l)
                    normal[k][l] += m_inMask[p] * m_terms[k][p] * m_terms[l][p];
        }
    m_solve = Invert(normal);
    return true;
}

void CZubSpotDetector::FitModel()
{
    // The least-squares fit of the terms to the filtered difference over the mask; the
    // filtered mean is the gain term, so the difference is the response minus term 0.
    const size_t points = m_grid.Points();
    const float* __restrict d = m_response.data();
    const float* __restrict inMask = m_inMask.data();
    const float* __restrict t0 = m_terms[0].data();
    const float* __restrict t1 = m_terms[1].data();
    const float* __restrict t2 = m_terms[2].data();
    const float* __restrict t3 = m_terms[3].data();
    double b[kModelTerms] = {};
    constexpr size_t kLanes = 8;  // partial sums side by side, so that they vectorise
    for (size_t i = 0; i < points;)
    {
        float lane[kModelTerms][kLanes] = {};
        const size_t end = std::min(points, i + 1024);
        for (; i + kLanes <= end; i += kLanes)
            for (size_t l = 0; l < kLanes; ++l)
            {
                const float v = (d[i + l] - t0[i + l]) * inMask[i + l];
                lane[0][l] += v * t0[i + l];
                lane[1][l] += v * t1[i + l];
                lane[2][l] += v * t2[i + l];
                lane[3][l] += v * t3[i + l];
            }
        for (; i < end; ++i)
        {
            const float v = (d[i] - t0[i]) * inMask[i];
            lane[0][0] += v * t0[i];
            lane[1][0] += v * t1[i];
            lane[2][0] += v * t2[i];
            lane[3][0] += v * t3[i];
        }
        for (int k = 0; k < kModelTerms; ++k)
            for (size_t l = 0; l < kLanes; ++l)
                b[k] += lane[k][l];
    }
    for (int k = 0; k < kModelTerms; ++k)
    {
        double sum = 0.0;
        for (int l = 0; l < kModelTerms; ++l)
            sum += m_solve[k][l] * b[l];
        m_beta[k] = static_cast<float>(sum);
    }
    m_beta[0] += 1.0f;  // the mean itself
}

void CZubSpotDetector::RemoveModel()
{
    float* __restrict d = m_response.data();
    const float* __restrict t0 = m_terms[0].data();
    const float* __restrict t1 = m_terms[1].data();
    const float* __restrict t2 = m_terms[2].data();
    const float* __restrict t3 = m_terms[3].data();
    const float b0 = m_beta[0], b1 = m_beta[1], b2 = m_beta[2], b3 = m_beta[3];
    for (size_t i = 0; i < m_grid.Points(); ++i)
        d[i] -= b0 * t0[i] + b1 * t1[i] + b2 * t2[i] + b3 * t3[i];
}

void CZubSpotDetector::BuildNoiseMap()
{
    const size_t points = m_grid.Points();
    const size_t roiPixels = static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight;
    m_response.resize(points);
    std::vector<double> squares(points, 0.0);
    for (int k = 0; k < m_nStored; ++k)
    {
        const uint8_t* crop = m_stored.data() + roiPixels * static_cast<size_t>(k);
        FilterGrid([&](int y) { return crop + static_cast<size_t>(y) * m_iRoiWidth; }, m_grid, m_response.data());
        FitModel();
        RemoveModel();
        for (size_t i = 0; i < points; ++i)
            squares[i] += static_cast<double>(m_response[i]) * m_response[i];
    }
    // Each crop is part of the mean it is compared with, which makes it look a bit quieter;
    // a few dozen crops give a rough estimate per point: average it with its neighbours.
    const double scale = m_nMeanFrames / (m_nMeanFrames - 1.0) / m_nStored;
    const int w = m_grid.w;
    const int h = m_grid.h;
    m_variance.resize(points);
    std::vector<float> inside;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
        {
            double sum = 0.0;
            int count = 0;
            for (int sj = std::max(0, j - 1); sj <= std::min(h - 1, j + 1); ++sj)
                for (int si = std::max(0, i - 1); si <= std::min(w - 1, i + 1); ++si, ++count)
                    sum += squares[static_cast<size_t>(sj) * w + si];
            const size_t p = static_cast<size_t>(j) * w + i;
            m_variance[p] = static_cast<float>(sum * scale / count);
            if (m_inMask[p] != 0.0f)
                inside.push_back(m_variance[p]);
        }
    // A floor of a quarter of the typical variance: no place may look quieter than that.
    float floor = 1e-6f;
    if (!inside.empty())
    {
        std::nth_element(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(inside.size() / 2), inside.end());
        floor = std::max(floor, 0.25f * inside[inside.size() / 2]);
    }
    m_invSigma.resize(points);
    for (size_t i = 0; i < points; ++i)
        m_variance[i] = std::max(m_variance[i], floor);
    RefreshInvSigma();
    m_score.assign(points, 0.0f);
    m_detection.assign(points, 0.0f);
    m_stored.clear();
    m_stored.shrink_to_fit();
}

// ---- Impact phase --------------------------------------------------------------------------

void CZubSpotDetector::ProcessFrame(int n, const CZubFrame& roi)
{
    if (!m_bReady || !Enabled() || roi.m_iBits != FRAME_MONO8 || roi.m_iWidth != m_iRoiWidth ||
        roi.m_iHeight != m_iRoiHeight)
        return;
    FilterGrid([&](int y) { return roi.GetRow(y); }, m_grid, m_response.data());
    FitModel();
    ScoreFrame(n);
    KeepBestSpots(n);
    if (DetailOn())
        LogFrameSpot(n);
}

void CZubSpotDetector::ScoreFrame(int n)
{
    // One pass: the residual, its score (0 outside the mask, where the inverse noise is 0),
    // the detection image and the noise.
    const size_t points = m_grid.Points();
    float* __restrict d = m_response.data();
    const float* __restrict t0 = m_terms[0].data();
    const float* __restrict t1 = m_terms[1].data();
    const float* __restrict t2 = m_terms[2].data();
    const float* __restrict t3 = m_terms[3].data();
    const float* __restrict inv = m_invSigma.data();
    float* __restrict var = m_variance.data();
    float* __restrict score = m_score.data();
    float* __restrict image = m_detection.data();
    const float b0 = m_beta[0], b1 = m_beta[1], b2 = m_beta[2], b3 = m_beta[3];
    const float outlier = kOutlierScore * kOutlierScore;
    for (size_t i = 0; i < points; ++i)
    {
        const float e = d[i] - (b0 * t0[i] + b1 * t1[i] + b2 * t2[i] + b3 * t3[i]);
        d[i] = e;
        const float s = e * inv[i];
        score[i] = s;
        image[i] = std::max(image[i], s);
        const float e2 = e * e;
        var[i] += e2 < outlier * var[i] ? kNoiseRate * (e2 - var[i]) : 0.0f;
    }
    if (n % kInvSigmaRefresh == 0)
        RefreshInvSigma();
}

void CZubSpotDetector::RefreshInvSigma()
{
    const float* __restrict var = m_variance.data();
    const float* __restrict inMask = m_inMask.data();
    float* __restrict inv = m_invSigma.data();
    for (size_t i = 0; i < m_grid.Points(); ++i)
        inv[i] = inMask[i] / std::sqrt(var[i]);
}

void CZubSpotDetector::KeepBestSpots(int n)
{
    const int w = m_grid.w;
    const float keep = std::min(kKeepScore, static_cast<float>(ZubApp().m_params.ZubThreshold));
    SZubSpot best[kMaxSpotsPerFrame];
    int count = 0;
    for (int j = 1; j < m_grid.h - 1; ++j)
    {
        const float* above = m_score.data() + static_cast<size_t>(j - 1) * w;
        const float* row = above + w;
        const float* below = row + w;
        for (int i = 1; i < w - 1; ++i)
        {
            const float s = row[i];
            if (s < keep || (count == kMaxSpotsPerFrame && s <= best[count - 1].fScore))
                continue;
            // A local maximum; ties go to the first in row order.
            if (!(s > above[i - 1] && s > above[i] && s > above[i + 1] && s > row[i - 1] && s >= row[i + 1] &&
                  s >= below[i - 1] && s >= below[i] && s >= below[i + 1]))
                continue;
            int at = std::min(count, kMaxSpotsPerFrame - 1);
            while (at > 0 && best[at - 1].fScore < s)
            {
                best[at] = best[at - 1];
                --at;
            }
            // The place between grid points from the parabolas through the neighbours.
            const float gx = static_cast<float>(i) + Vertex(row[i - 1], s, row[i + 1]);
            const float gy = static_cast<float>(j) + Vertex(above[i], s, below[i]);
            const float x = static_cast<float>(m_grid.x0) + 2.0f * gx;
            const float y = static_cast<float>(m_grid.y0) + 2.0f * gy;
            const float d = m_response[static_cast<size_t>(j) * w + i];
            best[at] = {n, static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y)), s,
                        d / m_fUnitResponse};
            count = std::min(count + 1, kMaxSpotsPerFrame);
        }
    }
    m_spots.insert(m_spots.end(), best, best + count);
}

void CZubSpotDetector::LogFrameSpot(int n) const
{
    // The best of the frame is the first of its spots.
    const SZubSpot* spot = !m_spots.empty() && m_spots.back().iFrame == n ? &m_spots.back() : nullptr;
    if (spot)
        while (spot != m_spots.data() && (spot - 1)->iFrame == n)
            --spot;
    const SZubSpot none;
    const SZubSpot& s = spot ? *spot : none;
    Log().LogDetail("ZUB PROCESS frame: %4i Spot at: (%3i-%3i) %5.1f", n, s.x, s.y, s.fScore);
}

std::vector<float> CZubSpotDetector::DetectionImage() const
{
    std::vector<float> image;
    if (!HasDetectionImage())
        return image;
    image.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0.0f);
    // Each grid point stands for the two-by-two pixels it starts.
    for (int j = 0; j < m_grid.h; ++j)
        for (int i = 0; i < m_grid.w; ++i)
        {
            const float v = m_detection[static_cast<size_t>(j) * m_grid.w + i];
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    image[static_cast<size_t>(m_grid.y0 + 2 * j + dy) * m_iRoiWidth + m_grid.x0 + 2 * i + dx] = v;
        }
    return image;
}

// ---- After the impact pass -----------------------------------------------------------------

void CZubSpotDetector::BuildTracks(std::vector<STrack>& tracks) const
{
    std::vector<STrack> open;
    size_t i = 0;
    while (i < m_spots.size())
    {
        const int frame = m_spots[i].iFrame;
        // Tracks that missed more than one frame are over.
        for (size_t t = 0; t < open.size();)
        {
            if (open[t].iLast < frame - 2)
            {
                tracks.push_back(open[t]);
                open[t] = open.back();
                open.pop_back();
            }
            else
                ++t;
        }
        // Best spots first, each to the nearest track not yet extended in this frame.
        for (; i < m_spots.size() && m_spots[i].iFrame == frame; ++i)
        {
            const SZubSpot& s = m_spots[i];
            STrack* nearest = nullptr;
            int nearestDistance = 0;
            for (STrack& t : open)
            {
                const int dx = std::abs(t.x - s.x);
                const int dy = std::abs(t.y - s.y);
                if (t.iLast == frame || dx > kTrackRadius || dy > kTrackRadius)
                    continue;
                if (!nearest || dx + dy < nearestDistance)
                {
                    nearest = &t;
                    nearestDistance = dx + dy;
                }
            }
            if (!nearest)
            {
                open.emplace_back();
                nearest = &open.back();
            }
            nearest->Add(s);
        }
    }
    tracks.insert(tracks.end(), open.begin(), open.end());
}

double CZubSpotDetector::LitShare(const STrack& track, int nRecords) const
{
    const int first = std::max(1, track.peak.iFrame - kLitWindow);
    const int last = std::min(nRecords, track.peak.iFrame + kLitWindow);
    if (last < first)
        return 0.0;
    const SZubPoint place = track.Place();
    auto it = std::lower_bound(m_spots.begin(), m_spots.end(), first,
                               [](const SZubSpot& s, int frame) { return s.iFrame < frame; });
    int lit = 0;
    int litFrame = 0;
    for (; it != m_spots.end() && it->iFrame <= last; ++it)
    {
        const bool bAway = std::abs(it->x - place.x) > kTrackRadius || std::abs(it->y - place.y) > kTrackRadius;
        if (it->iFrame == litFrame || bAway)
            continue;
        litFrame = it->iFrame;
        ++lit;
    }
    return static_cast<double>(lit) / (last - first + 1);
}

bool CZubSpotDetector::Mark(const STrack& track, CZubCandidate* records, int nRecords) const
{
    const SZubParams& p = ZubApp().m_params;
    const SZubSpot& peak = track.peak;
    CZubCandidate& record = records[peak.iFrame - 1];
    if (record.m_iFrame != peak.iFrame || record.m_iZubState != ZUB_STATE_NONE)
        return false;
    record.m_ptZub = {peak.x, peak.y};
    // On the scale of the difference image, as KIV's value: the frame's level plus the increase.
    record.m_iZubValue = std::clamp(record.m_iLevel + static_cast<int32_t>(std::lround(peak.fIncrease)), 0, 255);
    // Found by KIV too: listed once, as KIV's candidate.
    const int64_t first = std::max<int64_t>(1, int64_t{peak.iFrame} - p.RejectDuplicities);
    const int64_t last = std::min<int64_t>(nRecords, int64_t{peak.iFrame} + p.RejectDuplicities);
    for (int64_t f = first; f <= last; ++f)
    {
        const CZubCandidate& other = records[f - 1];
        if (other.m_iKivState == ZUB_STATE_CANDIDATE && ZubIsNear(other.m_ptKiv, record.m_ptZub, p.RadiusSearch))
        {
            record.m_iZubState = ZUB_STATE_CLEARED;
            Log().Log("ZUB frame: %4i at: (%3i-%3i) found by KIV in frame: %i", peak.iFrame, peak.x, peak.y,
                      static_cast<int>(f));
            return false;
        }
    }
    record.m_iZubState = ZUB_STATE_CANDIDATE;
    Log().Log("ZUB CANDIDATE frame: %4i at: (%3i-%3i) %5.1f sigma in %i frames", peak.iFrame, peak.x, peak.y,
              peak.fScore, track.nFrames);
    return true;
}

int CZubSpotDetector::Detect(CZubCandidate* records, int nRecords)
{
    const SZubParams& p = ZubApp().m_params;
    if (!p.ZubDetection)
        return 0;
    Log().LogView("Detect algorithm: ZUB");
    Log().LogView("Min. score: %i sigma", p.ZubThreshold);
    Log().LogView("Min. frames at one place: %i", p.ZubMinFrames);
    Log().LogView("Radius spot: %i", kTrackRadius);
    Log().LogView("Processing frames by ZUB algorithm...");
    if (!m_bReady)
        Log().Log("ZUB: no mean frame to compare with.");

    std::vector<STrack> tracks;
    if (m_bReady)
        BuildTracks(tracks);
    std::sort(tracks.begin(), tracks.end(), [](const STrack& a, const STrack& b) { return a.iFirst < b.iFirst; });
    const bool bDetail = DetailOn();
    int nFound = 0;
    for (const STrack& track : tracks)
    {
        if (track.nFrames < p.ZubMinFrames || track.peak.fScore < static_cast<float>(p.ZubThreshold) ||
            track.peak.iFrame < 1 || track.peak.iFrame > nRecords)
            continue;
        const double lit = LitShare(track, nRecords);
        if (bDetail)
            Log().LogDetail("ZUB spot frames: %i-%i at: (%3i-%3i) %5.1f sigma lit in %3.0f %% of frames", track.iFirst,
                            track.iLast, track.peak.x, track.peak.y, track.peak.fScore, 100.0 * lit);
        if (lit > kLitShare)
            continue;
        nFound += Mark(track, records, nRecords);
    }
    Log().LogView("Found %i candidates.", nFound);
    Log().LogView("Detection Ended.");
    return nFound;
}
