// Measurements on a frame: histogram, centre of mass, planet size, brightest pixel, mean
// level, mask, ROI scaling.
#include "zubframe.h"
#include "zubframeinternal.h"

#include "zubapp.h"
#include "zubcandidate.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace zubframe;

namespace
{
// ---- Centre of mass ----------------------------------------------------------------------

// The sampled pixels of a centre-of-mass window: every second row and column from (x0, y0),
// upper bounds exclusive.
struct SSampleWindow
{
    int x0, x1, y0, y1;
};

using SampleCounts = std::array<int64_t, 256>;

SampleCounts SampledHistogram(const CZubFrame& frame, const SSampleWindow& w)
{
    // Neighbours of equal value would wait on each other's count: two tables take turns.
    std::array<SampleCounts, 2> counts{};
    for (int y = w.y0; y < w.y1; y += 2)
    {
        const uint8_t* row = frame.GetRow(y);
        int x = w.x0;
        for (; x + 2 < w.x1; x += 4)
        {
            ++counts[0][row[x]];
            ++counts[1][row[x + 2]];
        }
        if (x < w.x1)
            ++counts[0][row[x]];
    }
    for (size_t v = 0; v < 256; ++v)
        counts[0][v] += counts[1][v];
    return counts[0];
}

// The smallest value that at least num/den of the samples do not exceed.
int Percentile(const SampleCounts& counts, int64_t total, int64_t num, int64_t den)
{
    int v = 0;
    for (int64_t atOrBelow = counts[0]; atOrBelow * den < total * num && v < 255;)
        atOrBelow += counts[++v];
    return v;
}

// The level the sky's samples stay below: the commonest value of the darker half, plus the
// sky's spread below it (down to where its bins fall under a sixteenth of the peak, about
// 2.4 sigma of Gaussian noise) mirrored above it. 0 for a black sky. A sky lies far below
// the planet's bright level (that of the brightest thousandth of the samples); a level that
// does not (a frame filled by the Moon's surface has no sky) fades out between an eighth
// and a quarter of the bright level, so that the centre never jumps between frames.
int SkyLevel(const SampleCounts& counts)
{
    int64_t total = 0;
    for (const int64_t c : counts)
        total += c;
    const int median = Percentile(counts, total, 1, 2);
    int mode = 0;
    for (int v = 1; v <= median; ++v)
        if (counts[v] > counts[mode])
            mode = v;
    int low = mode;
    while (low > 0 && counts[low - 1] * 16 >= counts[mode])
        --low;
    const int sky = 2 * mode - low;
    const int bright = Percentile(counts, total, 999, 1000);
    return std::clamp(std::min(sky, bright / 4 - sky), 0, 255);
}

// Centre of the samples weighted by their value above `sky`, each coordinate truncated
// toward zero; (-1, -1) when nothing weighs.
SZubPoint WeightedCentre(const CZubFrame& frame, const SSampleWindow& w, int sky)
{
    std::array<int, 256> weight{};
    for (int v = sky + 1; v < 256; ++v)
        weight[v] = v - sky;
    // Integer sums stay exact far beyond any frame size; only the quotients are real.
    int64_t sumX = 0, sumY = 0, sum = 0;
    for (int y = w.y0; y < w.y1; y += 2)
    {
        const uint8_t* row = frame.GetRow(y);
        int64_t rowSum = 0;
        for (int x = w.x0; x < w.x1; x += 2)
        {
            const int v = weight[row[x]];
            sumX += static_cast<int64_t>(x) * v;
            rowSum += v;
        }
        sumY += static_cast<int64_t>(y) * rowSum;
        sum += rowSum;
    }
    if (sum == 0)
        return {-1, -1};
    const double s = static_cast<double>(sum);
    return {static_cast<int32_t>(static_cast<double>(sumX) / s),
            static_cast<int32_t>(static_cast<double>(sumY) / s)};
}

// ---- Profiles (MeasureExtent, ProfileThreshold16) -------------------------------------

// Width of the smoothing window: odd and at least 1.
int SmoothingWidth()
{
    int w = ZubApp().m_params.PlanetSizeFilter;
    if (w % 2 == 0)
        ++w;
    return std::max(w, 1);
}

// Moving average of width w (odd, <= len); the ends repeat the first and last full window.
template <typename T>
std::vector<int> SmoothProfile(const T* profile, int len, int w)
{
    const int h = (w - 1) / 2;
    std::vector<int> q(static_cast<size_t>(len));
    int64_t sum = 0;
    for (int i = 0; i < w; ++i)
        sum += profile[i];
    for (int i = h; i <= len - h - 1; ++i)
    {
        q[i] = static_cast<int>(sum / w);
        if (i + h + 1 < len)
            sum += profile[i + h + 1] - static_cast<int64_t>(profile[i - h]);
    }
    std::fill(q.begin(), q.begin() + h, q[h]);
    std::fill(q.end() - h, q.end(), q[len - h - 1]);
    return q;
}

struct SProfileLevels
{
    int iThreshold;
    int iMax;
};

// T = max - trunc(ROIFactorBright * (max - min)) of the smoothed profile.
SProfileLevels ThresholdOf(const std::vector<int>& q, int minStart)
{
    int mn = minStart;
    int mx = 0;
    for (int v : q)
    {
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    // The cast needs a number it can take: a factor given on the command line may be inf or nan.
    const double drop = ZubApp().m_params.ROIFactorBright * (mx - mn);
    return {mx - (std::isnan(drop) ? 0 : static_cast<int>(std::clamp(drop, -1e9, 1e9))), mx};
}
}  // namespace

// ---- Measurements -------------------------------------------------------------------------

void CZubFrame::ComputeHistogram()
{
    if (!Require(m_iBits == FRAME_MONO8))
        return;
    std::array<int64_t, 256> counts{};
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            ++counts[row[x]];
    }
    counts[0] = 0;  // black is not shown
    const int64_t tallest = std::max<int64_t>(1, *std::max_element(counts.begin(), counts.end()));
    for (size_t i = 0; i < counts.size(); ++i)
        m_aHisto[i] = static_cast<int32_t>(counts[i] * 100 / tallest);
}

