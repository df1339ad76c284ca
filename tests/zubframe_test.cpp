#include "zubapp.h"
#include "zubcandidate.h"
#include "zubframe.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace
{

class FrameTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ZubResetApp();
        ZubApp().SetShell(&m_shell);
    }
    void TearDown() override { ZubApp().SetShell(nullptr); }

    CZubRecordingShell m_shell;
};

// An 8-bit frame from rows of values.
void Fill8(CZubFrame& f, const std::vector<std::vector<int>>& rows)
{
    f.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), FRAME_MONO8);
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x)
            *f.GetPixel(static_cast<int>(x), static_cast<int>(y)) = static_cast<uint8_t>(rows[y][x]);
}

void FillAll8(CZubFrame& f, int width, int height, uint8_t value)
{
    f.Create(width, height, FRAME_MONO8);
    std::fill_n(f.m_pBits, f.GetBufferSize(), value);
}

void SetRGB(CZubFrame& f, int x, int y, uint8_t b, uint8_t g, uint8_t r)
{
    uint8_t* p = f.GetPixelRGB(x, y);
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

uint32_t LE32(const std::vector<uint8_t>& d, size_t at)
{
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

}  // namespace

// ---- Model and arithmetic -------------------------------------------------------------------

TEST_F(FrameTest, DefaultFrameIsEmptyAndCopiesAsEmpty)
{
    CZubFrame a;
    EXPECT_EQ(a.m_iWidth, 0);
    EXPECT_EQ(a.m_iHeight, 0);
    EXPECT_EQ(a.m_iBits, FRAME_MONO8);
    EXPECT_FALSE(a.m_bColor);
    EXPECT_EQ(a.m_pBits, nullptr);

    CZubFrame b;
    b.Create(4, 4, FRAME_COLOR_RGB24);
    b.CopyFrom(a);
    EXPECT_EQ(b.m_iWidth, 0);
    EXPECT_EQ(b.m_iBits, FRAME_MONO8);
    EXPECT_FALSE(b.HasBuffer());
}

TEST_F(FrameTest, CreateLaysOutRowsAndZeroes)
{
    CZubFrame f;
    f.Create(1, 3, FRAME_COLOR_RGB24);
    EXPECT_TRUE(f.m_bColor);
    EXPECT_EQ(f.GetStride(), 4u);
    EXPECT_EQ(f.GetBufferSize(), 12u);
    EXPECT_EQ(f.GetRowRGB(2) - f.GetRowRGB(0), 8);

    f.Create(5, 2, FRAME_COLOR_RGB24);
    EXPECT_EQ(f.GetStride(), 16u);
    EXPECT_EQ(f.GetPixelRGB(2, 1) - f.m_pRGB, 16 + 6);
    EXPECT_EQ(std::count(f.m_pRGB, f.m_pRGB + f.GetBufferSize(), 0), 32);

    f.Create(5, 2, FRAME_MONO8);
    EXPECT_FALSE(f.m_bColor);
    EXPECT_EQ(f.GetBufferSize(), 10u);
    EXPECT_EQ(f.GetPixel(3, 1) - f.m_pBits, 8);

    f.Create(5, 2, FRAME_MONO16);
    EXPECT_EQ(f.GetBufferSize(), 20u);
    EXPECT_EQ(f.GetPixel16(3, 1) - f.m_pBits16, 8);

    f.Create(5, 2, 32);
    EXPECT_FALSE(f.HasBuffer());
    f.Create(-5, 2, FRAME_MONO8);
    EXPECT_FALSE(f.HasBuffer());
    EXPECT_EQ(f.m_iWidth, 0);
}

TEST_F(FrameTest, CopyFromSameShapeKeepsBufferAndCopiesEverything)
{
    CZubFrame src, dst;
    Fill8(src, {{1, 2}, {3, 4}});
    src.m_iAvgCount = 7;
    src.ComputeHistogram();
    dst.Create(2, 2, FRAME_MONO8);
    const uint8_t* buffer = dst.m_pBits;
    dst.CopyFrom(src);
    EXPECT_EQ(dst.m_pBits, buffer);
    EXPECT_EQ(*dst.GetPixel(1, 1), 4);
    EXPECT_EQ(dst.m_iAvgCount, 7);
    EXPECT_EQ(dst.m_aHisto, src.m_aHisto);

    CZubFrame color;
    color.Create(3, 2, FRAME_COLOR_RGB24);
    SetRGB(color, 2, 1, 9, 8, 7);
    dst.CopyFrom(color);
    EXPECT_TRUE(dst.m_bColor);
    EXPECT_EQ(dst.GetBufferSize(), 24u);
    EXPECT_EQ(dst.GetPixelRGB(2, 1)[2], 7);
}

TEST_F(FrameTest, MoveLeavesSourceEmpty)
{
    CZubFrame a;
    Fill8(a, {{5, 6}});
    CZubFrame b(std::move(a));
    EXPECT_EQ(*b.GetPixel(1, 0), 6);
    EXPECT_FALSE(a.HasBuffer());
    EXPECT_EQ(a.m_iWidth, 0);
    a.CopyFrom(b);
    EXPECT_EQ(*a.GetPixel(0, 0), 5);
}

TEST_F(FrameTest, SetPixelsOnlyIntoColourFrames)
{
    const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    CZubFrame f;
    f.Create(2, 1, FRAME_COLOR_RGB24);
    f.SetPixels(pixels.data());
    EXPECT_EQ(f.GetPixelRGB(1, 0)[0], 4);
    EXPECT_TRUE(m_shell.m_boxes.empty());

    f.Create(2, 1, FRAME_MONO8);
    f.SetPixels(pixels.data());
    EXPECT_EQ(*f.GetPixel(0, 0), 0);
    ASSERT_EQ(m_shell.m_boxes.size(), 1u);
    EXPECT_EQ(m_shell.m_boxes[0], "CZubFrame::SetPixels -> m_iBits != FRAME_COLOR_RGB24");
}

TEST_F(FrameTest, AverageOfThreeFramesTruncates)
{
    CZubFrame acc, in;
    acc.Create(2, 1, FRAME_MONO16);
    *acc.GetPixel16(0, 0) = 999;  // garbage is cleared by the first addition
    for (uint8_t v : {10, 20, 31})
    {
        FillAll8(in, 2, 1, v);
        acc.AddToAverage(in);
    }
    EXPECT_EQ(acc.m_iAvgCount, 3);
    EXPECT_EQ(*acc.GetPixel16(1, 0), 61);
    acc.DivideAverage();
    EXPECT_EQ(*acc.GetPixel16(0, 0), 20);
    EXPECT_EQ(*acc.GetPixel16(1, 0), 20);
    EXPECT_EQ(acc.m_iAvgCount, 0);
    EXPECT_EQ(in.GetMaxValue(), 31);  // the source is untouched
}

TEST_F(FrameTest, TwoHundredFiftySixthAdditionWarnsAndStillAdds)
{
    CZubFrame acc, in;
    acc.Create(1, 1, FRAME_MONO16);
    FillAll8(in, 1, 1, 1);
    for (int i = 0; i < 255; ++i)
        acc.AddToAverage(in);
    EXPECT_TRUE(m_shell.m_boxes.empty());
    acc.AddToAverage(in);
    ASSERT_EQ(m_shell.m_boxes.size(), 1u);
    EXPECT_EQ(m_shell.m_boxes[0], "Average of > 255 images.");
    EXPECT_EQ(*acc.GetPixel16(0, 0), 256);
    acc.AddToAverage(in);
    EXPECT_EQ(m_shell.m_boxes.size(), 2u);
}

TEST_F(FrameTest, SubtractAverageWrapsModulo256)
{
    CZubFrame f, mean, mask;
    Fill8(f, {{10, 200, 128}});
    mean.Create(3, 1, FRAME_MONO16);
    *mean.GetPixel16(0, 0) = 200;
    *mean.GetPixel16(1, 0) = 10;
    *mean.GetPixel16(2, 0) = 128;
    f.SubtractAverage(mean);
    EXPECT_EQ(*f.GetPixel(0, 0), 194);
    EXPECT_EQ(*f.GetPixel(1, 0), 62);
    EXPECT_EQ(*f.GetPixel(2, 0), 128);

    Fill8(f, {{10, 200, 128, 50}});
    mean.Create(4, 1, FRAME_MONO16);
    std::fill_n(mean.m_pBits16, 4, uint16_t{10});
    Fill8(mask, {{1, 2, 255, 0}});
    f.SubtractAverageMasked(mean, mask);
    EXPECT_EQ(*f.GetPixel(0, 0), 128);
    EXPECT_EQ(*f.GetPixel(1, 0), 0);
    EXPECT_EQ(*f.GetPixel(2, 0), 0);
    EXPECT_EQ(*f.GetPixel(3, 0), 0);
}

TEST_F(FrameTest, AddMonoSaturatedClampsEachByte)
{
    CZubFrame color, mono;
    color.Create(2, 1, FRAME_COLOR_RGB24);
    SetRGB(color, 0, 0, 200, 100, 0);
    Fill8(mono, {{100, 0}});
    color.AddMonoSaturated(mono);
    const uint8_t* p = color.GetPixelRGB(0, 0);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 200);
    EXPECT_EQ(p[2], 100);
    EXPECT_EQ(color.GetPixelRGB(1, 0)[0], 0);
    EXPECT_EQ(color.m_iAvgCount, 1);
}

