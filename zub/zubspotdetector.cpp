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
// change of the whole frame's level or of a large region does not look like a spot.
constexpr double kSpotSigma = 1.5;
constexpr int kGaussRadius = 4;
constexpr int kBoxRadius = 7;
constexpr int kBorder = kBoxRadius;  // the larger of the two radii
constexpr float kBoxScale = 1.0f / ((2 * kBoxRadius + 1) * (2 * kBoxRadius + 1));

// Spots below this score are not kept; a detection needs its peak at the threshold setting.
constexpr float kKeepScore = 3.5f;
// Noise learning during the impact pass: the weight of a new frame, and the score beyond
// which a difference is a spot, not noise (a flash must not raise its own noise).
constexpr float kNoiseRate = 1.0f / 64.0f;
constexpr float kOutlierScore = 4.0f;
constexpr int kInvSigmaRefresh = 8;  // frames between refreshes of the inverse noise
constexpr int kNoiseSmoothRadius = 2;
// A place lit in more than this share of the frames around a detection is a fixed feature.
constexpr int kLitWindow = 250;
constexpr double kLitShare = 0.5;

struct SGaussTaps
{
    float w[2 * kGaussRadius + 1];
    SGaussTaps()
    {
        double sum = 0.0;
        for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
            sum += std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma));
        for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
            w[k + kGaussRadius] = static_cast<float>(std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma)) / sum);
    }
};
const SGaussTaps kTaps;

// The filter's response to a seeing-sized spot of 1 gray level at its centre.
float UnitResponse()
{
    double response = 0.0;
    for (int y = -kBoxRadius; y <= kBoxRadius; ++y)
    {
        for (int x = -kBoxRadius; x <= kBoxRadius; ++x)
        {
            const double spot = std::exp(-0.5 * (x * x + y * y) / (kSpotSigma * kSpotSigma));
            double k = -kBoxScale;
            if (std::abs(x) <= kGaussRadius && std::abs(y) <= kGaussRadius)
                k += kTaps.w[x + kGaussRadius] * kTaps.w[y + kGaussRadius];
            response += k * spot;
        }
    }
    return static_cast<float>(response);
}

CZubLog& Log()
{
    return ZubApp().m_log;
}

