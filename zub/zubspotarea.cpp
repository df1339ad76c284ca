#include "zubspotarea.h"

#include "zubframe.h"
#include "zubspotreference.h"

#include <algorithm>
#include <cstring>

// ---- The crop with its border ---------------------------------------------------------------

void CZubSpotCrop::Copy(const CZubFrame& roi)
{
    m_iWidth = roi.m_iWidth;
    m_iHeight = roi.m_iHeight;
    const std::ptrdiff_t stride = Stride();
    m_pixels.resize(static_cast<size_t>(stride) * static_cast<size_t>(m_iHeight + 2 * kBorder));
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* in = roi.GetRow(y);
        uint8_t* out = Origin() + y * stride;
        std::memcpy(out, in, static_cast<size_t>(m_iWidth));
        std::memset(out - kBorder, in[0], kBorder);
        std::memset(out + m_iWidth, in[m_iWidth - 1], kBorder);
    }
    for (int k = 1; k <= kBorder; ++k)
    {
        std::memcpy(Origin() - kBorder - k * stride, Origin() - kBorder, static_cast<size_t>(stride));
        std::memcpy(Origin() - kBorder + (m_iHeight - 1 + k) * stride, Origin() - kBorder + (m_iHeight - 1) * stride,
                    static_cast<size_t>(stride));
    }
}

// ---- Sensor defects ---------------------------------------------------------------------------

namespace
{
// A lone pixel stands this many noise sigmas above its neighbours.
constexpr int kLoneSigmas = 6;
constexpr int kMinThreshold = 5;

// The second brightest of a pixel's four neighbours: a lone pixel, even one beside another,
// stands well above it; a pixel on an edge or inside anything wider than a pixel does not.
inline uint8_t SecondNeighbour(const uint8_t* p, std::ptrdiff_t stride)
{
    const uint8_t l = p[-1], r = p[1], u = p[-stride], d = p[stride];
    return std::max(std::min(std::max(l, r), std::max(u, d)), std::max(std::min(l, r), std::min(u, d)));
}
}  // namespace

void CZubSensorDefects::Start(SZubSize frame)
{
    m_frame = frame;
    m_iThreshold = 0;
    m_hits.assign(static_cast<size_t>(std::max(0, frame.cx)) * static_cast<size_t>(std::max(0, frame.cy)), 0);
    m_defects.clear();
}

void CZubSensorDefects::LearnAndRepair(CZubSpotCrop& crop, SZubPoint origin)
{
    if (m_hits.empty())
        return;
    // The crop's pixels that are pixels of the sensor, two from the crop's edges (the shape
    // test reads that far).
    const SInside inside{std::max(2, -origin.x), std::min(crop.Width() - 2, m_frame.cx - origin.x),
                         std::max(2, -origin.y), std::min(crop.Height() - 2, m_frame.cy - origin.y)};
    m_lone.clear();
    if (inside.x1 > inside.x0 && inside.y1 > inside.y0)
    {
        if (m_iThreshold == 0)
            SetThreshold(crop, inside);
        Learn(crop, inside, origin);
    }
    Repair(crop, origin, m_defects);
    Repair(crop, origin, m_lone);
}

void CZubSensorDefects::SetThreshold(const CZubSpotCrop& crop, const SInside& inside)
{
    // The pixel noise from the differences of horizontal neighbours: their median absolute
    // value is 0.95 sigma for Gaussian noise.
    uint32_t histogram[256] = {};
    uint32_t count = 0;
    for (int y = inside.y0; y < inside.y1; ++y)
    {
        const uint8_t* row = crop.Origin() + y * crop.Stride();
        for (int x = inside.x0 + 1; x < inside.x1; ++x, ++count)
            ++histogram[std::abs(row[x] - row[x - 1])];
    }
    uint32_t seen = 0;
    int median = 0;
    while (median < 255 && (seen += histogram[median]) < count / 2)
        ++median;
    m_iThreshold = std::max(kMinThreshold, kLoneSigmas * std::max(1, median));
}

void CZubSensorDefects::Learn(const CZubSpotCrop& crop, const SInside& inside, SZubPoint origin)
{
    const std::ptrdiff_t stride = crop.Stride();
    const int x0 = inside.x0, x1 = inside.x1;
    m_flags.resize(static_cast<size_t>(x1 - x0));
    const uint8_t threshold = static_cast<uint8_t>(std::min(m_iThreshold, 255));
    for (int y = inside.y0; y < inside.y1; ++y)
    {
        const uint8_t* row = crop.Origin() + y * stride;
        uint8_t* __restrict flags = m_flags.data();
        uint8_t any = 0;
        for (int x = x0; x < x1; ++x)  // bytes only and no branch: it vectorises
        {
            const uint8_t p = row[x];
            const uint8_t second = SecondNeighbour(row + x, stride);
            const uint8_t excess = p > second ? static_cast<uint8_t>(p - second) : 0;
            const uint8_t flag = excess > threshold ? 1 : 0;
            flags[x - x0] = flag;
            any |= flag;
        }
        if (!any)
            continue;
        for (int x = x0; x < x1; ++x)
        {
            if (!flags[x - x0])
                continue;
            // At least half its excess over the ring two pixels out is already there over its
            // neighbours: nothing wider than a pixel.
            const uint8_t* p = row + x;
            const int ring = (p[-2] + p[2] + p[-2 * stride] + p[2 * stride]) / 4;
            if (p[0] <= ring || 2 * (p[0] - SecondNeighbour(p, stride)) < p[0] - ring)
                continue;
            m_lone.push_back({origin.x + x, origin.y + y});
            uint8_t& hits = m_hits[static_cast<size_t>(origin.y + y) * m_frame.cx + (origin.x + x)];
            if (hits < 255 && ++hits == kHitsForDefect)
                m_defects.push_back({origin.x + x, origin.y + y});
        }
    }
}