// ---- Conversions ----------------------------------------------------------------------------

TEST_F(FrameTest, WholeFrameGrayAndChannels)
{
    CZubFrame src, dst;
    src.Create(3, 1, FRAME_COLOR_RGB24);
    SetRGB(src, 0, 0, 255, 255, 255);
    SetRGB(src, 1, 0, 0, 0, 255);
    SetRGB(src, 2, 0, 100, 100, 100);
    dst.Create(3, 1, FRAME_MONO8);
    EXPECT_TRUE(src.ConvertAvi2Frame(dst, {0, 0}, {0, 0}, 0));
    EXPECT_EQ(*dst.GetPixel(0, 0), 254);
    EXPECT_EQ(*dst.GetPixel(1, 0), 54);
    EXPECT_EQ(*dst.GetPixel(2, 0), 99);

    SetRGB(src, 0, 0, 3, 2, 1);  // blue 3, green 2, red 1
    for (int channel = 1; channel <= 3; ++channel)
    {
        src.ConvertAvi2Frame(dst, {0, 0}, {0, 0}, channel);
        EXPECT_EQ(*dst.GetPixel(0, 0), channel);
    }
    // An unknown channel copies nothing.
    src.ConvertAvi2Frame(dst, {0, 0}, {0, 0}, 4);
    EXPECT_EQ(*dst.GetPixel(0, 0), 3);
}