int CZubFrame::GetMaxValue() const
{
    int best = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        if (m_iBits == FRAME_MONO16)
        {
            const uint16_t* row = GetRow16(y);
            for (int x = 0; x < m_iWidth; ++x)
                best = std::max<int>(best, row[x]);
        }
        else if (m_iBits == FRAME_MONO8)
        {
            const uint8_t* row = GetRow(y);
            for (int x = 0; x < m_iWidth; ++x)
                best = std::max<int>(best, row[x]);
        }
    }
    return best;
}

SZubPoint CZubFrame::GetCenter() const
{
    return {m_iWidth / 2, m_iHeight / 2};
}

SZubPoint CZubFrame::GetCenterOfMass() const
{
    return GetCenterOfMass(SZubPoint{});
}

SZubPoint CZubFrame::GetCenterOfMass(SZubPoint p) const
{
    if (!Require(m_iBits == FRAME_MONO8))
        return {-1, -1};
    SSampleWindow w{0, m_iWidth, 0, m_iHeight};
    if (p != SZubPoint{})
    {
        // The largest window centred on p that stays inside the frame.
        if (p.x < m_iWidth / 2)
            w.x1 = 2 * p.x;
        else
            w.x0 = 2 * p.x - m_iWidth;
        if (p.y < m_iHeight / 2)
            w.y1 = 2 * p.y;
        else
            w.y0 = 2 * p.y - m_iHeight;
    }
    // An odd size can put the start one pixel before the frame: keep the sampling grid.
    if (w.x0 < 0)
        w.x0 += (1 - w.x0) / 2 * 2;
    if (w.y0 < 0)
        w.y0 += (1 - w.y0) / 2 * 2;
    w.x1 = std::min(w.x1, m_iWidth);
    w.y1 = std::min(w.y1, m_iHeight);

    // The sky's own level would pull the centre toward the window's middle, the more so the
    // farther the planet has drifted: only what rises above the sky is weighed.
    return WeightedCentre(*this, w, SkyLevel(SampledHistogram(*this, w)));
}

SZubSize CZubFrame::GetPlanetSize(int x, int y)
{
    if (!Require(m_iBits == FRAME_MONO8))
        return {};
    SZubSize size;
    // A point off the frame has no row or column to measure: its extent is 0, as at a border.
    if (y >= 0 && y < m_iHeight)
        size.cx = MeasureExtent(GetRow(y), m_iWidth, x);
    if (x >= 0 && x < m_iWidth)
    {
        const size_t height = static_cast<size_t>(m_iHeight);
        if (m_nColumnSize < height)
        {
            m_pColumn = std::make_unique_for_overwrite<uint8_t[]>(height);
            m_nColumnSize = height;
        }
        const uint8_t* in = m_pBits + x;
        for (size_t r = 0; r < height; ++r, in += Width())
            m_pColumn[r] = *in;
        size.cy = MeasureExtent(m_pColumn.get(), m_iHeight, y);
    }
    return size;
}

int CZubFrame::MeasureExtent(const uint8_t* profile, int len, int index)
{
    const int w = SmoothingWidth();
    if (profile == nullptr || len < w)
        return 0;
    const std::vector<int> q = SmoothProfile(profile, len, w);
    const int threshold = ThresholdOf(q, 255).iThreshold;
    int i = 0;
    for (; i < len / 2; ++i)
    {
        if (index - i < 0 || index + i >= len)
            return 0;  // the bright run reaches the border
        if (q[index - i] < threshold || q[index + i] < threshold)
            break;
    }
    return 2 * i + 1;
}

SZubThreshold CZubFrame::ProfileThreshold16(const uint16_t* profile, int len)
{
    const int w = SmoothingWidth();
    if (profile == nullptr || len < w)
        return {};
    const SProfileLevels levels = ThresholdOf(SmoothProfile(profile, len, w), 65535);
    return {levels.iThreshold, levels.iMax};
}

void CZubFrame::GetMaxPixel(CZubCandidate& record) const
{
    if (!Require(m_iBits == FRAME_MONO8))
        return;
    int best = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
        {
            if (row[x] > best)
            {
                best = row[x];
                record.m_iKivValue = best;
                record.m_ptKiv = {x, y};
            }
        }
    }
}