void CZubSensorDefects::Repair(CZubSpotCrop& crop, SZubPoint origin, const std::vector<SZubPoint>& pixels)
{
    const std::ptrdiff_t stride = crop.Stride();
    for (const SZubPoint& d : pixels)
    {
        const int x = d.x - origin.x;
        const int y = d.y - origin.y;
        if (x < 0 || y < 0 || x >= crop.Width() || y >= crop.Height())
            continue;
        // The middle two of the four neighbours: right even beside another defect.
        uint8_t* p = crop.Origin() + y * stride + x;
        const int n[4] = {p[-1], p[1], p[-stride], p[stride]};
        const int sum = n[0] + n[1] + n[2] + n[3];
        const int high = std::max(std::max(n[0], n[1]), std::max(n[2], n[3]));
        const int low = std::min(std::min(n[0], n[1]), std::min(n[2], n[3]));
        *p = static_cast<uint8_t>((sum - high - low) / 2);
    }
}

// ---- The search area --------------------------------------------------------------------------

void CZubSearchArea::Start(int width, int height)
{
    m_iWidth = width;
    m_iHeight = height;
    m_x0 = m_y0 = 0;
    m_x1 = width;
    m_y1 = height;
    m_disc.clear();
}

void CZubSearchArea::MeasureDisc(const CZubFrame& mean, const CZubFrame& disc)
{
    double inside = 0.0, outside = 0.0;
    size_t nOutside = 0;
    m_whole = {};
    const size_t pixels = static_cast<size_t>(m_iWidth) * static_cast<size_t>(m_iHeight);
    for (size_t i = 0; i < pixels; ++i)
        if (disc.m_pBits[i] == 1)
            inside += mean.m_pBits16[i], ++m_whole.pixels;
        else
            outside += mean.m_pBits16[i], ++nOutside;
    if (m_whole.pixels == 0)
        return;
    m_whole.mean = inside / static_cast<double>(m_whole.pixels);
    const double sky = nOutside > 0 ? outside / static_cast<double>(nOutside) : 0.0;
    m_whole.light = std::max(0.0, inside - sky * static_cast<double>(m_whole.pixels));
}

void CZubSearchArea::Build(const std::vector<uint32_t>& sums, int frames)
{
    // The planet as KIV's mask finds it in the mean frame, before any shrinking.
    CZubFrame mean;
    CZubFrame disc;
    mean.Create(m_iWidth, m_iHeight, FRAME_MONO16);
    disc.Create(m_iWidth, m_iHeight, FRAME_MONO8);
    for (size_t i = 0; i < sums.size(); ++i)
        mean.m_pBits16[i] = static_cast<uint16_t>(sums[i] / static_cast<uint32_t>(std::max(1, frames)));
    mean.MakeMask(disc);
    MeasureDisc(mean, disc);
    for (int k = 0; k < kLimbMargin; ++k)
        disc.ErodeMask();
    m_disc.assign(disc.m_pBits, disc.m_pBits + sums.size());
}

bool CZubSearchArea::AddCrop(SZubPoint origin, SZubSize frame)
{
    const int x0 = std::max(m_x0, -origin.x), x1 = std::min(m_x1, frame.cx - origin.x);
    const int y0 = std::max(m_y0, -origin.y), y1 = std::min(m_y1, frame.cy - origin.y);
    const bool bShrank = x0 != m_x0 || x1 != m_x1 || y0 != m_y0 || y1 != m_y1;
    m_x0 = x0, m_x1 = x1, m_y0 = y0, m_y1 = y1;
    return bShrank;
}

bool CZubSearchArea::Weights(const SZubGrid& grid, std::vector<float>& weights) const
{
    weights.assign(grid.Points(), 0.0f);
    // The filter of a searched point, however the crop is moved, reads only pixels inside
    // every frame.
    const int before = CZubSpotFilter::kReachBefore + CZubSpotReference::kMaxOffset;
    const int after = CZubSpotFilter::kReachAfter + CZubSpotReference::kMaxOffset;
    const int x0 = m_x0 > 0 ? m_x0 + before : 0;
    const int y0 = m_y0 > 0 ? m_y0 + before : 0;
    const int x1 = m_x1 < m_iWidth ? m_x1 - after : m_iWidth;
    const int y1 = m_y1 < m_iHeight ? m_y1 - after : m_iHeight;
    bool bAny = false;
    for (int j = 0; j < grid.h; ++j)
        for (int i = 0; i < grid.w; ++i)
        {
            const int x = grid.x0 + 2 * i;
            const int y = grid.y0 + 2 * j;
            if (x < x0 || y < y0 || x >= x1 || y >= y1 || m_disc[static_cast<size_t>(y) * m_iWidth + x] != 1)
                continue;
            weights[grid.Index(i, j)] = 1.0f;
            bAny = true;
        }
    return bAny;
}