TEST_F(FrameTest, RegionOutsideFrameIsClippedAndPaddedBlack)
{
    CZubFrame src, dst;
    src.Create(640, 480, FRAME_COLOR_RGB24);
    std::fill_n(src.m_pRGB, src.GetBufferSize(), uint8_t{90});
    SetRGB(src, 0, 0, 1, 1, 77);
    dst.Create(10, 10, FRAME_MONO8);
    std::fill_n(dst.m_pBits, dst.GetBufferSize(), uint8_t{33});
    EXPECT_FALSE(src.ConvertAvi2Frame(dst, {3, 3}, {10, 10}, 1));
    for (int i = 0; i < 10; ++i)
    {
        EXPECT_EQ(*dst.GetPixel(i, 0), 0);
        EXPECT_EQ(*dst.GetPixel(1, i), 0);
    }
    EXPECT_EQ(*dst.GetPixel(2, 2), 77);
    EXPECT_EQ(*dst.GetPixel(9, 9), 90);

    // The notice is a frame trace line: with WriteConsole on it reaches the console.
    CZubLogRecorderWnd view;
    ZubApp().m_log.SetView(&view);
    ZubApp().m_params.WriteConsole = true;
    EXPECT_FALSE(src.ConvertAvi2Frame(dst, {3, 3}, {10, 10}, 1));
    EXPECT_TRUE(src.ConvertAvi2Frame(dst, {320, 240}, {10, 10}, 1));
    EXPECT_EQ(view.ConsoleLines(), std::vector<std::string>{"ConvertAvi2Frame: ROI outside frame."});
    ZubResetApp();
}

