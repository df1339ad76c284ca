#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace
{
int32_t LE32(const std::vector<uint8_t>& d, size_t at)
{
    return static_cast<int32_t>(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24);
}

SZubSynthOptions Small()
{
    SZubSynthOptions o;
    o.iWidth = 64;
    o.iHeight = 48;
    o.iFrames = 6;
    o.seed = 7;
    return o;
}

std::vector<uint8_t> Write(const SZubSynthOptions& o, const std::string& name)
{
    std::string error;
    EXPECT_TRUE(ZubSynthWriteSer(o, name, error)) << error;
    return ZubReadFile(name);
}

uint8_t Pixel(const std::vector<uint8_t>& d, const SZubSynthOptions& o, int frame, int x, int y)
{
    return d[178 + size_t(frame - 1) * o.iWidth * o.iHeight + size_t(y) * o.iWidth + x];
}

uint64_t Fnv1a(const std::vector<uint8_t>& d)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (uint8_t b : d)
        h = (h ^ b) * 0x100000001b3ULL;
    return h;
}

// The pixels of a frame that differ from the same frame of `plain`.
std::set<int> Changed(const std::vector<uint8_t>& d, const std::vector<uint8_t>& plain, const SZubSynthOptions& o,
                      int frame)
{
    std::set<int> at;
    for (int i = 0; i < o.iWidth * o.iHeight; ++i)
        if (Pixel(d, o, frame, i % o.iWidth, i / o.iWidth) != Pixel(plain, o, frame, i % o.iWidth, i / o.iWidth))
            at.insert(i);
    return at;
}

bool HaveFfmpeg()
{
    static const bool bHave = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
    return bHave;
}

// The frames of a video as ffmpeg decodes them: raw samples of `pixFmt`, top row first.
std::vector<uint8_t> Decode(const std::string& video, const char* pixFmt)
{
    const std::string raw = video + ".raw";
    const std::string command = "ffmpeg -loglevel error -y -i " + video + " -f rawvideo -pix_fmt " + pixFmt + " " + raw;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ZubReadFile(raw);
}

// The samples of the unflipped SER (8 bits, no trailer), rows in reverse order when bFlip.
std::vector<uint8_t> SerSamples(const SZubSynthOptions& o, bool bFlip)
{
    SZubSynthOptions ser = o;
    ser.bTimeStamps = false;
    ser.bFlipVertical = false;
    const std::vector<uint8_t> d = Write(ser, "samples.ser");
    const size_t row = size_t(o.iWidth) * (o.bColor ? 3 : 1);
    std::vector<uint8_t> samples;
    for (int n = 0; n < o.iFrames; ++n)
        for (int y = 0; y < o.iHeight; ++y)
        {
            const int line = bFlip ? o.iHeight - 1 - y : y;
            const auto from = d.begin() + 178 + static_cast<long>((size_t(n) * o.iHeight + line) * row);
            samples.insert(samples.end(), from, from + static_cast<long>(row));
        }
    return samples;
}
}  // namespace

TEST(ZubSynth, HeaderSizeAndTrailer)
{
    SZubSynthOptions o = Small();
    o.iDepth = 12;
    o.bColor = true;
    const std::vector<uint8_t> d = Write(o, "synth-header.ser");
    EXPECT_EQ(LE32(d, 18), 100);  // RGB
    EXPECT_EQ(LE32(d, 26), 64);
    EXPECT_EQ(LE32(d, 30), 48);
    EXPECT_EQ(LE32(d, 34), 12);
    EXPECT_EQ(LE32(d, 38), 6);
    EXPECT_EQ(d.size(), 178u + 6u * 64 * 48 * 3 * 2 + 6u * 8);
}

TEST(ZubSynth, SameSeedSameFileOtherSeedOtherFile)
{
    SZubSynthOptions o = Small();
    EXPECT_EQ(Write(o, "synth-a.ser"), Write(o, "synth-b.ser"));
    o.seed = 8;
    EXPECT_NE(Write(Small(), "synth-a.ser"), Write(o, "synth-c.ser"));
}

TEST(ZubSynth, DiscIsBrightSkyIsDarkAndTheFlashShowsOnlyInItsFrames)
{
    SZubSynthOptions o = Small();
    o.jitter = 0.0;
    o.driftX = o.driftY = 0.0;
    o.noise = 0.0;
    o.flash.iFrame = 3;
    o.flash.iDuration = 2;
    o.flash.dx = 5;
    o.flash.dy = -4;
    o.flash.peak = 50;
    const std::vector<uint8_t> d = Write(o, "synth-flash.ser");
    EXPECT_GT(Pixel(d, o, 1, 32, 24), 100);  // disc centre
    EXPECT_LT(Pixel(d, o, 1, 1, 1), 12);     // sky
    const int fx = 32 + 5, fy = 24 - 4;
    EXPECT_EQ(Pixel(d, o, 2, fx, fy), Pixel(d, o, 1, fx, fy));
    EXPECT_GT(Pixel(d, o, 3, fx, fy), Pixel(d, o, 1, fx, fy) + 30);
    EXPECT_GT(Pixel(d, o, 4, fx, fy), Pixel(d, o, 1, fx, fy) + 30);
    EXPECT_EQ(Pixel(d, o, 5, fx, fy), Pixel(d, o, 1, fx, fy));
}

