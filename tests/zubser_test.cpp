#include "zubframe.h"
#include "zubser.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kUnixEpochTicks = 621355968000000000;

void PutInt(Bytes& out, size_t offset, int64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out[offset + i] = static_cast<uint8_t>(uint64_t(value) >> (8 * i));
}

Bytes SerHeader(int32_t width, int32_t height, int32_t depth, int32_t frameCount, int32_t colorId = 0)
{
    Bytes header(178, 0);
    std::memcpy(header.data(), "LUCAM-RECORDER", 14);
    PutInt(header, 18, colorId, 4);
    PutInt(header, 26, width, 4);
    PutInt(header, 30, height, 4);
    PutInt(header, 34, depth, 4);
    PutInt(header, 38, frameCount, 4);
    return header;
}

// Appends `frames` frames of `frameBytes` bytes, every byte of frame i equal to i + 1.
void AppendFrames(Bytes& file, int frames, size_t frameBytes)
{
    for (int i = 0; i < frames; ++i)
        file.insert(file.end(), frameBytes, static_cast<uint8_t>(i + 1));
}

void AppendTicks(Bytes& file, const std::vector<int64_t>& ticks)
{
    for (int64_t t : ticks) {
        file.resize(file.size() + 8);
        PutInt(file, file.size() - 8, t, 8);
    }
}

std::string WriteSer(const std::string& name, const Bytes& bytes)
{
    const std::string path = ZubTestDir() + "/" + name;
    ZubWriteFile(path, bytes.data(), bytes.size());
    return path;
}

// One frame of 16-bit little-endian samples; returns the converted blue of each pixel.
Bytes Convert16(int32_t depth, const std::vector<uint16_t>& samples)
{
    Bytes file = SerHeader(static_cast<int32_t>(samples.size()), 1, depth, 1);
    for (uint16_t s : samples) {
        file.push_back(static_cast<uint8_t>(s));
        file.push_back(static_cast<uint8_t>(s >> 8));
    }
    CZubSer ser;
    EXPECT_TRUE(ser.Open(WriteSer("depth.ser", file)));
    EXPECT_TRUE(ser.ReadNextFrame());
    Bytes blue;
    for (size_t x = 0; x < samples.size(); ++x) {
        EXPECT_EQ(ser.m_pFrame[3 * x], ser.m_pFrame[3 * x + 2]);
        blue.push_back(ser.m_pFrame[3 * x]);
    }
    return blue;
}

// A SER of random samples: one or three per pixel, `depth` bits, each sample shifted left by
// `shift` (12-bit samples in the high bits: shift 4).
std::string RandomSer(const std::string& name, int32_t width, int32_t depth, int32_t colorId, int shift)
{
    const int32_t height = 7, frames = 3;
    const int samples = colorId == 100 || colorId == 101 ? 3 : 1;
    Bytes file = SerHeader(width, height, depth, frames, colorId);
    std::mt19937 random(static_cast<unsigned>(width * 31 + depth * 7 + colorId + shift));
    const unsigned top = depth > 8 ? (1u << std::min(depth, 16)) - 1 : 255;
    for (int i = 0; i < width * height * frames * samples; ++i) {
        const unsigned v = (random() % (top + 1)) << shift;
        file.push_back(static_cast<uint8_t>(v));
        if (depth > 8)
            file.push_back(static_cast<uint8_t>(v >> 8));
    }
    return WriteSer(name, file);
}

// Flat red, green and blue stripes, each as (red, green, blue); distinct values per channel
// show any channel taken for another.
struct SColor
{
    unsigned red, green, blue;
};
constexpr int kPatchSide = 16;
constexpr SColor kStripes[3] = {{200, 20, 10}, {30, 180, 40}, {15, 25, 220}};

// Columns 0..4 the first stripe, 5..10 the second, 11..15 the third.
const SColor& StripeAt(int x)
{
    return kStripes[x < 5 ? 0 : x < 11 ? 1 : 2];
}