TEST_F(FrameTest, RegionFromAlreadyConvertedFrameEqualsConversion)
{
    CZubFrame src;
    src.Create(37, 29, FRAME_COLOR_RGB24);
    for (size_t i = 0; i < src.GetBufferSize(); ++i)
        src.m_pRGB[i] = static_cast<uint8_t>(i * 7 + 3);
    for (int channel = 0; channel <= 3; ++channel)
    {
        CZubFrame mono, direct, copied;
        mono.Create(37, 29, FRAME_MONO8);
        src.ConvertAvi2Frame(mono, {0, 0}, {0, 0}, channel);
        for (SZubPoint center : {SZubPoint{18, 14}, SZubPoint{2, 3}, SZubPoint{35, 27}})
        {
            direct.Create(11, 9, FRAME_MONO8);
            copied.Create(11, 9, FRAME_MONO8);
            EXPECT_EQ(src.ConvertAvi2Frame(direct, center, {11, 9}, channel),
                      src.ConvertAvi2Frame(copied, center, {11, 9}, channel, &mono));
            EXPECT_EQ(0, std::memcmp(direct.m_pBits, copied.m_pBits, direct.GetBufferSize()));
        }
    }
}

TEST_F(FrameTest, RegionSpansAndExactFit)
{
    CZubFrame src, dst;
    src.Create(40, 1, FRAME_COLOR_RGB24);
    for (int x = 0; x < 40; ++x)
        SetRGB(src, x, 0, 0, 0, static_cast<uint8_t>(x));
    dst.Create(11, 1, FRAME_MONO8);
    EXPECT_TRUE(src.ConvertAvi2Frame(dst, {20, 0}, {11, 1}, 1));
    EXPECT_EQ(*dst.GetPixel(0, 0), 15);
    EXPECT_EQ(*dst.GetPixel(10, 0), 25);

    dst.Create(40, 1, FRAME_MONO8);
    EXPECT_TRUE(src.ConvertAvi2Frame(dst, {20, 0}, {40, 1}, 1));
    EXPECT_EQ(*dst.GetPixel(39, 0), 39);

    // A destination smaller than the region is filled only as far as it reaches.
    dst.Create(4, 1, FRAME_MONO8);
    EXPECT_FALSE(src.ConvertAvi2Frame(dst, {38, 0}, {10, 1}, 1));
    EXPECT_EQ(*dst.GetPixel(0, 0), 33);
}

TEST_F(FrameTest, ConvertTo8bppStretchesOnlyAbove255)
{
    CZubFrame mean, out;
    mean.Create(2, 1, FRAME_MONO16);
    *mean.GetPixel16(0, 0) = 200;
    *mean.GetPixel16(1, 0) = 3;
    out.Create(2, 1, FRAME_MONO8);
    out.ConvertTo8bpp(mean);
    EXPECT_EQ(*out.GetPixel(0, 0), 200);
    EXPECT_EQ(*out.GetPixel(1, 0), 3);

    *mean.GetPixel16(0, 0) = 510;
    out.ConvertTo8bpp(mean);
    EXPECT_EQ(*out.GetPixel(0, 0), 255);
    EXPECT_EQ(*out.GetPixel(1, 0), 1);

    CZubFrame mono;
    mono.Create(2, 1, FRAME_MONO8);
    out.ConvertTo8bpp(mono);
    ASSERT_EQ(m_shell.m_boxes.size(), 1u);
    EXPECT_EQ(m_shell.m_boxes[0], "ConvertTo8bpp");
    EXPECT_EQ(*out.GetPixel(0, 0), 255);
}

// ---- Measurements ---------------------------------------------------------------------------

TEST_F(FrameTest, HistogramInPercentOfTallestBin)
{
    CZubFrame f;
    f.Create(450, 1, FRAME_MONO8);
    std::fill_n(f.m_pBits + 300, 50, uint8_t{7});
    std::fill_n(f.m_pBits + 350, 100, uint8_t{9});
    f.ComputeHistogram();
    EXPECT_EQ(f.m_aHisto[0], 0);
    EXPECT_EQ(f.m_aHisto[7], 50);
    EXPECT_EQ(f.m_aHisto[9], 100);

    f.Create(10, 10, FRAME_MONO8);
    f.ComputeHistogram();
    EXPECT_EQ(std::count(f.m_aHisto.begin(), f.m_aHisto.end(), 0), 256);
}