TEST(ZubSynth, EveryFlashShowsInItsOwnFramesAtItsOwnPlace)
{
    SZubSynthOptions o = Small();
    o.jitter = o.driftX = o.driftY = o.noise = 0.0;
    o.flash = {.iFrame = 2, .iDuration = 1, .dx = 5, .dy = -4, .peak = 60};
    o.moreFlashes = {{.iFrame = 4, .iDuration = 2, .dx = -8, .dy = 3, .peak = 60}};
    const std::vector<uint8_t> d = Write(o, "synth-flashes.ser");
    const int ax = 32 + 5, ay = 24 - 4, bx = 32 - 8, by = 24 + 3;
    EXPECT_GT(Pixel(d, o, 2, ax, ay), Pixel(d, o, 1, ax, ay) + 30);
    EXPECT_EQ(Pixel(d, o, 2, bx, by), Pixel(d, o, 1, bx, by));
    for (int n : {4, 5})
    {
        EXPECT_GT(Pixel(d, o, n, bx, by), Pixel(d, o, 1, bx, by) + 30) << n;
        EXPECT_EQ(Pixel(d, o, n, ax, ay), Pixel(d, o, 1, ax, ay)) << n;
    }
}

TEST(ZubSynth, HotPixelsStayOnTheSensorAndCosmicRaysLastOneFrame)
{
    SZubSynthOptions o = Small();
    o.driftX = 2.0;  // the disc moves, the sensor does not
    const std::vector<uint8_t> plain = Write(o, "synth-plain.ser");
    o.iHotPixels = 12;
    const std::vector<uint8_t> hot = Write(o, "synth-hot.ser");
    const std::set<int> hotPixels = Changed(hot, plain, o, 1);
    EXPECT_GE(hotPixels.size(), 10u);
    for (int n = 2; n <= o.iFrames; ++n)
        EXPECT_EQ(Changed(hot, plain, o, n), hotPixels) << n;

    o.iHotPixels = 0;
    o.cosmicRate = 2.0;
    const std::vector<uint8_t> rays = Write(o, "synth-rays.ser");
    std::multiset<int> hits;
    for (int n = 1; n <= o.iFrames; ++n)
        for (int at : Changed(rays, plain, o, n))
            hits.insert(at);
    EXPECT_GE(hits.size(), 4u);
    for (int at : hits)
        EXPECT_EQ(hits.count(at), 1u) << "pixel " << at << " hit in more than one frame";
}

TEST(ZubSynth, BayerMosaicTakesEachPixelFromItsFilterAndOnlyAsSer)
{
    SZubSynthOptions o = Small();
    o.noise = 0.0;
    o.bColor = true;
    const std::vector<uint8_t> rgb = Write(o, "synth-rgb.ser");
    o.bColor = false;
    o.bBayer = true;
    const std::vector<uint8_t> mosaic = Write(o, "synth-bayer.ser");
    EXPECT_EQ(LE32(mosaic, 18), 8);
    ASSERT_EQ(mosaic.size(), 178u + 6u * 64 * 48 + 6u * 8);
    // RGGB: red on even rows and columns, blue on odd ones, green on the rest.
    for (int y = 0; y < o.iHeight; ++y)
        for (int x = 0; x < o.iWidth; ++x)
        {
            const int plane = (y & 1) + (x & 1);
            ASSERT_EQ(Pixel(mosaic, o, 3, x, y), rgb[178 + size_t(2 * 64 * 48 + y * 64 + x) * 3 + plane]) << x << "," << y;
        }
    EXPECT_GT(Pixel(mosaic, o, 1, 32, 24), Pixel(mosaic, o, 1, 33, 25) + 25);  // the disc is warm

    std::string error;
    EXPECT_FALSE(ZubSynthWriteVideo(o, "bayer.avi", EZubSynthCodec::RawGray, error));
    o.bColor = true;
    EXPECT_FALSE(ZubSynthWriteSer(o, "both.ser", error));
}

TEST(ZubSynth, NuisancesLeaveTheFramesAloneUntilTheyApplyAndRepeatExactly)
{
    const std::vector<uint8_t> plain = Write(Small(), "synth-plain.ser");
    SZubSynthOptions idle = Small();
    idle.startX = 32;  // the frame's centre
    idle.startY = 24;
    idle.moreFlashes = {{.iFrame = 9}};  // all after the last frame
    idle.clouds = {{.iFrame = 9, .iDuration = 2, .depth = 0.5}};
    idle.moons = {{.iFrame = 9, .iDuration = 2}};
    EXPECT_EQ(Write(idle, "synth-idle.ser"), plain);

    SZubSynthOptions busy = Small();
    busy.iHotPixels = 5;
    busy.cosmicRate = 1.0;
    busy.clouds = {{.iFrame = 2, .iDuration = 3, .depth = 0.3}};
    busy.moons = {{.iFrame = 1, .iDuration = 6, .x0 = -10, .x1 = 10, .brightness = -80}};
    busy.rotation = 1.0;
    busy.bRings = true;
    const std::vector<uint8_t> once = Write(busy, "synth-busy.ser");
    EXPECT_NE(once, plain);
    EXPECT_EQ(Write(busy, "synth-busy2.ser"), once);
}

