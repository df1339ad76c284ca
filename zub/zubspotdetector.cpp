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

void CZubSpotDetector::FilterRect(const CZubFrame& roi, const SRect& rect, float* out)
{
    const int w = rect.Width();
    const int h = rect.Height();
    const int rows = h + 2 * kBorder;
    float* gauss = m_rows.data();
    float* box = m_boxRows.data();
    for (int r = 0; r < rows; ++r, gauss += w, box += w)
    {
        const uint8_t* in = roi.GetRow(rect.y0 - kBorder + r) + rect.x0;
        for (int x = 0; x < w; ++x)
        {
            float s = 0.0f;
            for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
                s += kTaps.w[k + kGaussRadius] * in[x + k];
            gauss[x] = s;
        }
        int sum = 0;
        for (int k = -kBoxRadius; k <= kBoxRadius; ++k)
            sum += in[k];
        box[0] = static_cast<float>(sum);
        for (int x = 1; x < w; ++x)
        {
            sum += in[x + kBoxRadius] - in[x - kBoxRadius - 1];
            box[x] = static_cast<float>(sum);
        }
    }

    // Vertical: the Gaussian taps, and a running sum of the box rows (exact in float).
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

void CZubSpotDetector::AddMeanFrame(int n, const CZubFrame& roi)
{
    if (!Enabled() || roi.m_iBits != FRAME_MONO8 || !roi.HasBuffer())
        return;
    if (n == 1 || roi.m_iWidth != m_iRoiWidth || roi.m_iHeight != m_iRoiHeight)
    {
        m_bReady = false;
        m_nMeanFrames = 0;
        m_spots.clear();
        m_detection.clear();
        m_iRoiWidth = roi.m_iWidth;
        m_iRoiHeight = roi.m_iHeight;
        m_interior = {kBorder, kBorder, std::max(kBorder, m_iRoiWidth - kBorder),
                      std::max(kBorder, m_iRoiHeight - kBorder)};
        const size_t pixels = static_cast<size_t>(m_interior.Width()) * m_interior.Height();
        try
        {
            m_sum.assign(pixels, 0.0);
            m_sumSquares.assign(pixels, 0.0);
            m_response.resize(pixels);
            m_rows.resize(static_cast<size_t>(m_interior.Width()) * (m_interior.Height() + 2 * kBorder));
            m_boxRows.resize(m_rows.size());
            m_boxColumn.resize(static_cast<size_t>(m_interior.Width()));
        }
        catch (const std::bad_alloc&)
        {
            m_iRoiWidth = m_iRoiHeight = 0;
            m_interior = {};
            Log().Log("ZUB: not enough memory for the ROI.");
            return;
        }
    }
    if (m_interior.Width() <= 0 || m_interior.Height() <= 0)
        return;
    FilterRect(roi, m_interior, m_response.data());
    for (size_t i = 0; i < m_sum.size(); ++i)
    {
        const double v = m_response[i];
        m_sum[i] += v;
        m_sumSquares[i] += v * v;
    }
    ++m_nMeanFrames;
}

void CZubSpotDetector::Prepare(const CZubFrame* mask)
{
    m_bReady = false;
    if (!Enabled() || m_nMeanFrames < 3 || m_interior.Width() <= 2 || m_interior.Height() <= 2)
        return;
    if (mask && (mask->m_iWidth != m_iRoiWidth || mask->m_iHeight != m_iRoiHeight || !mask->HasBuffer()))
        mask = nullptr;

    // The search: the mask's bounding box, inside the interior.
    SRect s{m_interior.x1, m_interior.y1, m_interior.x0, m_interior.y0};
    for (int y = m_interior.y0; y < m_interior.y1; ++y)
    {
        const uint8_t* m = mask ? mask->GetRow(y) : nullptr;
        for (int x = m_interior.x0; x < m_interior.x1; ++x)
        {
            if (m && m[x] != 1)
                continue;
            s = {std::min(s.x0, x), std::min(s.y0, y), std::max(s.x1, x + 1), std::max(s.y1, y + 1)};
        }
    }
    if (s.Width() < 3 || s.Height() < 3)
        return;
    m_search = s;

    const int iw = m_interior.Width();
    const int ih = m_interior.Height();
    const double n = m_nMeanFrames;
    std::vector<float> variance(m_sum.size());
    for (size_t i = 0; i < m_sum.size(); ++i)
    {
        const double mean = m_sum[i] / n;
        variance[i] = static_cast<float>(std::max(0.0, m_sumSquares[i] / n - mean * mean) * n / (n - 1));
    }
    // Twenty frames give a rough estimate per pixel: average it over a small neighbourhood.
    std::vector<float> smooth(variance.size());
    for (int y = 0; y < ih; ++y)
    {
        for (int x = 0; x < iw; ++x)
        {
            double sum = 0.0;
            int count = 0;
            for (int dy = std::max(0, y - kNoiseSmoothRadius); dy <= std::min(ih - 1, y + kNoiseSmoothRadius); ++dy)
                for (int dx = std::max(0, x - kNoiseSmoothRadius); dx <= std::min(iw - 1, x + kNoiseSmoothRadius); ++dx, ++count)
                    sum += variance[static_cast<size_t>(dy) * iw + dx];
            smooth[static_cast<size_t>(y) * iw + x] = static_cast<float>(sum / count);
        }
    }

    const int w = m_search.Width();
    const int h = m_search.Height();
    const size_t pixels = static_cast<size_t>(w) * h;
    m_meanResponse.resize(pixels);
    m_variance.resize(pixels);
    m_invSigma.resize(pixels);
    m_inMask.resize(pixels);
    m_score.assign(pixels, 0.0f);
    m_response.resize(std::max(m_response.size(), pixels));
    std::vector<float> inside;
    for (int y = 0; y < h; ++y)
    {
        const uint8_t* m = mask ? mask->GetRow(m_search.y0 + y) : nullptr;
        for (int x = 0; x < w; ++x)
        {
            const size_t j = static_cast<size_t>(m_search.y0 + y - m_interior.y0) * iw + (m_search.x0 + x - m_interior.x0);
            const size_t i = static_cast<size_t>(y) * w + x;
            m_meanResponse[i] = static_cast<float>(m_sum[j] / n);
            m_variance[i] = smooth[j];
            m_inMask[i] = !m || m[m_search.x0 + x] == 1;
            if (m_inMask[i])
                inside.push_back(smooth[j]);
        }
    }
    // A floor of half the typical noise: no pixel may look quieter than the sensor allows.
    std::nth_element(inside.begin(), inside.begin() + inside.size() / 2, inside.end());
    const float floor = std::max(0.25f * inside[inside.size() / 2], 1e-6f);
    for (float& v : m_variance)
        v = std::max(v, floor);
    for (size_t i = 0; i < pixels; ++i)
        m_invSigma[i] = 1.0f / std::sqrt(m_variance[i]);

    m_detection.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0.0f);
    m_spots.clear();
    m_fUnitResponse = UnitResponse();
    m_bReady = true;
}