TEST_F(FrameTest, CenterOfMassSamplesEverySecondPixel)
{
    CZubFrame f;
    f.Create(64, 48, FRAME_MONO8);
    EXPECT_LT(f.GetCenterOfMass().x, 0);  // black
    *f.GetPixel(10, 20) = 255;
    EXPECT_EQ(f.GetCenterOfMass(), (SZubPoint{10, 20}));
    f.Create(64, 48, FRAME_MONO8);
    *f.GetPixel(11, 20) = 255;
    EXPECT_LT(f.GetCenterOfMass().x, 0);

    f.Create(64, 48, FRAME_MONO8);
    *f.GetPixel(10, 20) = 100;
    *f.GetPixel(20, 20) = 100;
    *f.GetPixel(20, 30) = 200;
    // x = 7000 / 400 = 17.5 truncated, y = 10000 / 400 = 25
    EXPECT_EQ(f.GetCenterOfMass(), (SZubPoint{17, 25}));
}

TEST_F(FrameTest, CenterOfMassWeighsOnlyWhatRisesAboveTheSky)
{
    CZubFrame f;
    f.Create(64, 48, FRAME_MONO8);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            *f.GetPixel(x, y) = static_cast<uint8_t>(std::array{19, 20, 20, 21}[(x / 2 + y / 2) % 4]);
    for (int y = 6; y <= 14; ++y)
        for (int x = 8; x <= 16; ++x)
            *f.GetPixel(x, y) = 200;
    EXPECT_EQ(f.GetCenterOfMass(), (SZubPoint{12, 10})) << "the sky does not pull it toward the middle";

    // Nothing above the sky: the whole flat frame is weighed.
    f.Create(64, 48, FRAME_MONO8);
    std::fill_n(f.GetRow(0), 64 * 48, uint8_t{50});
    EXPECT_EQ(f.GetCenterOfMass(), (SZubPoint{31, 23}));
}

TEST_F(FrameTest, CenterOfMassWindowAroundPoint)
{
    CZubFrame f;
    f.Create(640, 480, FRAME_MONO8);
    *f.GetPixel(198, 98) = 255;   // inside x 0-199, y 0-99
    *f.GetPixel(200, 50) = 255;   // just right of it
    *f.GetPixel(100, 100) = 255;  // just below it
    EXPECT_EQ(f.GetCenterOfMass({100, 50}), (SZubPoint{198, 98}));

    f.Create(640, 480, FRAME_MONO8);
    *f.GetPixel(360, 320) = 255;  // inside x 360-639, y 320-479
    *f.GetPixel(358, 400) = 255;
    *f.GetPixel(500, 318) = 255;
    EXPECT_EQ(f.GetCenterOfMass({500, 400}), (SZubPoint{360, 320}));

    // Odd sizes put the window's start one pixel before the frame: no read outside it.
    f.Create(5, 5, FRAME_MONO8);
    *f.GetPixel(1, 1) = 255;
    EXPECT_EQ(f.GetCenterOfMass({2, 2}), (SZubPoint{1, 1}));
}

TEST_F(FrameTest, MeasureExtentWorkedExample)
{
    std::vector<uint8_t> profile(100, 10);
    std::fill(profile.begin() + 30, profile.begin() + 70, uint8_t{50});
    EXPECT_EQ(CZubFrame::MeasureExtent(profile.data(), 100, 50), 45);
    EXPECT_EQ(CZubFrame::MeasureExtent(profile.data(), 100, 5), 1);  // below T itself

    // A bright run touching the end.
    std::fill(profile.begin() + 70, profile.end(), uint8_t{50});
    EXPECT_EQ(CZubFrame::MeasureExtent(profile.data(), 100, 80), 0);

    // Shorter than the smoothing window: no measurement, no read beyond the profile.
    EXPECT_EQ(CZubFrame::MeasureExtent(profile.data(), 4, 2), 0);
    EXPECT_EQ(CZubFrame::MeasureExtent(nullptr, 0, 0), 0);
}