// The stripes as a mosaic of `pattern` ("RGGB": the top-left 2 x 2 cell row by row), each
// sample shifted left by `shift`, in one frame of a SER of `depth` bits.
Bytes StripesMosaicSer(const std::string& pattern, int32_t colorId, int32_t depth, int shift)
{
    Bytes file = SerHeader(kPatchSide, kPatchSide, depth, 1, colorId);
    for (int y = 0; y < kPatchSide; ++y)
        for (int x = 0; x < kPatchSide; ++x) {
            const SColor& c = StripeAt(x);
            const char filter = pattern[static_cast<size_t>((y & 1) * 2 + (x & 1))];
            const unsigned v = (filter == 'R' ? c.red : filter == 'G' ? c.green : c.blue) << shift;
            file.push_back(static_cast<uint8_t>(v));
            if (depth > 8)
                file.push_back(static_cast<uint8_t>(v >> 8));
        }
    return file;
}

// Every pixel whose neighbours lie in its own stripe (frame edges included) has the stripe's colour.
void ExpectStripeColors(const CZubSer& ser)
{
    const int64_t stride = ZubStride24(kPatchSide);
    for (int y = 0; y < kPatchSide; ++y)
        for (int x = 0; x < kPatchSide; ++x) {
            if (&StripeAt(std::max(x - 1, 0)) != &StripeAt(std::min(x + 1, kPatchSide - 1)))
                continue;
            const uint8_t* bgr = &ser.m_pFrame[static_cast<size_t>(y * stride + 3 * x)];
            const SColor& c = StripeAt(x);
            ASSERT_EQ(Bytes(bgr, bgr + 3), (Bytes{uint8_t(c.blue), uint8_t(c.green), uint8_t(c.red)}))
                << "at " << x << ", " << y;
        }
}

}  // namespace

struct SMosaicCase
{
    const char* pattern;
    int32_t colorId;
};

void PrintTo(const SMosaicCase& mosaic, std::ostream* out)
{
    *out << mosaic.pattern;
}

class ZubSerMosaic : public testing::TestWithParam<SMosaicCase>
{
};

// A mosaic is interpolated into colour: flat stripes keep their colour up to the frame's
// edges, and the red channel of the reduction is the red of the picture.
TEST_P(ZubSerMosaic, FlatStripesComeOutInTheirColour)
{
    const SMosaicCase& mosaic = GetParam();
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("mosaic.ser", StripesMosaicSer(mosaic.pattern, mosaic.colorId, 8, 0))));
    EXPECT_TRUE(ser.HasColor());
    EXPECT_EQ(ser.ColorText(), std::string("Bayer ") + mosaic.pattern);
    EXPECT_EQ(ser.m_iBytesPerPixel, 1);
    ASSERT_TRUE(ser.ReadNextFrame());
    ExpectStripeColors(ser);

    CZubFrame red;
    red.Create(kPatchSide, kPatchSide, FRAME_MONO8);
    CZubSer::SReduction reduction;
    ASSERT_TRUE(ser.PrepareReduction(red, 1, reduction));
    std::vector<uint8_t> raw(static_cast<size_t>(ser.RawFrameBytes()));
    ASSERT_TRUE(ser.ReadRawFrame(0, raw.data()));
    ASSERT_TRUE(ser.ReduceRawFrame(raw.data(), red, reduction));
    EXPECT_EQ(*red.GetPixel(1, 7), kStripes[0].red);
    EXPECT_EQ(*red.GetPixel(8, 7), kStripes[1].red);
    EXPECT_EQ(*red.GetPixel(14, 7), kStripes[2].red);
}

INSTANTIATE_TEST_SUITE_P(Patterns, ZubSerMosaic,
                         testing::Values(SMosaicCase{"RGGB", 8}, SMosaicCase{"GRBG", 9}, SMosaicCase{"GBRG", 10},
                                         SMosaicCase{"BGGR", 11}),
                         [](const testing::TestParamInfo<SMosaicCase>& info) { return std::string(info.param.pattern); });