bool TraceOn()
{
    const SZubParams& p = ZubApp().m_params;
    return p.WriteConsole || (p.LogProcess && p.LogDetails);
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
        {
            for (size_t j = 0; j < N; ++j)
                a[k][j] = a[j][k] = inv[k][j] = inv[j][k] = 0.0;
            continue;
        }
        used[k] = true;
        const double pivot = a[k][k];
        for (size_t j = 0; j < N; ++j)
        {
            a[k][j] /= pivot;
            inv[k][j] /= pivot;
        }
        for (size_t i = 0; i < N; ++i)
        {
            if (i == k)
                continue;
            const double f = a[i][k];
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

// Square of half-side r, strict bounds: the closeness of the duplicate rejection.
bool IsNear(SZubPoint a, SZubPoint b, int r)
{
    const int64_t radius = r;
    return b.x - radius < a.x && a.x < b.x + radius && b.y - radius < a.y && a.y < b.y + radius;
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
        sumX += s.fScore * s.x;
        sumY += s.fScore * s.y;
        sumW += s.fScore;
        if (s.fScore > peak.fScore)
            peak = s;
    }
};

CZubSpotDetector::CZubSpotDetector() = default;
CZubSpotDetector::~CZubSpotDetector() = default;

// ---- Filtering ---------------------------------------------------------------------------

template <class FRow>
void CZubSpotDetector::FilterRect(FRow&& row, const SRect& rect, float* out)
{
    const int w = rect.Width();
    const int h = rect.Height();
    const int rows = h + 2 * kBorder;
    float* gauss = m_rows.data();
    float* box = m_boxRows.data();
    for (int r = 0; r < rows; ++r, gauss += w, box += w)
    {
        const auto* in = row(rect.y0 - kBorder + r) + rect.x0;
        for (int x = 0; x < w; ++x)
        {
            float s = 0.0f;
            for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
                s += kTaps.w[k + kGaussRadius] * in[x + k];
            gauss[x] = s;
        }
        float sum = 0.0f;
        for (int k = -kBoxRadius; k <= kBoxRadius; ++k)
            sum += in[k];
        box[0] = sum;
        for (int x = 1; x < w; ++x)
        {
            sum += in[x + kBoxRadius] - in[x - kBoxRadius - 1];
            box[x] = sum;
        }
    }

    // Vertical: the Gaussian taps, and a running sum of the box rows.
    float* column = m_boxColumn.data();
    std::fill_n(column, w, 0.0f);
    for (int r = 0; r < 2 * kBoxRadius; ++r)
    {
        const float* b = m_boxRows.data() + static_cast<size_t>(r) * w;
        for (int x = 0; x < w; ++x)
            column[x] += b[x];
    }
    for (int y = 0; y < h; ++y, out += w)
    {
        const float* enter = m_boxRows.data() + static_cast<size_t>(y + 2 * kBoxRadius) * w;
        for (int x = 0; x < w; ++x)
            column[x] += enter[x];
        const float* g = m_rows.data() + static_cast<size_t>(y + kBorder - kGaussRadius) * w;
        for (int x = 0; x < w; ++x)
        {
            float s = 0.0f;
            for (int k = 0; k <= 2 * kGaussRadius; ++k)
                s += kTaps.w[k] * g[static_cast<size_t>(k) * w + x];
            out[x] = s - column[x] * kBoxScale;
        }
        const float* leave = m_boxRows.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x)
            column[x] -= leave[x];
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
    m_interior = {kBorder, kBorder, std::max(kBorder, m_iRoiWidth - kBorder), std::max(kBorder, m_iRoiHeight - kBorder)};
    m_sum.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0);
    m_rows.resize(static_cast<size_t>(m_interior.Width()) * (m_interior.Height() + 2 * kBorder));
    m_boxRows.resize(m_rows.size());
    m_boxColumn.resize(static_cast<size_t>(m_interior.Width()));
}

void CZubSpotDetector::AddMeanFrame(int n, const CZubFrame& roi)
{
    if (!Enabled() || roi.m_iBits != FRAME_MONO8 || !roi.HasBuffer())
        return;
    const size_t pixels = static_cast<size_t>(roi.m_iWidth) * roi.m_iHeight;
    try
    {
        if (n == 1 || roi.m_iWidth != m_iRoiWidth || roi.m_iHeight != m_iRoiHeight)
            StartRun(roi);
        if (m_nStored < kMaxStoredFrames)
        {
            m_stored.insert(m_stored.end(), roi.m_pBits, roi.m_pBits + pixels);
            ++m_nStored;
        }
    }
    catch (const std::bad_alloc&)
    {
        m_iRoiWidth = m_iRoiHeight = 0;
        m_nMeanFrames = 0;
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
    if (!Enabled() || m_nStored < 3 || m_interior.Width() < 5 || m_interior.Height() < 5)
        return;
    if (mask && (mask->m_iWidth != m_iRoiWidth || mask->m_iHeight != m_iRoiHeight || mask->m_iBits != FRAME_MONO8 ||
                 !mask->HasBuffer()))
        mask = nullptr;
    try
    {
        if (!BuildModel(mask))
            return;
        BuildNoiseMap();
        m_detection.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0.0f);
    }
    catch (const std::bad_alloc&)
    {
        Log().Log("ZUB: not enough memory for the ROI.");
        return;
    }
    m_spots.clear();
    m_fUnitResponse = UnitResponse();
    m_bReady = true;
}