TEST_F(FrameTest, EvenFilterWidthActsAsNextOdd)
{
    std::vector<uint8_t> profile(60);
    for (size_t i = 0; i < profile.size(); ++i)
        profile[i] = static_cast<uint8_t>((i * 37) % 101 + (i > 20 && i < 40 ? 120 : 0));
    std::vector<int> with5, with4;
    ZubApp().m_params.PlanetSizeFilter = 5;
    for (int i = 0; i < 60; ++i)
        with5.push_back(CZubFrame::MeasureExtent(profile.data(), 60, i));
    ZubApp().m_params.PlanetSizeFilter = 4;
    for (int i = 0; i < 60; ++i)
        with4.push_back(CZubFrame::MeasureExtent(profile.data(), 60, i));
    EXPECT_EQ(with4, with5);
}

TEST_F(FrameTest, PlanetSizeOfTallFrame)
{
    // A 100 x 1000 rectangle of 50 on 10 in a frame taller than the old 2048-byte column.
    CZubFrame f;
    FillAll8(f, 300, 3000, 10);
    for (int y = 1000; y < 2000; ++y)
        std::fill_n(f.GetPixel(100, y), 100, uint8_t{50});
    EXPECT_EQ(f.GetPlanetSize(150, 1500), (SZubSize{105, 1005}));
    // Off the frame (x = width passes the callers' check): no row or column to measure.
    EXPECT_EQ(f.GetPlanetSize(300, 1500).cy, 0);
    EXPECT_EQ(f.GetPlanetSize(150, -1).cx, 0);
}

TEST_F(FrameTest, MaxPixelKeepsFirstOfTies)
{
    CZubCandidate record;
    record.m_iKivValue = 42;
    CZubFrame f;
    f.Create(5, 5, FRAME_MONO8);
    f.GetMaxPixel(record);
    EXPECT_EQ(record.m_iKivValue, 42);  // black: untouched

    *f.GetPixel(3, 1) = 90;
    *f.GetPixel(1, 3) = 90;
    *f.GetPixel(4, 0) = 80;
    f.GetMaxPixel(record);
    EXPECT_EQ(record.m_iKivValue, 90);
    EXPECT_EQ(record.m_ptKiv, (SZubPoint{3, 1}));
}

TEST_F(FrameTest, MaxPixelMaskedNeedsBrightNeighboursInsideBorder)
{
    // T = 128 + 20 = 148.
    CZubFrame f, mask;
    FillAll8(f, 6, 5, 149);
    FillAll8(mask, 6, 5, 1);
    *f.GetPixel(0, 2) = 250;  // border column: never a candidate
    *f.GetPixel(2, 0) = 250;  // border row
    *f.GetPixel(3, 2) = 200;
    *f.GetPixel(2, 2) = 148;  // left neighbour of (3, 2) at T
    *f.GetPixel(3, 3) = 190;
    CZubCandidate record;
    f.GetMaxPixelMasked(record, mask);
    EXPECT_EQ(record.m_iKivValue, 190);
    EXPECT_EQ(record.m_ptKiv, (SZubPoint{3, 3}));

    *mask.GetPixel(3, 3) = 2;  // only mask value 1 counts
    record.Reset();
    f.GetMaxPixelMasked(record, mask);
    EXPECT_EQ(record.m_iKivValue, 149);
    EXPECT_EQ(record.m_ptKiv, (SZubPoint{1, 1}));
}

TEST_F(FrameTest, MeanOfFrameAndOfMask)
{
    CZubFrame f, mask;
    Fill8(f, {{1, 2, 3}, {4, 5, 100}});
    EXPECT_EQ(f.GetMean(nullptr), 19);  // 115 / 6
    Fill8(mask, {{1, 0, 1}, {2, 1, 0}});
    EXPECT_EQ(f.GetMean(&mask), 3);  // (1 + 3 + 5) / 3
    mask.Create(3, 2, FRAME_MONO8);
    EXPECT_EQ(f.GetMean(&mask), 0);
    CZubFrame empty;
    EXPECT_EQ(empty.GetMean(nullptr), 0);
}