TEST(ZubSer, TwoByteMosaicsAreScaledLikeMonoSamples)
{
    const struct {
        int32_t depth;
        int shift;
    } kLayouts[] = {{16, 8}, {12, 4}, {12, 8}};  // the last: 12-bit samples in the high bits
    for (const auto& layout : kLayouts) {
        SCOPED_TRACE(std::to_string(layout.depth) + "-bit, shift " + std::to_string(layout.shift));
        CZubSer ser;
        ASSERT_TRUE(ser.Open(WriteSer("mosaic16.ser", StripesMosaicSer("GRBG", 9, layout.depth, layout.shift))));
        EXPECT_EQ(ser.m_iBytesPerPixel, 2);
        ASSERT_TRUE(ser.ReadNextFrame());
        ExpectStripeColors(ser);
    }
}

// Odd and tiny frames and a cut-off last frame read without fault; any band of rows read and
// converted alone (the player's and the patches' way) equals the same rows of the whole frame.
TEST(ZubSer, MosaicRowsReadAloneEqualTheWholeFrameAtAnySize)
{
    const struct {
        int32_t width, height, depth;
    } kSizes[] = {{1, 1, 8}, {1, 5, 8}, {5, 1, 16}, {2, 2, 8}, {3, 3, 16}, {7, 5, 8}};
    for (const auto& size : kSizes) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        const size_t frameBytes = static_cast<size_t>(size.width * size.height * (size.depth > 8 ? 2 : 1));
        Bytes file = SerHeader(size.width, size.height, size.depth, 3, 8);
        std::mt19937 random(static_cast<unsigned>(size.width * 7 + size.height));
        for (size_t i = 0; i < 2 * frameBytes + frameBytes / 2; ++i)
            file.push_back(static_cast<uint8_t>(random()));
        CZubSer ser;
        ASSERT_TRUE(ser.Open(WriteSer("odd.ser", file)));
        EXPECT_EQ(ser.FrameCount, 2);
        const int64_t stride = ZubStride24(size.width);
        for (int first = 0; first < size.height; ++first) {
            ASSERT_TRUE(ser.ReadFrame(1));
            Bytes raw(frameBytes, 0), band(ser.m_pFrame.size(), 0);
            ASSERT_TRUE(ser.ReadRawRows(1, first, first + 2, raw.data()));
            ser.ConvertRawRows(raw.data(), first, first + 2, band.data());
            const size_t begin = static_cast<size_t>(first * stride);
            const size_t end = static_cast<size_t>(std::min(first + 2, size.height) * stride);
            ASSERT_TRUE(std::equal(band.begin() + begin, band.begin() + end, ser.m_pFrame.begin() + begin)) << first;
        }
        EXPECT_FALSE(ser.ReadFrame(2));
    }
}

// Complementary-colour mosaics and unknown ids give the gray picture of their samples, said
// once however often the file is opened.
TEST(ZubSer, UnsupportedColourIdIsReadAsMonoAndSaidOnce)
{
    ZubResetApp();
    CZubLogRecorderWnd view;
    ZubApp().m_log.SetView(&view);
    for (int32_t colorId : {16, 42}) {
        Bytes file = SerHeader(2, 1, 8, 1, colorId);
        file.insert(file.end(), {50, 90});
        const std::string path = WriteSer("cmy" + std::to_string(colorId) + ".ser", file);
        CZubSer ser;
        for (int open = 0; open < 2; ++open) {
            ASSERT_TRUE(ser.Open(path));
            EXPECT_FALSE(ser.HasColor());
            EXPECT_EQ(ser.ColorText(), "mono");
            ASSERT_TRUE(ser.ReadNextFrame());
            EXPECT_EQ(Bytes(ser.m_pFrame.begin(), ser.m_pFrame.begin() + 6), (Bytes{50, 50, 50, 90, 90, 90}));
        }
    }
    EXPECT_EQ(view.ConsoleLines(), (std::vector<std::string>{"SER colour id 16 is not supported: read as mono.",
                                                              "SER colour id 42 is not supported: read as mono."}));
    ZubResetApp();
}