TEST(ZubSynth, RefusesBadOptionsAndUnwritablePaths)
{
    std::string error;
    SZubSynthOptions o = Small();
    o.iDepth = 20;
    EXPECT_FALSE(ZubSynthWriteSer(o, "bad.ser", error));
    EXPECT_EQ(error, "depth must be 8 to 16 bits");
    EXPECT_FALSE(ZubSynthWriteSer(Small(), "/no/such/folder/x.ser", error));
    EXPECT_NE(error.find("cannot create /no/such/folder/x.ser"), std::string::npos);
}

TEST(ZubSynth, SerBytesStayAsTheyWere)
{
    // Tests elsewhere depend on these exact files.
    EXPECT_EQ(Fnv1a(Write(Small(), "golden.ser")), 0x3f52f57b5c9073d2ULL);
    SZubSynthOptions o = Small();
    o.bColor = true;
    o.iDepth = 12;
    o.flash.iFrame = 2;
    o.flash.iDuration = 2;
    o.flash.dx = o.flash.dy = 3;
    o.flash.peak = 90;
    EXPECT_EQ(Fnv1a(Write(o, "golden-color.ser")), 0xf3af7209b037b581ULL);
}

TEST(ZubSynth, RawAviHoldsTheSerPixelsExactlyAndFlipsOnRequest)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "no ffmpeg program";
    SZubSynthOptions o = Small();
    o.iWidth = 30;  // rows of 90 bytes: the AVI pads them
    o.iHeight = 20;
    o.iFrames = 3;
    o.bColor = true;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteVideo(o, "raw.avi", EZubSynthCodec::RawBgr24, error)) << error;
    EXPECT_EQ(Decode("raw.avi", "rgb24"), SerSamples(o, false));

    o.bColor = false;
    o.bFlipVertical = true;
    ASSERT_TRUE(ZubSynthWriteVideo(o, "flipped.avi", EZubSynthCodec::RawBgr24, error)) << error;
    EXPECT_EQ(Decode("flipped.avi", "gray"), SerSamples(o, true));
    ASSERT_TRUE(ZubSynthWriteVideo(o, "gray.avi", EZubSynthCodec::RawGray, error)) << error;
    EXPECT_EQ(Decode("gray.avi", "gray"), SerSamples(o, true));
}

TEST(ZubSynth, EveryCodecWritesEveryFrame)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "no ffmpeg program";
    SZubSynthOptions o = Small();
    o.iWidth = 160;  // large enough frames for the MPEG muxers' duration to be exact
    o.iHeight = 120;
    o.iFrames = 8;
    const struct
    {
        EZubSynthCodec codec;
        const char* path;
    } kVideos[] = {{EZubSynthCodec::RawGray, "c.avi"}, {EZubSynthCodec::Mjpeg, "c-mjpeg.avi"},
                   {EZubSynthCodec::Mpeg1, "c.mpg"},   {EZubSynthCodec::Mpeg2, "c2.mpg"},
                   {EZubSynthCodec::Mpeg2, "c.m2v"},   {EZubSynthCodec::Wmv, "c.wmv"}};
    const std::vector<uint8_t> source = SerSamples(o, false);
    for (const auto& v : kVideos)
    {
        std::string error;
        ASSERT_TRUE(ZubSynthWriteVideo(o, v.path, v.codec, error)) << v.path << ": " << error;
        const std::vector<uint8_t> decoded = Decode(v.path, "gray");
        ASSERT_EQ(decoded.size(), source.size()) << v.path;
        // Lossy codecs keep the picture: the disc centre stays bright, the sky dark.
        const size_t centre = size_t(60) * 160 + 80, corner = 160 + 1;
        EXPECT_NEAR(decoded[centre], source[centre], 12) << v.path;
        EXPECT_NEAR(decoded[corner], source[corner], 12) << v.path;
    }
}

TEST(ZubSynth, VideoFailuresAreReported)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "no ffmpeg program";
    std::string error;
    SZubSynthOptions o = Small();
    o.iDepth = 12;
    EXPECT_FALSE(ZubSynthWriteVideo(o, "deep.avi", EZubSynthCodec::RawGray, error));
    EXPECT_EQ(error, "videos are written with 8 bits per sample");
    EXPECT_FALSE(ZubSynthWriteVideo(Small(), "/no/such/folder/x.avi", EZubSynthCodec::Mjpeg, error));
    EXPECT_EQ(error.rfind("ffmpeg failed with exit status ", 0), 0u) << error;
    EXPECT_FALSE(ZubFileExists("/no/such/folder/x.avi"));
}
