#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

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