// The SER passes reduce a frame straight from the file; it must give the very values of the
// reduction of its 24-bit conversion, truncated gray weights included, in every layout.
TEST(ZubSer, StraightReductionEqualsTheReductionOfThe24BitFrame)
{
    const struct {
        int32_t depth, colorId;
        int shift;
    } kLayouts[] = {{8, 0, 0},   {16, 0, 0},   {12, 0, 0},  {12, 0, 4}, {8, 100, 0}, {8, 101, 0},
                    {16, 100, 0}, {10, 101, 0}, {8, 8, 0},  {8, 10, 0}, {16, 11, 0}, {12, 9, 4}};
    for (const auto& layout : kLayouts)
        for (int32_t width : {9, 64}) {
            SCOPED_TRACE(std::to_string(layout.depth) + "-bit, colour " + std::to_string(layout.colorId) +
                         ", shift " + std::to_string(layout.shift) + ", width " + std::to_string(width));
            CZubSer ser;
            ASSERT_TRUE(ser.Open(RandomSer("layout.ser", width, layout.depth, layout.colorId, layout.shift)));
            CZubFrame video, reference, straight;
            video.Create(ser.ImageWidth, ser.ImageHeight, FRAME_COLOR_RGB24);
            reference.Create(ser.ImageWidth, ser.ImageHeight, FRAME_MONO8);
            straight.Create(ser.ImageWidth, ser.ImageHeight, FRAME_MONO8);
            std::vector<uint8_t> raw(static_cast<size_t>(ser.RawFrameBytes()));
            for (int channel = 0; channel <= 3; ++channel) {
                CZubSer::SReduction reduction;
                ASSERT_TRUE(ser.PrepareReduction(straight, channel, reduction));
                for (int index = 0; index < ser.FrameCount; ++index) {
                    ASSERT_TRUE(ser.ReadFrame(index));
                    video.SetPixels(ser.m_pFrame.data());
                    video.ConvertAvi2Frame(reference, {0, 0}, {0, 0}, channel);
                    ASSERT_TRUE(ser.ReadRawFrame(index, raw.data()));
                    ASSERT_TRUE(ser.ReduceRawFrame(raw.data(), straight, reduction));
                    ASSERT_EQ(std::memcmp(straight.m_pBits, reference.m_pBits, reference.GetBufferSize()), 0)
                        << "channel " << channel << ", frame " << index;
                }
            }
            CZubSer::SReduction unknown;
            EXPECT_FALSE(ser.PrepareReduction(straight, 4, unknown));
            EXPECT_FALSE(ser.ReduceRawFrame(raw.data(), straight, unknown));
        }
}

TEST(ZubSer, Mono8PassReadsEveryFrameThenCloses)
{
    Bytes file = SerHeader(640, 480, 8, 10);
    AppendFrames(file, 10, 640 * 480);
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("vga.ser", file)));
    EXPECT_EQ(ser.ImageWidth * ser.ImageHeight * ser.m_iBytesPerPixel, 307200);
    EXPECT_EQ(ser.m_bih.biSizeImage, 921600u);
    EXPECT_EQ(ser.m_bih.biSize, 40u);
    EXPECT_EQ(ser.m_bih.biHeight, 480);
    EXPECT_EQ(ser.m_bih.biBitCount, 24);
    EXPECT_EQ(ser.FrameCount, 10);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(ser.ReadNextFrame());
        EXPECT_EQ(ser.m_iCurrent, i + 1);
        EXPECT_EQ(ser.m_pFrame[0], i + 1);
        EXPECT_EQ(ser.m_pFrame[921599], i + 1);
    }
    EXPECT_FALSE(ser.ReadNextFrame());
    EXPECT_FALSE(ser.IsOpen());
}

TEST(ZubSer, TwoByteSamplesAreScaledByTheirDepth)
{
    EXPECT_EQ(Convert16(16, {0x1234, 0xFFFF, 0x00FF}), (Bytes{0x12, 0xFF, 0x00}));
    // 12-bit samples in the low bits, and the same samples in the high bits.
    EXPECT_EQ(Convert16(12, {4095, 2048, 15}), (Bytes{255, 128, 0}));
    EXPECT_EQ(Convert16(12, {0xFFF0, 0x8000, 0x00F0}), (Bytes{255, 128, 0}));
    EXPECT_EQ(Convert16(10, {1023, 512}), (Bytes{255, 128}));
    EXPECT_EQ(Convert16(32, {0x1234}), (Bytes{0x12}));
}

