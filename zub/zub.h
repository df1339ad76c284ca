// The impact simulator: paints a synthetic flash (a Gaussian spot that rises to a peak and
// fades) into the decoded frames, so that detection can be tried on any video.
#pragma once

#include <cstdint>

class CZubCandidate;
class CZubFrame;

class CZubSimulator
{
public:
    // Paints frame `frameNumber`'s spot into the 24-bit `videoFrame`, placed relative to the
    // record's centre of mass as the picture is read (y downward): upward in the buffer of a
    // frame that holds its bottom line first (bBottomUp, see ZubRowsBottomUp).
    void Simulate(int frameNumber, CZubFrame& videoFrame, const CZubCandidate& record, bool bBottomUp = false);
    // A new run: the warning about a bad IntensityInc may be logged again.
    void NewRun() { m_bWarnedIntensityInc = false; }

    // The generator: 0 .. 32767 from a 32-bit state that starts at 1 and is never reseeded.
    int Draw();
    // Truncated (b - a + 1) * (draw / 32768.0) + a.
    int64_t RandomInRange(int64_t a, int64_t b);

    int m_iIntensity = 0;  // the ramp's current intensity, kept between calls
    uint32_t m_uRandomState = 1;

private:
    int NextIntensity(int frameNumber);

    bool m_bWarnedIntensityInc = false;
};