void CZubFrame::GetMaxPixelMasked(CZubCandidate& record, const CZubFrame& mask) const
{
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(mask, FRAME_MONO8)))
        return;
    // Difference frames are centred on 128: a flash must stand that far above no change.
    const int threshold = 128 + ZubApp().m_params.MinIncrBright;
    const int width = m_iWidth;
    int best = 0;
    for (int y = 1; y < m_iHeight - 1; ++y)
    {
        const uint8_t* above = GetRow(y - 1);
        const uint8_t* row = GetRow(y);
        const uint8_t* below = GetRow(y + 1);
        const uint8_t* m = mask.GetRow(y);
        // A row whose brightest pixel is neither above the threshold nor above the best so
        // far holds no pixel to take (most rows of a difference frame).
        uint8_t top = 0;
        for (int x = 1; x < width - 1; ++x)
            top = std::max(top, row[x]);
        if (top <= threshold || top <= best)
            continue;
        for (int x = 1; x < width - 1; ++x)
        {
            const int v = row[x];
            if (m[x] == 1 && v > best && v > threshold && above[x] > threshold
                && below[x] > threshold && row[x - 1] > threshold && row[x + 1] > threshold)
            {
                best = v;
                record.m_iKivValue = v;
                record.m_ptKiv = {x, y};
            }
        }
    }
}

int CZubFrame::GetMean(const CZubFrame* mask) const
{
    if (!Require(m_iBits == FRAME_MONO8 && (!mask || SameSize(*mask, FRAME_MONO8))))
        return 0;
    int64_t sum = 0;
    int64_t count = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        if (!mask)
        {
            for (int x = 0; x < m_iWidth; ++x)
                sum += row[x];
            count += m_iWidth;
            continue;
        }
        // Branch-free, so that the compiler can vectorise the row.
        const uint8_t* m = mask->GetRow(y);
        uint32_t rowSum = 0;
        uint32_t rowCount = 0;
        for (int x = 0; x < m_iWidth; ++x)
        {
            const uint32_t inside = m[x] == 1;
            rowSum += row[x] * inside;
            rowCount += inside;
        }
        sum += rowSum;
        count += rowCount;
    }
    return count > 0 ? static_cast<int>(sum / count) : 0;
}

void CZubFrame::MakeMask(CZubFrame& mask) const
{
    if (!Require(m_iBits == FRAME_MONO16 && mask.m_iBits == FRAME_MONO8
                 && mask.m_iWidth == m_iWidth && mask.m_iHeight == m_iHeight)
        || m_iHeight == 0)
        return;
    const int threshold = ProfileThreshold16(GetRow16(GetCenter().y), m_iWidth).iThreshold;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint16_t* in = GetRow16(y);
        uint8_t* out = mask.GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            out[x] = in[x] > threshold ? 1 : 0;
    }
}

int CZubFrame::CountCenterRow() const
{
    if (!Require(m_iBits == FRAME_MONO8) || m_iHeight == 0)
        return 0;
    const uint8_t* row = GetRow(m_iHeight / 2);
    return static_cast<int>(std::count_if(row, row + m_iWidth, [](uint8_t v) { return v != 0; }));
}

bool CZubFrame::ErodeMask()
{
    if (!Require(m_iBits == FRAME_MONO8))
        return false;
    constexpr uint8_t kEroded = 2;
    bool changed = false;
    // Marks are 2, not 0, so this step peels exactly one layer.
    for (int y = 1; y < m_iHeight - 1; ++y)
    {
        const uint8_t* above = GetRow(y - 1);
        uint8_t* row = GetRow(y);
        const uint8_t* below = GetRow(y + 1);
        for (int x = 1; x < m_iWidth - 1; ++x)
        {
            if (row[x] == 1 && (above[x] == 0 || below[x] == 0 || row[x - 1] == 0 || row[x + 1] == 0))
                row[x] = kEroded;
        }
    }
    for (size_t i = 0; i < PixelCount(); ++i)
    {
        if (m_pBits[i] == kEroded)
        {
            m_pBits[i] = 0;
            changed = true;
        }
    }
    return changed;
}

void CZubFrame::ReduceMask(int n)
{
    if (n <= 0)
        return;
    const int target = CountCenterRow() - n;
    int count = 0;
    // Stops early once nothing is left to erode, however large n is.
    do
    {
        if (!ErodeMask())
            break;
        count = CountCenterRow();
    } while (count > target && count > 0);
}

namespace
{
// Clamped before the cast: the settings file may hold any factor (1e8, a negative one, nan).
int32_t ScaleSide(int32_t side, double factor)
{
    const double scaled = side * factor;
    if (!(scaled > 0.0))
        return 0;
    return static_cast<int32_t>(std::min(scaled, static_cast<double>(INT32_MAX)));
}
}  // namespace

SZubSize CZubFrame::ScaleSize(SZubSize s)
{
    const double factor = ZubApp().m_params.ROIFactorSize;
    return {ScaleSide(s.cx, factor), ScaleSide(s.cy, factor)};
}