TEST(ZubSer, HighBitLayoutIsDecidedOncePerFile)
{
    // A dark first frame reads alike in both layouts; the bright last frame decides.
    Bytes file = SerHeader(1, 1, 12, 3);
    file.insert(file.end(), {0x00, 0x01, 0x00, 0x80, 0xF0, 0xFF});
    const std::string path = WriteSer("high.ser", file);
    CZubSer ser;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(ser.Open(path));
        Bytes blue;
        while (ser.ReadNextFrame())
            blue.push_back(ser.m_pFrame[0]);
        EXPECT_EQ(blue, (Bytes{1, 128, 255})) << pass;
    }
}

TEST(ZubSer, DepthOfEightOrLessIsOneBytePerPixel)
{
    for (int32_t depth : {8, 6, 1, 0, -3}) {
        Bytes file = SerHeader(3, 1, depth, 0);
        file.insert(file.end(), {7, 8, 9});
        CZubSer ser;
        ASSERT_TRUE(ser.Open(WriteSer("low.ser", file))) << depth;
        EXPECT_EQ(ser.m_iBytesPerPixel, 1);
        EXPECT_EQ(ser.FrameCount, 1);
        ASSERT_TRUE(ser.ReadNextFrame());
        EXPECT_EQ(ser.m_pFrame[6], 9);
    }
}

TEST(ZubSer, ColourFilesAreWrittenBlueGreenRed)
{
    // Two frames, so that the second one is found only with the three-sample frame size.
    Bytes rgb = SerHeader(2, 1, 8, 2, 100);
    rgb.insert(rgb.end(), {10, 20, 30, 40, 50, 60, 11, 21, 31, 41, 51, 61});
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("rgb.ser", rgb)));
    EXPECT_EQ(ser.m_iBytesPerPixel, 3);
    ASSERT_TRUE(ser.ReadFrame(1));
    EXPECT_EQ(Bytes(ser.m_pFrame.begin(), ser.m_pFrame.begin() + 6), (Bytes{31, 21, 11, 61, 51, 41}));

    Bytes bgr = SerHeader(1, 1, 16, 1, 101);
    bgr.insert(bgr.end(), {0x00, 0x11, 0x00, 0x22, 0x00, 0x33});
    ASSERT_TRUE(ser.Open(WriteSer("bgr.ser", bgr)));
    EXPECT_EQ(ser.m_iBytesPerPixel, 6);
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(Bytes(ser.m_pFrame.begin(), ser.m_pFrame.begin() + 3), (Bytes{0x11, 0x22, 0x33}));
}

TEST(ZubSer, RowsArePaddedToFourBytes)
{
    Bytes file = SerHeader(5, 2, 8, 1);
    file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("five.ser", file)));
    EXPECT_EQ(ser.m_bih.biSizeImage, 32u);
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(ser.m_pFrame[12], 5);
    EXPECT_EQ(ser.m_pFrame[16], 6);  // first file row is buffer row 0
}

TEST(ZubSer, RandomAccessStaysInsideTheFrames)
{
    Bytes file = SerHeader(4, 2, 8, 6);
    AppendFrames(file, 6, 8);
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("six.ser", file)));
    ASSERT_TRUE(ser.ReadFrame(3));
    EXPECT_EQ(ser.m_pFrame[0], 4);
    EXPECT_EQ(ser.m_iCurrent, 3);
    EXPECT_FALSE(ser.ReadFrame(6));
    EXPECT_FALSE(ser.ReadFrame(-1));
    EXPECT_TRUE(ser.IsOpen());
    ASSERT_TRUE(ser.ReadNextFrame());  // goes on after the frame shown
    EXPECT_EQ(ser.m_pFrame[0], 5);
    ser.m_iCurrent = 0;  // the player's restart
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(ser.m_pFrame[0], 1);
    EXPECT_EQ(ser.m_iCurrent, 1);
}

TEST(ZubSer, PlayerSeeksAfterTheEndAndGoesOnFromTheFrameShown)
{
    Bytes file = SerHeader(4, 2, 8, 3);
    AppendFrames(file, 3, 8);
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("three.ser", file)));
    while (ser.ReadNextFrame()) {
    }
    EXPECT_FALSE(ser.IsOpen());
    ASSERT_TRUE(ser.ReadFrame(0));
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(ser.m_pFrame[0], 2);
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_FALSE(ser.ReadNextFrame());
    ser.m_iCurrent = 0;  // a restart after the end
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(ser.m_pFrame[0], 1);
    ser.Rewind();  // unambiguous even right after frame 0
    ASSERT_TRUE(ser.ReadNextFrame());
    EXPECT_EQ(ser.m_pFrame[0], 1);
    ser.Close();
    EXPECT_FALSE(ser.ReadFrame(0));
}

