// The SER read-ahead: frames in file order, each as the 24-bit picture (or rows of it) or
// the straight reduction it was asked for, and a stop at any moment.
#include "zubserreadahead.h"
#include "zubrun.h"
#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace
{
std::string SynthSer(const std::string& name, int frames)
{
    SZubSynthOptions o;
    o.iWidth = 96;
    o.iHeight = 64;
    o.iFrames = frames;
    return CZubTestRun::Synth(name, o);
}

void ExpectFramesInOrder(const CZubSer& ser, bool bThread)
{
    CZubSerReadAhead readAhead;
    readAhead.Start(ser, 2, [](int n) { return CZubSerReadAhead::SNeed{n % 3 == 0, 10, 30}; }, bThread);
    CZubSer reference;
    ASSERT_TRUE(reference.Open("order.ser"));
    CZubFrame video, green;
    video.Create(96, 64, FRAME_COLOR_RGB24);
    green.Create(96, 64, FRAME_MONO8);
    for (int index = 0; index < 10; ++index)
    {
        SCOPED_TRACE(index);
        CZubSerReadAhead::SFrame* frame = readAhead.Next();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->iIndex, index);
        ASSERT_TRUE(reference.ReadFrame(index));
        video.SetPixels(reference.m_pFrame.data());
        video.ConvertAvi2Frame(green, {0, 0}, {0, 0}, 2);
        EXPECT_EQ(frame->bVideo, (index + 1) % 3 == 0);
        if (frame->bVideo)
        {
            EXPECT_EQ(frame->iFirstRow, 10);
            EXPECT_EQ(frame->iEndRow, 30);
            EXPECT_EQ(std::memcmp(frame->video.GetRowRGB(10), video.GetRowRGB(10), 20 * video.GetStride()), 0)
                << "the rows asked for";
        }
        else
        {
            EXPECT_EQ(std::memcmp(frame->mono.m_pBits, green.m_pBits, green.GetBufferSize()), 0);
            EXPECT_EQ(frame->ptCenterOfMass, green.GetCenterOfMass());
        }
        readAhead.Release();
    }
    EXPECT_EQ(readAhead.Next(), nullptr);
    EXPECT_EQ(readAhead.Next(), nullptr) << "the end stays the end";

    // An unknown channel reduces nothing: every frame comes as the picture.
    readAhead.Start(ser, 7, nullptr, bThread);
    CZubSerReadAhead::SFrame* frame = readAhead.Next();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->bVideo);
}
}  // namespace

// With a reading thread and without one (read in Next), the same frames.
TEST(ZubSerReadAhead, FramesComeInOrderAsAskedAndMeasured)
{
    CZubSer ser;
    ASSERT_TRUE(ser.Open(SynthSer("order.ser", 10)));
    for (const bool bThread : {true, false})
    {
        SCOPED_TRACE(bThread ? "thread" : "no thread");
        ExpectFramesInOrder(ser, bThread);
    }
}

// Stops while the reader waits for room, while it reads, before the first frame is taken,
// and restarts, with a ring of two slots and of six: it never hangs, and a restart begins at
// the first frame.
TEST(ZubSerReadAhead, StopsAndRestartsAtAnyMoment)
{
    CZubSer ser;
    ASSERT_TRUE(ser.Open(SynthSer("stops.ser", 40)));
    CWatchdog watchdog(30);
    std::mt19937 random(7);
    CZubSerReadAhead readAhead;
    for (int i = 0; i < 300; ++i)
    {
        watchdog.Progress("iteration " + std::to_string(i));
        readAhead.m_nRingBytes = i % 2 ? 1 : CZubSerReadAhead::kRingBytes;  // two slots, then six
        readAhead.Start(ser, 0, [&](int n) { return CZubSerReadAhead::SNeed{n % 5 == 0, n % 7, 64 - n % 3}; });
        const int taken = static_cast<int>(random() % 45);
        for (int k = 0; k < taken; ++k)
        {
            CZubSerReadAhead::SFrame* frame = readAhead.Next();
            if (k < 40)
                ASSERT_TRUE(frame && frame->iIndex == k) << i;
            else
                ASSERT_EQ(frame, nullptr) << i;
            if (random() % 2)
                readAhead.Release();
        }
        if (random() % 4 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        if (random() % 3)
            readAhead.Stop();
    }
}