TEST_F(FrameTest, MaskFromMeanFrameThreshold)
{
    CZubFrame mean, mask;
    mean.Create(20, 5, FRAME_MONO16);
    for (int x = 5; x < 15; ++x)
        *mean.GetPixel16(x, 2) = 1000;
    // Smoothed centre row: max 1000, min 0, T = 1000 - 900 = 100.
    const SZubThreshold t = CZubFrame::ProfileThreshold16(mean.GetRow16(2), 20);
    EXPECT_EQ(t.iThreshold, 100);
    EXPECT_EQ(t.iMax, 1000);
    *mean.GetPixel16(0, 0) = 100;
    *mean.GetPixel16(1, 0) = 101;
    mask.Create(20, 5, FRAME_MONO8);
    mean.MakeMask(mask);
    EXPECT_EQ(*mask.GetPixel(0, 0), 0);
    EXPECT_EQ(*mask.GetPixel(1, 0), 1);
    EXPECT_EQ(*mask.GetPixel(5, 2), 1);
    EXPECT_EQ(*mask.GetPixel(4, 2), 0);
    EXPECT_EQ(mask.CountCenterRow(), 10);

    const SZubThreshold shortProfile = CZubFrame::ProfileThreshold16(mean.GetRow16(2), 3);
    EXPECT_EQ(shortProfile.iMax, 0);
}

TEST_F(FrameTest, ErodeMaskPeelsOneLayer)
{
    CZubFrame mask;
    mask.Create(9, 9, FRAME_MONO8);
    for (int y = 2; y < 7; ++y)
        std::fill_n(mask.GetPixel(2, y), 5, uint8_t{1});
    EXPECT_TRUE(mask.ErodeMask());
    int ones = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            if (*mask.GetPixel(x, y) == 1)
            {
                ++ones;
                EXPECT_TRUE(x >= 3 && x <= 5 && y >= 3 && y <= 5);
            }
    EXPECT_EQ(ones, 9);

    // A full mask has no 0 to erode from, and its border is never eroded.
    FillAll8(mask, 5, 5, 1);
    EXPECT_FALSE(mask.ErodeMask());
}

TEST_F(FrameTest, ReduceMaskStopsWhenDoneOrStuck)
{
    CZubFrame mask;
    mask.Create(21, 21, FRAME_MONO8);
    for (int y = 3; y < 18; ++y)
        std::fill_n(mask.GetPixel(3, y), 15, uint8_t{1});
    mask.ReduceMask(4);  // two steps of 2 pixels each
    EXPECT_EQ(mask.CountCenterRow(), 11);

    mask.ReduceMask(1000);  // cannot be reached: ends when the row is empty
    EXPECT_EQ(mask.CountCenterRow(), 0);

    FillAll8(mask, 7, 7, 1);
    mask.ReduceMask(3);  // nothing erodes: must still end
    EXPECT_EQ(mask.CountCenterRow(), 7);
}

TEST_F(FrameTest, ScaleSizeTruncates)
{
    EXPECT_EQ(CZubFrame::ScaleSize({100, 51}), (SZubSize{110, 56}));
    ZubApp().m_params.ROIFactorSize = 1.5;
    EXPECT_EQ(CZubFrame::ScaleSize({3, 5}), (SZubSize{4, 7}));
}

// ---- Output ---------------------------------------------------------------------------------

TEST_F(FrameTest, BmpOfOnePixel)
{
    CZubFrame f;
    FillAll8(f, 1, 1, 7);
    ASSERT_TRUE(f.SaveBmp("one.bmp"));
    const std::vector<uint8_t> d = ZubReadFile("one.bmp");
    const std::vector<uint8_t> expected = {
        'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
        40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,  // size, width, height, planes, bits
        0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // compression, image size, ppm
        0, 0, 0, 0, 0, 0, 0, 0,                            // colours used, important
        7, 7, 7, 0};
    EXPECT_EQ(d, expected);
}