TEST(ZubSer, BadFilesAndImpossibleGeometryAreRefused)
{
    CZubSer ser;
    EXPECT_FALSE(ser.Open(WriteSer("short.ser", Bytes(100, 0))));
    EXPECT_FALSE(ser.Open(ZubTestDir() + "/missing.ser"));
    EXPECT_FALSE(ser.Open(ZubTestDir()));
    EXPECT_FALSE(ser.Open(WriteSer("w0.ser", SerHeader(0, 10, 8, 1))));
    EXPECT_FALSE(ser.Open(WriteSer("hneg.ser", SerHeader(10, -1, 8, 1))));
    EXPECT_FALSE(ser.Open(WriteSer("huge.ser", SerHeader(2147483647, 2147483647, 16, 1, 100))));
    // Raw frame 1.5 GiB (converted exactly 1 GiB); converted frame 1 GiB + 4 bytes.
    EXPECT_FALSE(ser.Open(WriteSer("raw.ser", SerHeader(1, 1 << 28, 16, 1, 100))));
    EXPECT_FALSE(ser.Open(WriteSer("bmp.ser", SerHeader(1, (1 << 28) + 1, 8, 1))));
    EXPECT_FALSE(ser.IsOpen());
    EXPECT_EQ(ser.m_bih.biSizeImage, 0u);
    // Exactly 1 GiB is allowed; with no frame in the file nothing is allocated.
    ASSERT_TRUE(ser.Open(WriteSer("limit.ser", SerHeader(1, 1 << 28, 8, 5))));
    EXPECT_EQ(ser.m_bih.biSizeImage, 1u << 30);
    EXPECT_EQ(ser.FrameCount, 0);
    EXPECT_FALSE(ser.ReadNextFrame());
}

TEST(ZubSer, TextFieldsEndAtZeroOrFieldLength)
{
    Bytes file = SerHeader(1, 1, 8, 0);
    std::memset(file.data() + 42, 'o', 40);
    std::memcpy(file.data() + 82, "scope\0junk", 10);
    std::memset(file.data() + 162, 'd', 8);
    file.push_back(0);
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("text.ser", file)));
    EXPECT_EQ(ser.Observer, std::string(40, 'o'));
    EXPECT_EQ(ser.Instrument, "scope");
    EXPECT_EQ(ser.Telescope, "");
    EXPECT_EQ(ser.DateTime, "dddddddd");
    EXPECT_EQ(std::string(ser.FileID.data(), 14), "LUCAM-RECORDER");
}

TEST(ZubSer, FrameCountBecomesTheWholeFramesPresent)
{
    const struct { int32_t header; int32_t expected; } cases[] = {{0, 3}, {50, 3}, {-5, 3}, {2, 2}};
    for (const auto& c : cases) {
        Bytes file = SerHeader(2, 2, 8, c.header);
        AppendFrames(file, 3, 4);
        file.insert(file.end(), {9, 9});  // a truncated last frame
        CZubSer ser;
        ASSERT_TRUE(ser.Open(WriteSer("count.ser", file)));
        EXPECT_EQ(ser.FrameCount, c.expected) << c.header;
        int frames = 0;
        while (ser.ReadNextFrame())
            ++frames;
        EXPECT_EQ(frames, c.expected) << c.header;
    }
}

