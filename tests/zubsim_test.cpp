#include "zub.h"
#include "zubcandidate.h"
#include "zubframe.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace
{
constexpr int kWidth = 64;
constexpr int kHeight = 48;

uint32_t Advance(uint32_t state, int draws)
{
    for (int i = 0; i < draws; ++i)
        state = state * 214013u + 2531011u;
    return state;
}

CZubFrame Frame(uint8_t value = 0)
{
    CZubFrame f;
    f.Create(kWidth, kHeight, FRAME_COLOR_RGB24);
    for (int y = 0; y < kHeight; ++y)
        std::fill(f.GetRowRGB(y), f.GetRowRGB(y) + 3 * kWidth, value);
    return f;
}

// The pixel's value, checked to be the same in its three bytes.
int Pixel(const CZubFrame& f, int x, int y)
{
    const uint8_t* p = f.GetPixelRGB(x, y);
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
    return p[0];
}

int CountPainted(const CZubFrame& f, uint8_t background = 0)
{
    int n = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            n += Pixel(f, x, y) != background;
    return n;
}

class ZubSim : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        ZubApp().m_log.SetView(&m_log);
        m_record.m_ptCM = {32, 24};
    }
    void TearDown() override { ZubResetApp(); }

    SZubParams& Params() { return ZubApp().m_params; }
    // One painted frame (the simulator's generator and ramp run on between calls).
    CZubFrame Paint(int frameNumber, uint8_t background = 0)
    {
        CZubFrame f = Frame(background);
        m_sim.Simulate(frameNumber, f, m_record);
        return f;
    }
    // Frame 1 starts the ramp and already reaches `amplitude` (peak frame 1 + 20 - 1).
    void OneStepToAmplitude(int amplitude)
    {
        Params().FrameInitial = 1;
        Params().IntensityInc = amplitude;
        Params().IntensityTotal = amplitude;
    }

    CZubSimulator m_sim;
    CZubCandidate m_record;
    CZubLogRecorderWnd m_log;
};
}  // namespace

TEST_F(ZubSim, GeneratorSequenceFromStateOne)
{
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (const int value : expected)
        EXPECT_EQ(m_sim.Draw(), value);

    CZubSimulator fresh;
    EXPECT_EQ(fresh.RandomInRange(0, 32767), 41);
    EXPECT_EQ(fresh.RandomInRange(-100, 100), 13);
    EXPECT_EQ(fresh.RandomInRange(-100, -50), -90);  // truncation toward zero, not floor
    EXPECT_EQ(fresh.RandomInRange(-10, 10), 6);
    EXPECT_EQ(fresh.RandomInRange(5, 5), 5);
    EXPECT_EQ(fresh.m_uRandomState, Advance(1, 5));
}

TEST_F(ZubSim, DefaultRampVisibleInFramesFiftyToSixtyFour)
{
    // Defaults: FrameInitial 50, FrameDuration 20, IntensityTotal 250, IntensityInc 20.
    for (int n = 45; n <= 70; ++n)
    {
        CZubFrame f = Frame();
        // The document paints only inside the window [FrameInitial, FrameInitial + FrameDuration).
        if (n >= 50 && n < 70)
            m_sim.Simulate(n, f, m_record);
        int expected = 0;
        if (n >= 50 && n <= 57)
            expected = 20 * (n - 49);
        else if (n >= 58 && n <= 64)
            expected = 160 - 20 * (n - 57);
        EXPECT_EQ(Pixel(f, 32, 24), expected) << "frame " << n;
        EXPECT_EQ(Pixel(f, 33, 24), static_cast<int>(expected * std::exp(-1.0 / 8))) << "frame " << n;
    }
    EXPECT_EQ(m_sim.m_iIntensity, -80);

    // The next pass repeats the ramp: the intensity is reset at FrameInitial.
    EXPECT_EQ(Pixel(Paint(50), 32, 24), 20);
}

TEST_F(ZubSim, ImpactSizeZeroAndOne)
{
    OneStepToAmplitude(200);
    Params().ImpactSize = 0;
    CZubFrame f = Paint(1);
    EXPECT_EQ(Pixel(f, 32, 24), 200);
    EXPECT_EQ(CountPainted(f), 1);

    Params().ImpactSize = 1;
    f = Paint(1);
    EXPECT_EQ(CountPainted(f), 9);
    EXPECT_EQ(Pixel(f, 32, 24), 200);
    for (const SZubPoint edge : {SZubPoint{31, 24}, SZubPoint{33, 24}, SZubPoint{32, 23}, SZubPoint{32, 25}})
        EXPECT_EQ(Pixel(f, edge.x, edge.y), 176);  // trunc(200 exp(-1/8))
    for (const SZubPoint corner : {SZubPoint{31, 23}, SZubPoint{33, 23}, SZubPoint{31, 25}, SZubPoint{33, 25}})
        EXPECT_EQ(Pixel(f, corner.x, corner.y), 155);  // trunc(200 exp(-0.25))

    // The spot keeps a sigma of 2 pixels however large it is.
    Params().ImpactSize = 3;
    f = Paint(1);
    EXPECT_EQ(CountPainted(f), 49);
    EXPECT_EQ(Pixel(f, 35, 27), 21);  // trunc(200 exp(-18/8))

    // A negative size paints nothing, yet draws as every frame does.
    for (const int size : {-1, INT_MIN})
    {
        Params().ImpactSize = size;
        const uint32_t state = m_sim.m_uRandomState;
        EXPECT_EQ(CountPainted(Paint(1)), 0) << size;
        EXPECT_EQ(m_sim.m_uRandomState, Advance(state, 3)) << size;
    }
}