TEST_F(FrameTest, BmpSizesAndRowsOfEachLayout)
{
    CZubFrame f;
    Fill8(f, {{1, 2, 3}, {4, 5, 6}});
    ASSERT_TRUE(f.SaveBmp("mono.bmp"));
    std::vector<uint8_t> d = ZubReadFile("mono.bmp");
    ASSERT_EQ(d.size(), 78u);
    EXPECT_EQ(LE32(d, 2), 78u);
    EXPECT_EQ(LE32(d, 18), 3u);
    EXPECT_EQ(LE32(d, 22), 2u);
    EXPECT_EQ(LE32(d, 34), 24u);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 54, d.begin() + 66),
              (std::vector<uint8_t>{1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0}));
    EXPECT_EQ(d[66], 4);  // row 0 first
    // A top-down buffer (a SER frame) is written last row first, so that it shows upright.
    ASSERT_TRUE(f.SaveBmp("top-down.bmp", false));
    d = ZubReadFile("top-down.bmp");
    EXPECT_TRUE(d[54] == 4 && d[66] == 1);

    CZubFrame color;
    color.Create(3, 2, FRAME_COLOR_RGB24);
    SetRGB(color, 0, 1, 9, 8, 7);
    ASSERT_TRUE(color.SaveBmp("color.bmp"));
    d = ZubReadFile("color.bmp");
    ASSERT_EQ(d.size(), 78u);
    EXPECT_EQ(d[66], 9);
    EXPECT_EQ(d[68], 7);
    ASSERT_TRUE(color.SaveBmp("color.bmp", false));
    d = ZubReadFile("color.bmp");
    ASSERT_EQ(d.size(), 78u);
    EXPECT_TRUE(d[54] == 9 && d[56] == 7 && d[66] == 0);

    CZubFrame mean;
    mean.Create(2, 1, FRAME_MONO16);
    *mean.GetPixel16(0, 0) = 1000;
    *mean.GetPixel16(1, 0) = 500;
    ASSERT_TRUE(mean.SaveBmp("mean.bmp"));
    d = ZubReadFile("mean.bmp");
    EXPECT_EQ(d[54], 255);
    EXPECT_EQ(d[57], 127);
    *mean.GetPixel16(0, 0) = 100;
    *mean.GetPixel16(1, 0) = 50;
    ASSERT_TRUE(mean.SaveBmp("mean.bmp"));
    d = ZubReadFile("mean.bmp");
    EXPECT_EQ(d[54], 100);  // a maximum below 256 is written as it is
    EXPECT_EQ(d[57], 50);
}

TEST_F(FrameTest, MaskBmpShowsOnesWhite)
{
    CZubFrame mask;
    Fill8(mask, {{0, 1, 2}});
    ASSERT_TRUE(mask.SaveMaskBmp("mask.bmp"));
    const std::vector<uint8_t> d = ZubReadFile("mask.bmp");
    ASSERT_EQ(d.size(), 54u + 12u);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + 54, d.end()),
              (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 2, 2, 2, 0, 0, 0}));
}

TEST_F(FrameTest, FormattedNamesAndUnwritablePaths)
{
    CZubFrame f;
    FillAll8(f, 2, 2, 1);
    EXPECT_TRUE(f.SaveBmpFormatted("frame%i.bmp", 12));
    EXPECT_TRUE(ZubFileExists("frame12.bmp"));
    EXPECT_TRUE(f.SaveBmpFormatted("frame-simulation%03i.bmp", 7));
    EXPECT_TRUE(ZubFileExists("frame-simulation007.bmp"));
    // A pattern that does not take exactly one integer is refused, not formatted.
    EXPECT_FALSE(f.SaveBmpFormatted("frame%s.bmp", 1));
    EXPECT_FALSE(f.SaveCsv("frame%i%i.csv", 1));
    EXPECT_FALSE(f.SaveBmp("no-such-folder/x.bmp"));
}

TEST_F(FrameTest, CsvTable)
{
    CZubFrame f;
    Fill8(f, {{1, 2}, {3, 4}});
    ASSERT_TRUE(f.SaveCsv("Frame%i.csv", 5));
    EXPECT_EQ(ZubReadText("Frame5.csv"), "Col;0;1\r\nRow: 0;1;2\r\nRow: 1;3;4\r\n");

    CZubFrame mean;
    mean.Create(3, 2, FRAME_MONO16);
    ASSERT_TRUE(mean.SaveCsv("Frame%i.csv", 6));
    EXPECT_EQ(ZubReadText("Frame6.csv"), "Col;0;1;2\r\n");
}