bool CZubSpotDetector::BuildModel(const CZubFrame* mask)
{
    // The search: the mask's bounding box, one pixel inside the interior for the derivatives.
    const SRect inner{m_interior.x0 + 1, m_interior.y0 + 1, m_interior.x1 - 1, m_interior.y1 - 1};
    SRect s{inner.x1, inner.y1, inner.x0, inner.y0};
    for (int y = inner.y0; y < inner.y1; ++y)
    {
        const uint8_t* m = mask ? mask->GetRow(y) : nullptr;
        for (int x = inner.x0; x < inner.x1; ++x)
            if (!m || m[x] == 1)
                s = {std::min(s.x0, x), std::min(s.y0, y), std::max(s.x1, x + 1), std::max(s.y1, y + 1)};
    }
    if (s.Width() < 3 || s.Height() < 3)
        return false;
    m_search = s;

    // The mean and its filtered image over the interior.
    std::vector<float> mean(m_sum.size());
    for (size_t i = 0; i < m_sum.size(); ++i)
        mean[i] = static_cast<float>(m_sum[i]) / static_cast<float>(m_nMeanFrames);
    std::vector<float> filtered(m_interior.Pixels());
    FilterRect([&](int y) { return mean.data() + static_cast<size_t>(y) * m_iRoiWidth; }, m_interior, filtered.data());

    // What a change of gain, a small shift and a change of blur of the mean frame add to the
    // filtered difference: the filtered mean, its two derivatives and its Laplacian.
    const int w = m_search.Width();
    const size_t pixels = m_search.Pixels();
    const int iw = m_interior.Width();
    m_meanResponse.resize(pixels);
    m_inMask.resize(pixels);
    for (std::vector<float>& term : m_terms)
        term.resize(pixels);
    std::array<std::array<double, kModelTerms>, kModelTerms> normal{};
    for (size_t i = 0; i < pixels; ++i)
    {
        const int x = m_search.x0 + static_cast<int>(i % w);
        const int y = m_search.y0 + static_cast<int>(i / w);
        const float* f = filtered.data() + static_cast<size_t>(y - m_interior.y0) * iw + (x - m_interior.x0);
        m_meanResponse[i] = f[0];
        m_terms[0][i] = f[0];
        m_terms[1][i] = 0.5f * (f[1] - f[-1]);
        m_terms[2][i] = 0.5f * (f[iw] - f[-iw]);
        m_terms[3][i] = f[1] + f[-1] + f[iw] + f[-iw] - 4.0f * f[0];
        m_inMask[i] = !mask || *mask->GetPixel(x, y) == 1 ? 1.0f : 0.0f;
        for (int k = 0; k < kModelTerms; ++k)
            for (int l = 0; l < kModelTerms; ++l)
                normal[k][l] += m_inMask[i] * m_terms[k][i] * m_terms[l][i];
    }
    m_solve = Invert(normal);
    return true;
}

void CZubSpotDetector::RemoveModel()
{
    const size_t pixels = m_search.Pixels();
    float* d = m_response.data();
    double b[kModelTerms] = {};
    for (size_t i = 0; i < pixels;)
    {
        // Sums by blocks of lanes, so that the compiler can vectorise them.
        constexpr size_t kLanes = 8;
        float lane[kModelTerms][kLanes] = {};
        const size_t end = std::min(pixels, i + 1024);
        for (; i + kLanes <= end; i += kLanes)
            for (size_t l = 0; l < kLanes; ++l)
            {
                const float v = (d[i + l] - m_meanResponse[i + l]) * m_inMask[i + l];
                for (int k = 0; k < kModelTerms; ++k)
                    lane[k][l] += v * m_terms[k][i + l];
            }
        for (; i < end; ++i)
            for (int k = 0; k < kModelTerms; ++k)
                lane[k][0] += (d[i] - m_meanResponse[i]) * m_inMask[i] * m_terms[k][i];
        for (int k = 0; k < kModelTerms; ++k)
            for (size_t l = 0; l < kLanes; ++l)
                b[k] += lane[k][l];
    }
    float beta[kModelTerms];
    for (int k = 0; k < kModelTerms; ++k)
    {
        double sum = 0.0;
        for (int l = 0; l < kModelTerms; ++l)
            sum += m_solve[k][l] * b[l];
        beta[k] = static_cast<float>(sum);
    }
    const float* t0 = m_terms[0].data();
    const float* t1 = m_terms[1].data();
    const float* t2 = m_terms[2].data();
    const float* t3 = m_terms[3].data();
    for (size_t i = 0; i < pixels; ++i)
        d[i] -= m_meanResponse[i] + beta[0] * t0[i] + beta[1] * t1[i] + beta[2] * t2[i] + beta[3] * t3[i];
}

