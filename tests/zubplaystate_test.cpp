// The player's logic where no window is needed: SER pacing and a drag while stopped; media
// sources with and without a rate, a duration or frame times; files that cannot be played.
#include "zubplaystate.h"
#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

namespace
{
// `frames` frames whose pixels hold the frame's index; with times: a frame every 400000.
class CFakeSource : public IZubPlayerSource
{
public:
    CFakeSource(int frames, bool bTimes) : m_frames(frames), m_bTimes(bTimes)
    {
        m_facts.bih = {40, 4, 2, 1, 24, 0, static_cast<uint32_t>(ZubStride24(4) * 2), 0, 0, 0, 0};
        m_facts.llTimePerFrame = bTimes ? 400000 : 0;
        m_facts.llDuration = frames * m_facts.llTimePerFrame;
    }
    bool Open(const std::string&, SZubPlayerFacts& facts, std::string& error) override
    {
        facts = m_facts;
        error = m_frames < 0 ? "Invalid data found when processing input" : "";
        return m_frames >= 0;
    }
    EZubPlayerRead ReadFrame(SZubPlayerFrame& frame, std::string& error) override
    {
        error = m_next == m_failAt ? "Broken packet" : "";
        if (!error.empty() || m_next >= m_frames)
            return error.empty() ? EZubPlayerRead::EndOfStream : EZubPlayerRead::Error;
        frame.pixels.assign(m_facts.bih.biSizeImage, static_cast<uint8_t>(m_next));
        frame.llIndex = m_bTimes ? m_next : -1;
        frame.llTime = m_bTimes ? m_next * 400000 : -1;
        ++m_next;
        return EZubPlayerRead::Frame;
    }
    bool SeekTime(int64_t llTime, std::string& error) override { return SeekFrame((llTime + 399999) / 400000, error); }
    bool SeekFrame(int64_t llIndex, std::string&) override
    {
        m_next = llIndex;
        return true;
    }
    int64_t m_failAt = -1;

private:
    SZubPlayerFacts m_facts;
    int64_t m_frames;
    bool m_bTimes;
    int64_t m_next = 0;
};

// A factory of one fake source, which `source` then points at.
ZubPlayerFactory FakeFactory(CFakeSource*& source, int frames, bool bTimes)
{
    return [&source, frames, bTimes] {
        auto made = std::make_unique<CFakeSource>(frames, bTimes);
        source = made.get();
        return made;
    };
}
}  // namespace

TEST(ZubPlayState, SerPacedByItsTimeStampsDraggedWhileStoppedThenResumed)
{
    SZubSynthOptions options;
    options.iWidth = 64;
    options.iHeight = 48;
    options.iFrames = 12;
    options.fps = 25.0;
    std::string message;
    ASSERT_TRUE(ZubSynthWriteSer(options, "play.ser", message)) << message;
    CZubPlayState player;
    ASSERT_TRUE(player.Open("play.ser", true, 0, {}, message)) << message;
    EXPECT_EQ(player.FrameIntervalMs(), 40);
    player.Play(), player.Stop();
    player.TrackBegin(), player.TrackTo(7), player.TrackEnd();
    SZubPlayControls c = player.Controls();
    EXPECT_EQ(player.State(), EZubPlayState::Paused);
    EXPECT_TRUE(c.bPause && c.bStop && c.bTrackbar);
    EXPECT_EQ(c.csPauseText, "Resume");
    EXPECT_EQ(c.csCounter, "8");
    player.PauseResume();
    EXPECT_FALSE(player.Controls().bTrackbar);  // a resumed SER file follows its loop
    player.Step(), player.Play(), player.Step();
    EXPECT_EQ(player.ShownIndex(), 9);
}

