#include "zub.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubframe.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace
{
constexpr double kSpotSigma = 2.0;

// The settings may hold any 32-bit values: sums are taken in 64 bits and kept well inside int.
int32_t SafeSum(int64_t a, int64_t b)
{
    return static_cast<int32_t>(std::clamp<int64_t>(a + b, INT32_MIN / 2, INT32_MAX / 2));
}
}  // namespace

int CZubSimulator::Draw()
{
    m_uRandomState = m_uRandomState * 214013u + 2531011u;
    return static_cast<int>((m_uRandomState >> 16) & 32767u);
}

int64_t CZubSimulator::RandomInRange(int64_t a, int64_t b)
{
    const double span = static_cast<double>(b - a) + 1.0;
    return static_cast<int64_t>(span * (Draw() / 32768.0) + static_cast<double>(a));
}

int CZubSimulator::NextIntensity(int frameNumber)
{
    const SZubParams& p = ZubApp().m_params;
    if (frameNumber == p.FrameInitial)
        m_iIntensity = 0;
    // 64 bits: the settings may hold any 32-bit values.
    const int64_t peakFrame = int64_t{p.FrameInitial} + p.FrameDuration - p.IntensityTotal / p.IntensityInc;
    int64_t intensity = m_iIntensity;
    if (frameNumber < peakFrame)
        intensity = std::min(intensity + p.IntensityInc, int64_t{p.IntensityTotal});
    else
        intensity -= p.IntensityInc;
    m_iIntensity = static_cast<int>(std::clamp<int64_t>(intensity, INT32_MIN, INT32_MAX));
    return m_iIntensity;
}

void CZubSimulator::Simulate(int frameNumber, CZubFrame& videoFrame, const CZubCandidate& record, bool bBottomUp)
{
    const SZubParams& p = ZubApp().m_params;
    if (p.IntensityInc < 1)
    {
        // The ramp divides by it.
        if (!m_bWarnedIntensityInc)
            ZubApp().m_log.Log("SIMULATION: IntensityInc must be >= 1.");
        m_bWarnedIntensityInc = true;
        return;
    }
    const int64_t relY = bBottomUp ? -int64_t{p.RelativePositionY} : p.RelativePositionY;
    SZubPoint pos{SafeSum(record.m_ptCM.x, p.RelativePositionX), SafeSum(record.m_ptCM.y, relY)};
    const int64_t dy = RandomInRange(-int64_t{p.PositionRandom}, p.PositionRandom);
    const int64_t dx = RandomInRange(-int64_t{p.PositionRandom}, p.PositionRandom);
    pos = {SafeSum(pos.x, dx), SafeSum(pos.y, dy)};

    const int64_t intensity = NextIntensity(frameNumber);
    const double amplitude = static_cast<double>(std::clamp<int64_t>(
        RandomInRange(intensity - p.IntensityRand, intensity + p.IntensityRand), 0, 255 * 255));

    // The loops over -ImpactSize .. +ImpactSize hold no offset for a negative size.
    if (p.ImpactSize < 0)
        return;
    CZubFrame spot;
    spot.Create(videoFrame.m_iWidth, videoFrame.m_iHeight, FRAME_MONO8);
    // Only offsets that land inside the frame: a huge ImpactSize costs no more than the frame.
    const int size = p.ImpactSize;
    const int iFirst = std::max(-size, -pos.y), iLast = std::min(size, spot.m_iHeight - 1 - pos.y);
    const int jFirst = std::max(-size, -pos.x), jLast = std::min(size, spot.m_iWidth - 1 - pos.x);
    for (int i = iFirst; i <= iLast; ++i)
    {
        uint8_t* row = spot.GetRow(pos.y + i);
        for (int j = jFirst; j <= jLast; ++j)
        {
            const double value = amplitude * std::exp(-(i * i + j * j) / (2.0 * kSpotSigma * kSpotSigma));
            row[pos.x + j] = static_cast<uint8_t>(std::min(255, static_cast<int>(value)));
        }
    }
    videoFrame.AddMonoSaturated(spot);
}
