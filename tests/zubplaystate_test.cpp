// The player's logic: SER play, pause, drag, stop and end of file; media sources with and
// without a rate, a duration or frame times; files that cannot be played; placement.
#include "zubplaystate.h"
#include "zubser.h"
#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
// A media source of `frames` frames whose pixels all hold the frame's index.
class CFakeSource : public IZubPlayerSource
{
public:
    CFakeSource(const SZubPlayerFacts& facts, int frames, bool bTimes) : m_facts(facts), m_frames(frames), m_bTimes(bTimes)
    {
    }
    bool Open(const std::string&, SZubPlayerFacts& facts, std::string&) override
    {
        facts = m_facts;
        return true;
    }
    EZubPlayerRead ReadFrame(SZubPlayerFrame& frame, std::string& error) override
    {
        if (m_next == m_failAt)
        {
            error = "Broken packet";
            return EZubPlayerRead::Error;
        }
        if (m_next >= m_frames)
            return EZubPlayerRead::EndOfStream;
        frame.pixels.assign(m_facts.bih.biSizeImage, static_cast<uint8_t>(m_next));
        frame.llIndex = m_bTimes ? m_next : -1;
        frame.llTime = m_bTimes ? m_next * m_facts.llTimePerFrame : -1;
        ++m_next;
        return EZubPlayerRead::Frame;
    }
    bool SeekTime(int64_t llTime, std::string&) override
    {
        const int64_t step = m_facts.llTimePerFrame;
        m_next = (llTime + step - 1) / step;
        return true;
    }
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

SZubPlayerFacts Facts(int64_t timePerFrame, int64_t duration)
{
    SZubPlayerFacts facts;
    facts.bih.biWidth = 4;
    facts.bih.biHeight = 2;
    facts.bih.biBitCount = 24;
    facts.bih.biSizeImage = static_cast<uint32_t>(ZubStride24(4) * 2);
    facts.llTimePerFrame = timePerFrame;
    facts.llDuration = duration;
    return facts;
}

// Opens a fake media video; `source` stays valid while the player lives.
void OpenFake(CZubPlayState& player, CFakeSource*& source, const SZubPlayerFacts& facts, int frames, bool bTimes)
{
    ZubPlayerFactory factory = [&] {
        auto made = std::make_unique<CFakeSource>(facts, frames, bTimes);
        source = made.get();
        return made;
    };
    std::string message;
    ASSERT_TRUE(player.Open("fake.avi", false, 0, factory, message)) << message;
}

int RunToEnd(CZubPlayState& player)
{
    int steps = 0;
    while (player.IsAdvancing() && steps < 100000)
        player.Step(), ++steps;
    return steps;
}
}  // namespace

TEST(ZubPlayState, SerPlaysPausesDragsStopsAndEnds)
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
    EXPECT_EQ(player.FrameIntervalMs(), 40);  // from the time stamps

    SZubPlayControls c = player.Controls();
    EXPECT_TRUE(c.bPlay && !c.bPause && !c.bStop && !c.bTrackbar);
    EXPECT_EQ(c.csCounter, "1");
    EXPECT_EQ(c.iTrackMax, 11);  // the last frame's index

    player.Play();
    player.Step(), player.Step(), player.Step();
    player.Play();  // while playing: no restart
    player.Step();
    EXPECT_EQ(player.ShownIndex(), 3);
    c = player.Controls();
    EXPECT_TRUE(c.bPause && c.bStop && c.bTrackbar);
    EXPECT_EQ(c.csCounter, "4");
    EXPECT_EQ(c.iTrackPos, 3);

    player.PauseResume();
    EXPECT_FALSE(player.IsAdvancing());
    EXPECT_EQ(player.Controls().csPauseText, "Resume");
    player.TrackBegin(), player.TrackTo(7), player.TrackEnd();
    EXPECT_EQ(player.ShownIndex(), 7);
    EXPECT_EQ(player.State(), EZubPlayState::Paused);
    player.PauseResume();
    c = player.Controls();
    EXPECT_EQ(c.csPauseText, "Pause");
    EXPECT_FALSE(c.bTrackbar);  // a resumed SER file follows its loop
    player.Step();
    EXPECT_EQ(player.ShownIndex(), 8);

    player.Stop();
    c = player.Controls();
    EXPECT_EQ(player.ShownIndex(), 0);
    EXPECT_TRUE(c.bPlay && !c.bPause && !c.bStop && c.bTrackbar);
    player.Play();
    player.Step();
    EXPECT_EQ(player.ShownIndex(), 0);  // from the first frame again
    EXPECT_EQ(RunToEnd(player), 12);
    EXPECT_EQ(player.State(), EZubPlayState::Stopped);
    EXPECT_EQ(player.ShownIndex(), 11);

    // After the end of the file a drag still shows its frame.
    player.TrackBegin(), player.TrackTo(5), player.TrackEnd();
    EXPECT_EQ(player.State(), EZubPlayState::Paused);
    CZubSer reader;
    ASSERT_TRUE(reader.Open("play.ser") && reader.ReadFrame(5));
    ASSERT_EQ(player.PixelBytes(), reader.m_pFrame.size());
    EXPECT_EQ(std::memcmp(player.Pixels(), reader.m_pFrame.data(), reader.m_pFrame.size()), 0);
    player.PauseResume();
    player.Step();
    EXPECT_EQ(player.ShownIndex(), 6);
}