TEST_F(ZubSim, SpotAndFrameSaturate)
{
    OneStepToAmplitude(400);
    Params().ImpactSize = 3;
    CZubFrame f = Paint(1, 100);
    EXPECT_EQ(Pixel(f, 32, 24), 255);
    EXPECT_EQ(Pixel(f, 33, 24), 255);  // 353 limited to 255, then 100 + 255 saturates
    EXPECT_EQ(Pixel(f, 34, 26), 247);  // 100 + trunc(400 exp(-1))
    EXPECT_EQ(Pixel(f, 35, 24), 229);  // 100 + trunc(400 exp(-9/8))
    EXPECT_EQ(Pixel(f, 35, 27), 142);  // 100 + trunc(400 exp(-18/8))
    EXPECT_EQ(Pixel(f, 36, 24), 100);

    // IntensityTotal + IntensityRand above 255.
    Params().ImpactSize = 0;
    Params().IntensityTotal = 250;
    Params().IntensityInc = 250;
    Params().IntensityRand = 100;
    for (int i = 0; i < 5; ++i)
    {
        f = Paint(1);
        EXPECT_GE(Pixel(f, 32, 24), 150);
        EXPECT_LE(Pixel(f, 32, 24), 255);
    }
}

TEST_F(ZubSim, ThreeDrawsPerFrameAndVerticalJitterFirst)
{
    for (const int positionRandom : {0, 10})
    {
        const uint32_t before = m_sim.m_uRandomState;
        Params().PositionRandom = positionRandom;
        Paint(50);
        EXPECT_EQ(m_sim.m_uRandomState, Advance(before, 3)) << positionRandom;
    }

    // From state 1 the draws 41 and 18467 give dy = -9, then dx = 1.
    CZubSimulator fresh;
    OneStepToAmplitude(200);
    Params().ImpactSize = 0;
    Params().PositionRandom = 10;
    CZubFrame f = Frame();
    fresh.Simulate(1, f, m_record);
    EXPECT_EQ(Pixel(f, 33, 15), 200);
    EXPECT_EQ(CountPainted(f), 1);

    // Relative position and intensity jitter.
    Params().PositionRandom = 0;
    Params().RelativePositionX = -20;
    Params().RelativePositionY = 7;
    Params().IntensityRand = 5;
    for (int i = 0; i < 5; ++i)
    {
        f = Paint(1);
        EXPECT_GE(Pixel(f, 12, 31), 195);
        EXPECT_LE(Pixel(f, 12, 31), 205);
    }
    // Y downward in the picture: upward in the buffer of a bottom-up frame.
    f = Frame(0);
    m_sim.Simulate(1, f, m_record, true);
    EXPECT_GE(Pixel(f, 12, 17), 195);
}

TEST_F(ZubSim, ShortDurationPaintsNothing)
{
    Params().FrameDuration = 5;  // peak frame 50 + 5 - 12 = 43: the ramp only falls
    for (int n = 50; n < 55; ++n)
        EXPECT_EQ(CountPainted(Paint(n)), 0) << "frame " << n;
    EXPECT_EQ(m_sim.m_iIntensity, -100);
}

TEST_F(ZubSim, IntensityIncBelowOneIsRefusedOncePerRun)
{
    const std::string warning = "SIMULATION: IntensityInc must be >= 1.";
    for (const int inc : {0, -3})
    {
        m_log.m_lines.clear();
        m_sim.NewRun();
        Params().IntensityInc = inc;
        for (int n = 50; n < 55; ++n)
            EXPECT_EQ(CountPainted(Paint(n)), 0);
        EXPECT_EQ(m_log.ConsoleLines(), std::vector<std::string>{warning}) << inc;
    }
}

TEST_F(ZubSim, SpotPartlyOrWhollyOutsideTheFrameIsClipped)
{
    OneStepToAmplitude(200);
    Params().ImpactSize = 3;
    m_record.m_ptCM = {0, 0};
    CZubFrame f = Paint(1);
    EXPECT_EQ(Pixel(f, 0, 0), 200);
    EXPECT_EQ(Pixel(f, 3, 3), 21);
    EXPECT_EQ(CountPainted(f), 16);

    m_record.m_ptCM = {kWidth - 1, kHeight - 1};
    f = Paint(1);
    EXPECT_EQ(Pixel(f, kWidth - 1, kHeight - 1), 200);
    EXPECT_EQ(CountPainted(f), 16);

    m_record.m_ptCM = {-1000, 5000};
    EXPECT_EQ(CountPainted(Paint(1)), 0);

    m_record.m_ptCM = {32, 24};
    Params().RelativePositionX = INT_MAX;
    Params().RelativePositionY = INT_MIN;
    EXPECT_EQ(CountPainted(Paint(1)), 0);
}

TEST_F(ZubSim, HugeImpactSizeIsClippedToTheFrame)
{
    OneStepToAmplitude(200);
    Params().ImpactSize = 1000000;
    const CZubFrame f = Paint(1);
    EXPECT_EQ(Pixel(f, 32, 24), 200);
    EXPECT_EQ(Pixel(f, 0, 0), 0);

    Params().ImpactSize = INT_MAX;
    EXPECT_EQ(Pixel(Paint(1), 32, 24), 200);
}