void CZubSpotDetector::BuildNoiseMap()
{
    const size_t pixels = m_search.Pixels();
    const size_t roiPixels = static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight;
    m_response.resize(pixels);
    std::vector<double> squares(pixels, 0.0);
    for (int k = 0; k < m_nStored; ++k)
    {
        const uint8_t* crop = m_stored.data() + roiPixels * static_cast<size_t>(k);
        FilterRect([&](int y) { return crop + static_cast<size_t>(y) * m_iRoiWidth; }, m_search, m_response.data());
        RemoveModel();
        for (size_t i = 0; i < pixels; ++i)
            squares[i] += static_cast<double>(m_response[i]) * m_response[i];
    }
    // Each crop is part of the mean it is compared with, which makes it look a bit quieter.
    const double n = m_nMeanFrames;
    const double scale = n / (n - 1) / m_nStored;
    // A few dozen frames give a rough estimate per pixel: average it over a small neighbourhood.
    const int w = m_search.Width();
    const int h = m_search.Height();
    m_variance.resize(pixels);
    std::vector<float> inside;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            double sum = 0.0;
            int count = 0;
            for (int sy = std::max(0, y - kNoiseSmoothRadius); sy <= std::min(h - 1, y + kNoiseSmoothRadius); ++sy)
                for (int sx = std::max(0, x - kNoiseSmoothRadius); sx <= std::min(w - 1, x + kNoiseSmoothRadius); ++sx, ++count)
                    sum += squares[static_cast<size_t>(sy) * w + sx];
            const size_t i = static_cast<size_t>(y) * w + x;
            m_variance[i] = static_cast<float>(sum * scale / count);
            if (m_inMask[i] != 0.0f)
                inside.push_back(m_variance[i]);
        }
    // A floor of a quarter of the typical variance: no place may look quieter than that.
    float floor = 1e-6f;
    if (!inside.empty())
    {
        std::nth_element(inside.begin(), inside.begin() + inside.size() / 2, inside.end());
        floor = std::max(floor, 0.25f * inside[inside.size() / 2]);
    }
    m_invSigma.resize(pixels);
    for (size_t i = 0; i < pixels; ++i)
    {
        m_variance[i] = std::max(m_variance[i], floor);
        m_invSigma[i] = 1.0f / std::sqrt(m_variance[i]);
    }
    m_score.assign(pixels, 0.0f);
    m_stored.clear();
    m_stored.shrink_to_fit();
}

// ---- Impact phase --------------------------------------------------------------------------

void CZubSpotDetector::ProcessFrame(int n, const CZubFrame& roi)
{
    if (!m_bReady || !Enabled() || roi.m_iBits != FRAME_MONO8 || roi.m_iWidth != m_iRoiWidth ||
        roi.m_iHeight != m_iRoiHeight)
        return;
    FilterRect([&](int y) { return roi.GetRow(y); }, m_search, m_response.data());
    RemoveModel();
    ScoreFrame();
    UpdateNoise(n);
    KeepBestSpots(n);
    if (TraceOn())
        LogFrameSpot(n);
}

void CZubSpotDetector::ScoreFrame()
{
    const int w = m_search.Width();
    for (int y = 0; y < m_search.Height(); ++y)
    {
        const size_t row = static_cast<size_t>(y) * w;
        const float* d = m_response.data() + row;
        const float* inv = m_invSigma.data() + row;
        const float* m = m_inMask.data() + row;
        float* score = m_score.data() + row;
        float* image = m_detection.data() + static_cast<size_t>(m_search.y0 + y) * m_iRoiWidth + m_search.x0;
        for (int x = 0; x < w; ++x)
        {
            const float s = d[x] * inv[x] * m[x];
            score[x] = s;
            image[x] = std::max(image[x], s);
        }
    }
}