TEST(ZubPlayState, MediaWithoutRateDurationOrTimesCountsDecodedFrames)
{
    CZubPlayState player;
    CFakeSource* source = nullptr;
    std::string message;
    ASSERT_TRUE(player.Open("fake.avi", false, 0, FakeFactory(source, 5, false), message));
    EXPECT_EQ(player.FrameIntervalMs(), 0);
    player.Play();
    player.Step(), player.Step();
    SZubPlayControls c = player.Controls();
    EXPECT_EQ(c.csCounter, "2");
    EXPECT_TRUE(!c.bTrackbar && c.iTrackMax == 0 && c.iTrackPos == 0);
    player.TrackBegin(), player.TrackTo(500), player.TrackEnd();  // ignored
    while (player.IsAdvancing())
        player.Step();
    EXPECT_EQ(player.Pixels()[0], 4);  // the last frame stays on show
    EXPECT_EQ(player.Controls().csCounter, "5");
    EXPECT_TRUE(player.TakeMessage().empty());
}

TEST(ZubPlayState, MediaDragPausesThenGoesOnAsBefore)
{
    CZubPlayState player;
    CFakeSource* source = nullptr;
    std::string message;
    ASSERT_TRUE(player.Open("fake.avi", false, 0, FakeFactory(source, 100, true), message));
    player.Play();
    player.Step(), player.Step();
    EXPECT_EQ(player.Controls().iTrackPos, 10);  // frame 1 of 100, in 1000 steps
    player.TrackBegin();
    EXPECT_FALSE(player.IsAdvancing());
    player.TrackTo(500);
    EXPECT_EQ(player.ShownIndex(), 50);
    player.TrackEnd();
    EXPECT_TRUE(player.IsAdvancing());

    player.PauseResume();
    player.TrackBegin(), player.TrackTo(1000), player.TrackEnd();
    EXPECT_EQ(player.ShownIndex(), 99);  // the trackbar's end is the last frame
    EXPECT_EQ(player.State(), EZubPlayState::Paused);

    player.Stop();
    player.TrackBegin(), player.TrackTo(250), player.TrackEnd();
    EXPECT_EQ(player.State(), EZubPlayState::Paused);  // on from the frame sought
    EXPECT_EQ(player.ShownIndex(), 25);

    source->m_failAt = 27;
    player.PauseResume();
    player.Step(), player.Step();
    EXPECT_EQ(player.State(), EZubPlayState::Stopped);
    EXPECT_EQ(player.TakeMessage(), "Cannot play fake.avi: Broken packet");
    EXPECT_TRUE(player.TakeMessage().empty());
}

TEST(ZubPlayState, FilesThatCannotBePlayedLeaveEveryControlDisabled)
{
    ZubWriteText("garbage.ser", std::string(500, 'x'));
    CFakeSource* source = nullptr;
    const struct
    {
        const char* path;
        bool bSer;
        ZubPlayerFactory factory;
        const char* message;
    } cases[] = {
        {"missing.ser", true, {}, "Cannot play missing.ser: No such file"},
        {"garbage.ser", true, {}, "Cannot play garbage.ser: Not a SER video this program can read"},
        {"clip.avi", false, {}, "Cannot play clip.avi: This build plays SER files only"},
        {"clip.avi", false, FakeFactory(source, -1, true), "Cannot play clip.avi: Invalid data found when processing input"},
        {"clip.avi", false, FakeFactory(source, 0, true), "Cannot play clip.avi: The video holds no frame"},
    };
    for (const auto& k : cases)
    {
        CZubPlayState player;
        std::string message;
        EXPECT_FALSE(player.Open(k.path, k.bSer, 400000, k.factory, message));
        EXPECT_EQ(message, k.message);
        player.Play();
        player.TrackBegin(), player.TrackTo(3), player.TrackEnd();
        const SZubPlayControls c = player.Controls();
        EXPECT_TRUE(!c.bPlay && !c.bPause && !c.bStop && !c.bTrackbar) << k.path;
        EXPECT_EQ(player.PixelBytes(), 0u);
    }
}

TEST(ZubPlayState, PlacesThePictureOnTopOfThePlayer)
{
    EXPECT_EQ(CZubPlayState::PlayerPosition({1920, 1080}, {300, 80}), (SZubPoint{100, 900}));
    EXPECT_EQ(CZubPlayState::PicturePosition({100, 900}, {640, 480}), (SZubPoint{100, 420}));
    EXPECT_EQ(CZubPlayState::PicturePosition({100, 588}, {1280, 990}), (SZubPoint{100, 0}));
}