TEST(ZubSer, TrailerGivesFrameTimesAndIsNeverAFrame)
{
    // 2024-02-29 23:59:59.999 UTC; the second stamp carries the kind bits on top.
    const int64_t leap = kUnixEpochTicks + 1709251199LL * 10000000 + 9990000;
    Bytes file = SerHeader(2, 2, 8, 3);
    AppendFrames(file, 3, 4);
    AppendTicks(file, {leap, leap + 333333 + (int64_t(1) << 62), leap + 666666});
    CZubSer ser;
    ASSERT_TRUE(ser.Open(WriteSer("stamps.ser", file)));
    EXPECT_EQ(ser.FrameCount, 3);
    ASSERT_TRUE(ser.HasTimeStamps());
    EXPECT_EQ(ser.GetFrameTicks(1), leap + 333333);
    EXPECT_EQ(ser.FormatFrameUtc(0), "2024-02-29 23:59:59.999");
    EXPECT_EQ(ser.FormatFrameUtc(1), "2024-03-01 00:00:00.032");
    EXPECT_EQ(ser.FormatFrameUtc(2), "2024-03-01 00:00:00.065");
    int64_t micros = 0;
    ASSERT_TRUE(ser.GetFrameUtc(0, micros));
    EXPECT_EQ(micros, 1709251199999000);
    EXPECT_EQ(ser.FormatFrameUtc(3), "");
    EXPECT_EQ(ser.GetFrameTicks(-1), 0);
    EXPECT_FALSE(ser.ReadFrame(3));
    int frames = 0;
    while (ser.ReadNextFrame())
        ++frames;
    EXPECT_EQ(frames, 3);
    // Closed: header facts, stamps and the last frame remain.
    ser.Close();
    EXPECT_FALSE(ser.ReadFrame(0));
    EXPECT_EQ(ser.m_bih.biWidth, 2);
    EXPECT_EQ(ser.m_pFrame.size(), 16u);
    EXPECT_EQ(ser.m_pFrame[0], 3);
    EXPECT_EQ(ser.FormatFrameUtc(0), "2024-02-29 23:59:59.999");

    file.resize(file.size() - 1);  // incomplete trailer: no time stamps at all
    ASSERT_TRUE(ser.Open(WriteSer("stamps.ser", file)));
    EXPECT_FALSE(ser.HasTimeStamps());
    EXPECT_EQ(ser.FormatFrameUtc(0), "");
    EXPECT_FALSE(ser.GetFrameUtc(0, micros));
}

TEST(ZubSer, DoubtfulTrailersGiveNoTimeStamps)
{
    const int64_t day = kUnixEpochTicks + 1709251199LL * 10000000;
    const struct { int32_t header; std::vector<int64_t> ticks; } cases[] = {
        {4, {day, day + 1, day + 2}},  // cut off: these bytes are the start of frame 4
        {3, {day, day - 1, day + 2}},  // going backwards
        {3, {1, 2, 3}},                // year 1
        {3, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        Bytes file = SerHeader(8, 4, 8, c.header);
        AppendFrames(file, 3, 32);
        AppendTicks(file, c.ticks);
        CZubSer ser;
        ASSERT_TRUE(ser.Open(WriteSer("doubtful.ser", file)));
        EXPECT_EQ(ser.FrameCount, 3);
        EXPECT_FALSE(ser.HasTimeStamps()) << c.ticks[1];
    }
}

TEST(ZubSer, RealJupiterRecording)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    CZubSer ser;
    ASSERT_TRUE(ser.Open(ZubSharedData("jupiter-dslr-256x256-mono8.ser")));
    EXPECT_EQ(ser.ImageWidth, 256);
    EXPECT_EQ(ser.ImageHeight, 256);
    EXPECT_EQ(ser.FrameCount, 100);
    ASSERT_TRUE(ser.HasTimeStamps());
    EXPECT_EQ(ser.FormatFrameUtc(0), "2019-09-29 04:00:00.000");
    int64_t first = 0;
    int64_t last = 0;
    ASSERT_TRUE(ser.GetFrameUtc(0, first));
    ASSERT_TRUE(ser.GetFrameUtc(99, last));
    EXPECT_NEAR(double(last - first) / 99, 1e6 / 30, 1000);
    int frames = 0;
    uint8_t brightest = 0;
    while (ser.ReadNextFrame()) {
        ++frames;
        for (size_t i = 0; i < ser.m_pFrame.size(); i += 3)
            brightest = std::max(brightest, ser.m_pFrame[i]);
    }
    EXPECT_EQ(frames, 100);
    EXPECT_GT(brightest, 100);  // the planet is there, not a black frame
}
