// The second detector's spots of a frame: the best local maxima of its score map.
#include "zubspotdetector.h"

#include "zubapp.h"
#include "zubcandidate.h"

#include <algorithm>
#include <cmath>

namespace
{
// Spots below this score are not kept; a detection needs its peak at the threshold setting.
constexpr float kKeepScore = 3.5f;

// Offset of a parabola's top through three samples around the middle one, -0.5 to 0.5.
float Vertex(float before, float at, float after)
{
    const float curve = before - 2.0f * at + after;
    return curve < 0.0f ? std::clamp(0.5f * (before - after) / curve, -0.5f, 0.5f) : 0.0f;
}
// Whether a row holds a value of at least `level`: partial maxima side by side, no branch,
// so that it vectorises.
bool AnyAtLeast(const float* __restrict row, int n, float level)
{
    constexpr int kLanes = 8;
    float top[kLanes];
    std::fill_n(top, kLanes, level - 1.0f);
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int l = 0; l < kLanes; ++l)
            top[l] = row[i + l] > top[l] ? row[i + l] : top[l];
    for (; i < n; ++i)
        top[0] = row[i] > top[0] ? row[i] : top[0];
    return *std::max_element(top, top + kLanes) >= level;
}
}  // namespace

void CZubSpotDetector::KeepBestSpots(int n, SZubPoint offset)
{
    const SZubGrid grid = Grid();
    const int w = grid.w;
    const float keep = std::min(kKeepScore, static_cast<float>(ZubApp().m_params.ZubThreshold));
    SZubSpot best[kMaxSpotsPerFrame];
    int count = 0;
    for (int j = 1; j < grid.h - 1; ++j)
    {
        const float* above = m_score.data() + grid.Index(0, j - 1);
        const float* row = above + w;
        const float* below = row + w;
        if (!AnyAtLeast(row, w, keep))
            continue;  // most rows
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
            // The place between grid points from the parabolas through the neighbours; a grid
            // point stands for the middle of its bin, in the crop as it was read.
            const float x = static_cast<float>(grid.x0 + offset.x) + 0.5f +
                            2.0f * (static_cast<float>(i) + Vertex(row[i - 1], s, row[i + 1]));
            const float y = static_cast<float>(grid.y0 + offset.y) + 0.5f +
                            2.0f * (static_cast<float>(j) + Vertex(above[i], s, below[i]));
            const float residual = s * m_reference.Sigma(grid.Index(i, j));
            best[at] = {n, static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y)), s,
                        residual / m_fUnitResponse, LowestAround(i, j)};
            count = std::min(count + 1, kMaxSpotsPerFrame);
        }
    }
    m_spots.insert(m_spots.end(), best, best + count);
}

float CZubSpotDetector::LowestAround(int i, int j) const
{
    const SZubGrid grid = Grid();
    float lowest = 0.0f;
    for (int b = std::max(0, j - kDipoleReach); b <= std::min(grid.h - 1, j + kDipoleReach); ++b)
    {
        const float* row = m_score.data() + grid.Index(0, b);
        for (int a = std::max(0, i - kDipoleReach); a <= std::min(grid.w - 1, i + kDipoleReach); ++a)
            lowest = std::min(lowest, row[a]);
    }
    return lowest;
}

void CZubSpotDetector::NoteKivScore(const CZubCandidate& record, SZubPoint offset)
{
    // The best score within a grid step of KIV's brightest pixel.
    const SZubGrid grid = Grid();
    const int ci = (record.m_ptKiv.x - offset.x - grid.x0) / 2;
    const int cj = (record.m_ptKiv.y - offset.y - grid.y0) / 2;
    float best = 0.0f;
    for (int j = std::max(0, cj - 1); j <= std::min(grid.h - 1, cj + 1); ++j)
        for (int i = std::max(0, ci - 1); i <= std::min(grid.w - 1, ci + 1); ++i)
            best = std::max(best, m_score[grid.Index(i, j)]);
    const size_t at = static_cast<size_t>(std::max(1, record.m_iFrame)) - 1;
    if (m_kivScore.size() <= at)
        m_kivScore.resize(at + 1, 0.0f);
    m_kivScore[at] = best;
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
    ZubApp().m_log.LogDetail("ZUB PROCESS frame: %4i Spot at: (%3i-%3i) %5.1f", n, s.x, s.y, s.fScore);
}

std::vector<float> CZubSpotDetector::DetectionImage() const
{
    std::vector<float> image;
    if (!HasDetectionImage())
        return image;
    image.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0.0f);
    // Each grid point stands for the two-by-two pixels it starts.
    const SZubGrid grid = Grid();
    for (int j = 0; j < grid.h; ++j)
        for (int i = 0; i < grid.w; ++i)
        {
            const float v = m_detection[grid.Index(i, j)];
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                {
                    const int x = grid.x0 + 2 * i + dx;
                    const int y = grid.y0 + 2 * j + dy;
                    if (x >= 0 && y >= 0 && x < m_iRoiWidth && y < m_iRoiHeight)
                        image[static_cast<size_t>(y) * m_iRoiWidth + x] = v;
                }
        }
    return image;
}