// ---- Impact phase --------------------------------------------------------------------------

void CZubSpotDetector::ProcessFrame(int n, const CZubFrame& roi)
{
    if (!m_bReady || !Enabled() || roi.m_iBits != FRAME_MONO8 || roi.m_iWidth != m_iRoiWidth ||
        roi.m_iHeight != m_iRoiHeight)
        return;
    FilterRect(roi, m_search, m_response.data());
    ScoreFrame(n);
    UpdateNoise(n);
    KeepBestSpots(n);
    if (TraceOn())
        LogFrameSpot(n);
}

void CZubSpotDetector::ScoreFrame(int)
{
    const int w = m_search.Width();
    for (int y = 0; y < m_search.Height(); ++y)
    {
        const size_t row = static_cast<size_t>(y) * w;
        float* d = m_response.data() + row;
        const float* mean = m_meanResponse.data() + row;
        const float* inv = m_invSigma.data() + row;
        const uint8_t* m = m_inMask.data() + row;
        float* score = m_score.data() + row;
        float* image = m_detection.data() + static_cast<size_t>(m_search.y0 + y) * m_iRoiWidth + m_search.x0;
        for (int x = 0; x < w; ++x)
        {
            d[x] -= mean[x];
            const float s = m[x] ? d[x] * inv[x] : 0.0f;
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