void CZubSpotDetector::UpdateNoise(int n)
{
    const size_t pixels = m_variance.size();
    const float* d = m_response.data();
    float* var = m_variance.data();
    const float outlier = kOutlierScore * kOutlierScore;
    for (size_t i = 0; i < pixels; ++i)
    {
        const float d2 = d[i] * d[i];
        var[i] += d2 < outlier * var[i] ? kNoiseRate * (d2 - var[i]) : 0.0f;
    }
    if (n % kInvSigmaRefresh == 0)
        for (size_t i = 0; i < pixels; ++i)
            m_invSigma[i] = 1.0f / std::sqrt(var[i]);
}

void CZubSpotDetector::KeepBestSpots(int n)
{
    const int w = m_search.Width();
    const float keep = std::min(kKeepScore, static_cast<float>(ZubApp().m_params.ZubThreshold));
    SZubSpot best[kMaxSpotsPerFrame];
    int count = 0;
    for (int y = 1; y < m_search.Height() - 1; ++y)
    {
        const float* above = m_score.data() + static_cast<size_t>(y - 1) * w;
        const float* row = above + w;
        const float* below = row + w;
        for (int x = 1; x < w - 1; ++x)
        {
            const float s = row[x];
            if (s < keep)
                continue;
            // A local maximum; ties go to the first in row order.
            if (!(s > above[x - 1] && s > above[x] && s > above[x + 1] && s > row[x - 1] && s >= row[x + 1] &&
                  s >= below[x - 1] && s >= below[x] && s >= below[x + 1]))
                continue;
            if (count == kMaxSpotsPerFrame && s <= best[count - 1].fScore)
                continue;
            int at = std::min(count, kMaxSpotsPerFrame - 1);
            while (at > 0 && best[at - 1].fScore < s)
            {
                best[at] = best[at - 1];
                --at;
            }
            const float d = m_response[static_cast<size_t>(y) * w + x];
            best[at] = {n, static_cast<int16_t>(m_search.x0 + x), static_cast<int16_t>(m_search.y0 + y), s,
                        d / m_fUnitResponse};
            count = std::min(count + 1, kMaxSpotsPerFrame);
        }
    }
    m_spots.insert(m_spots.end(), best, best + count);
}

void CZubSpotDetector::LogFrameSpot(int n) const
{
    const SZubSpot* spot = !m_spots.empty() && m_spots.back().iFrame == n ? &m_spots.back() : nullptr;
    // The best of the frame is the first of its spots.
    if (spot)
        while (spot != m_spots.data() && (spot - 1)->iFrame == n)
            --spot;
    const SZubSpot none;
    const SZubSpot& s = spot ? *spot : none;
    Log().LogTrace("ZUB PROCESS frame: %4i Spot at: (%3i-%3i) %5.1f", n, s.x, s.y, s.fScore);
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
        if (it->iFrame == litFrame || std::abs(it->x - place.x) > kTrackRadius || std::abs(it->y - place.y) > kTrackRadius)
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
    record.m_iZubValue = static_cast<int32_t>(std::lround(peak.fIncrease));
    // Found by KIV too: listed once, as KIV's candidate.
    const int first = std::max(1, peak.iFrame - p.RejectDuplicities);
    const int last = std::min(nRecords, peak.iFrame + p.RejectDuplicities);
    for (int f = first; f <= last; ++f)
    {
        const CZubCandidate& other = records[f - 1];
        if (other.m_iKivState == ZUB_STATE_CANDIDATE && IsNear(other.m_ptKiv, record.m_ptZub, p.RadiusSearch))
        {
            record.m_iZubState = ZUB_STATE_CLEARED;
            Log().Log("ZUB frame: %4i at: (%3i-%3i) found by KIV in frame: %i", peak.iFrame, peak.x, peak.y, f);
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
    const bool bDetail = p.LogProcess && p.LogDetails;
    int nFound = 0;
    for (const STrack& track : tracks)
    {
        if (track.nFrames < p.ZubMinFrames || track.peak.fScore < static_cast<float>(p.ZubThreshold) ||
            track.peak.iFrame > nRecords)
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