TEST(ZubPlayState, MediaWithoutRateDurationOrTimesCountsDecodedFrames)
{
    CZubPlayState player;
    CFakeSource* source = nullptr;
    OpenFake(player, source, Facts(0, 0), 5, false);
    EXPECT_EQ(player.FrameIntervalMs(), 0);
    player.Play();
    player.Step(), player.Step();
    SZubPlayControls c = player.Controls();
    EXPECT_EQ(c.csCounter, "2");
    EXPECT_FALSE(c.bTrackbar);
    EXPECT_EQ(c.iTrackMax, 0);
    EXPECT_EQ(c.iTrackPos, 0);
    player.TrackBegin(), player.TrackTo(500), player.TrackEnd();  // ignored
    EXPECT_EQ(player.State(), EZubPlayState::Playing);
    EXPECT_EQ(RunToEnd(player), 4);
    EXPECT_EQ(player.State(), EZubPlayState::Stopped);
    EXPECT_EQ(player.Pixels()[0], 4);  // the last frame stays on show
    EXPECT_EQ(player.Controls().csCounter, "5");
    EXPECT_TRUE(player.TakeMessage().empty());
}

TEST(ZubPlayState, MediaDragPausesThenGoesOnAsBefore)
{
    CZubPlayState player;
    CFakeSource* source = nullptr;
    OpenFake(player, source, Facts(400000, 100 * 400000), 100, true);
    EXPECT_EQ(player.FrameIntervalMs(), 40);
    player.Play();
    player.Step(), player.Step();
    SZubPlayControls c = player.Controls();
    EXPECT_EQ(c.iTrackMax, CZubPlayState::kMediaTrackMax);
    EXPECT_EQ(c.iTrackPos, 10);  // frame 1 of 100

    player.TrackBegin();
    EXPECT_FALSE(player.IsAdvancing());
    player.TrackTo(500);
    EXPECT_EQ(player.ShownIndex(), 50);
    EXPECT_EQ(player.Controls().csCounter, "51");
    player.TrackEnd();
    EXPECT_TRUE(player.IsAdvancing());
    player.Step();
    EXPECT_EQ(player.ShownIndex(), 51);

    player.PauseResume();
    player.TrackBegin(), player.TrackTo(1000), player.TrackEnd();
    EXPECT_EQ(player.ShownIndex(), 99);  // the trackbar's end is the last frame
    EXPECT_EQ(player.State(), EZubPlayState::Paused);
    EXPECT_TRUE(player.Controls().bTrackbar);

    player.Stop();
    EXPECT_EQ(player.ShownIndex(), 0);
    player.TrackBegin(), player.TrackTo(250), player.TrackEnd();
    EXPECT_EQ(player.State(), EZubPlayState::Paused);  // goes on from the frame sought
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
    const ZubPlayerFactory failing = [] {
        struct CFailing : CFakeSource
        {
            CFailing() : CFakeSource({}, 0, false) {}
            bool Open(const std::string&, SZubPlayerFacts&, std::string& error) override
            {
                error = "Invalid data found when processing input";
                return false;
            }
        };
        return std::make_unique<CFailing>();
    };
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
        {"clip.avi", false, failing, "Cannot play clip.avi: Invalid data found when processing input"},
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
        EXPECT_EQ(player.State(), EZubPlayState::Stopped);
        EXPECT_EQ(player.PixelBytes(), 0u);
    }
}

TEST(ZubPlayState, PlacesThePictureOnTopOfThePlayer)
{
    const SZubPlayPlacement p = CZubPlayState::Place({1920, 1080}, {300, 80}, {640, 480});
    EXPECT_EQ(p.player, (SZubPoint{100, 900}));
    EXPECT_EQ(p.picture, (SZubPoint{100, 420}));
    EXPECT_EQ(CZubPlayState::Place({1024, 768}, {300, 80}, {1280, 960}).picture, (SZubPoint{100, 0}));
}
