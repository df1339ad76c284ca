#include "zubspotdetector.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubframe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace
{
CZubLog& Log()
{
    return ZubApp().m_log;
}

bool Enabled()
{
    return ZubApp().m_params.ZubDetection;
}

bool IsCrop(const CZubFrame& roi)
{
    return roi.m_iBits == FRAME_MONO8 && roi.HasBuffer() && roi.m_iWidth > 0 && roi.m_iHeight > 0;
}

// The grid over the whole ROI and one point around it, for the derivatives at its edge.
SZubGrid GridFor(int width, int height)
{
    return {-2, -2, (width + 1) / 2 + 2, (height + 1) / 2 + 2};
}
}  // namespace

CZubSpotDetector::CZubSpotDetector() = default;
CZubSpotDetector::~CZubSpotDetector() = default;

void CZubSpotDetector::FilterCrop(SZubPoint offset)
{
    m_filter.Filter(m_crop.Origin() + offset.y * m_crop.Stride() + offset.x, m_crop.Stride(), Grid(),
                    m_reference.Frame());
}

bool CZubSpotDetector::FilterLinedUp(SZubPoint& offset)
{
    FilterCrop({0, 0});
    m_reference.Fit();
    offset = m_reference.Offset();
    if (!CZubSpotReference::CanLineUp(offset))
        return false;
    if (offset == SZubPoint{})
        return true;
    FilterCrop(offset);
    m_reference.Fit();
    return CZubSpotReference::CanLineUp(m_reference.Offset());
}

// ---- Mean phase ------------------------------------------------------------------------------

void CZubSpotDetector::StartRun(const CZubFrame& roi, SZubSize frame)
{
    m_bReady = false;
    m_bStarted = true;
    m_nMeanFrames = 0;
    m_nUnlike = 0;
    m_spots.clear();
    m_detection.clear();
    m_kivScore.clear();
    m_zubScore.clear();
    m_iRoiWidth = roi.m_iWidth;
    m_iRoiHeight = roi.m_iHeight;
    m_frameSize = frame;
    m_sum.assign(static_cast<size_t>(m_iRoiWidth) * m_iRoiHeight, 0);
    m_defects.Start(frame);
    m_area.Start(m_iRoiWidth, m_iRoiHeight);
    m_reference.Start(GridFor(m_iRoiWidth, m_iRoiHeight));
}

bool CZubSpotDetector::TakeCrop(const CZubFrame& roi, SZubPoint origin)
{
    if (!m_bStarted || roi.m_iWidth != m_iRoiWidth || roi.m_iHeight != m_iRoiHeight)
        return false;
    m_crop.Copy(roi);
    m_defects.LearnAndRepair(m_crop, origin);
    return true;
}

void CZubSpotDetector::AddMeanFrame(int n, const CZubFrame& roi, SZubPoint origin, SZubSize frame)
{
    if (!Enabled() || !IsCrop(roi))
        return;
    try
    {
        if (n == 1)
            StartRun(roi, frame);
        if (!TakeCrop(roi, origin))
            return;  // a run without its first mean frame, or without memory for it
        m_area.AddCrop(origin, frame);
        if (m_reference.Stored() < CZubSpotReference::kMaxStored)
        {
            FilterCrop({0, 0});
            m_reference.AddMeanCrop();
        }
    }
    catch (const std::bad_alloc&)
    {
        m_bStarted = false;
        Log().Log("ZUB: not enough memory for the ROI.");
        return;
    }
    for (int y = 0; y < m_iRoiHeight; ++y)
    {
        const uint8_t* row = m_crop.Origin() + y * m_crop.Stride();
        uint32_t* sum = m_sum.data() + static_cast<size_t>(y) * m_iRoiWidth;
        for (int x = 0; x < m_iRoiWidth; ++x)
            sum[x] += row[x];
    }
    ++m_nMeanFrames;
}

void CZubSpotDetector::Prepare()
{
    m_bReady = false;
    m_spots.clear();
    if (!Enabled() || !m_bStarted || m_reference.Stored() < 3)
        return;
    try
    {
        m_area.Build(m_sum, m_nMeanFrames);
        std::vector<float> weights;
        if (!m_area.Weights(Grid(), weights))
            return;
        m_reference.Prepare(weights);
        const size_t points = Grid().Points();
        m_score.assign(points, 0.0f);
        m_detection.assign(points, 0.0f);
    }
    catch (const std::bad_alloc&)
    {
        Log().Log("ZUB: not enough memory for the ROI.");
        return;
    }
    m_fUnitResponse = CZubSpotFilter::UnitResponse();
    m_bReady = true;
}

std::string ZubDetectionLimitText(const SZubDetectionLimit& limit)
{
    if (!limit.bKnown)
        return "unknown";
    char text[160];
    std::snprintf(text, sizeof text,
                  "%.1f gray levels (%.1f %% of the disc's brightness, %.1f mag below the disc), %.0f %% of the "
                  "disc searched",
                  limit.peak, limit.percentOfDisc, limit.magnitude, 100.0 * limit.searchedShare);
    return text;
}

SZubDetectionLimit CZubSpotDetector::Limit(int threshold) const
{
    SZubDetectionLimit limit;
    const CZubSearchArea::SDisc& disc = m_area.WholeDisc();
    const float sigma = m_reference.MedianSigma();
    if (!m_bReady || disc.pixels == 0 || disc.mean <= 0.0 || sigma <= 0.0f)
        return limit;
    limit.bKnown = true;
    limit.peak = threshold * static_cast<double>(sigma) / m_fUnitResponse;
    limit.percentOfDisc = 100.0 * limit.peak / disc.mean;
    // A Gaussian's light is its peak times 2 pi sigma squared.
    const double s = CZubSpotFilter::kSpotSigma;
    const double light = limit.peak * 2.0 * 3.14159265358979 * s * s;
    limit.magnitude = disc.light > 0.0 ? -2.5 * std::log10(light / disc.light) : 0.0;
    // A grid point stands for its bin of two by two pixels.
    limit.searchedShare = std::min(1.0, 4.0 * static_cast<double>(m_reference.Searched()) / static_cast<double>(disc.pixels));
    return limit;
}

// ---- Impact phase ------------------------------------------------------------------------------

void CZubSpotDetector::ProcessFrame(const CZubCandidate& record, const CZubFrame& roi, SZubSize frame)
{
    if (!m_bReady || !Enabled() || !IsCrop(roi) || frame != m_frameSize)
        return;
    const SZubPoint origin{record.m_ptCM.x - roi.m_iWidth / 2, record.m_ptCM.y - roi.m_iHeight / 2};
    if (!TakeCrop(roi, origin))
        return;
    if (m_area.AddCrop(origin, frame))
    {
        // The planet came nearer an edge of the frame than ever: leave out what the filter
        // would read beyond it.
        std::vector<float> weights;
        m_area.Weights(Grid(), weights);
        m_reference.SetWeights(weights);
    }
    const int n = record.m_iFrame;
    SZubPoint offset;
    if (!FilterLinedUp(offset) || !m_reference.Score(m_score.data(), m_detection.data()))
    {
        ++m_nUnlike;  // nothing of it is compared, and it does not join the reference
        return;
    }
    KeepBestSpots(n, offset);
    NoteKivScore(record, offset);
    m_reference.Follow();
    const SZubParams& p = ZubApp().m_params;
    if (p.LogProcess && p.LogDetails)
        LogFrameSpot(n);
}
