// The FFmpeg player source: facts, the processing source's pixels frame by frame, seeks that
// land on the frame decoding from the start reaches, the end of the stream, bad files.
#include "zubffmpeg.h"
#include "zubffmpegplayer.h"
#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace
{
uint64_t Hash(const uint8_t* data, size_t size)
{
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (const uint8_t* end = data + size; data < end; ++data)
        h = (h ^ *data) * 1099511628211ull;
    return h;
}

struct SDecoded
{
    std::vector<uint64_t> hashes;
    std::vector<int64_t> times;
    std::vector<int64_t> indexes;
};

// Reads from where the source stands to the end of the stream.
SDecoded ReadToEnd(IZubPlayerSource& source)
{
    SDecoded d;
    SZubPlayerFrame frame;
    std::string error;
    EZubPlayerRead read;
    while ((read = source.ReadFrame(frame, error)) == EZubPlayerRead::Frame)
    {
        d.hashes.push_back(Hash(frame.pixels.data(), frame.pixels.size()));
        d.times.push_back(frame.llTime);
        d.indexes.push_back(frame.llIndex);
    }
    EXPECT_EQ(read, EZubPlayerRead::EndOfStream) << error;
    return d;
}

// The frames the processing source delivers for a whole pass.
std::vector<uint64_t> ProcessedHashes(const std::string& path)
{
    std::vector<uint64_t> hashes;
    CZubFfmpegSource source;
    SZubMediaFacts facts;
    EXPECT_TRUE(source.Connect(path, &facts));
    EXPECT_TRUE(source.Run(
        [&](double, const uint8_t* buffer, long length) {
            hashes.push_back(Hash(buffer, static_cast<size_t>(length)));
            return 0;
        },
        nullptr));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    bool bEnded = false;
    while (!(bEnded = source.TakeEndOfStream()) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    source.Stop();
    EXPECT_TRUE(bEnded);
    return hashes;
}

std::unique_ptr<IZubPlayerSource> OpenPlayer(const std::string& path, SZubPlayerFacts& facts)
{
    std::unique_ptr<IZubPlayerSource> player = CZubFfmpegPlayer::Factory()();
    std::string error;
    EXPECT_TRUE(player->Open(path, facts, error)) << path << ": " << error;
    return player;
}

SZubPlayerFacts FactsOf(const std::string& path)
{
    SZubPlayerFacts facts;
    OpenPlayer(path, facts);
    return facts;
}

std::string Synth(const std::string& name, EZubSynthCodec codec, int width, int height, int frames, bool bColor = true)
{
    SZubSynthOptions o;
    o.iWidth = width;
    o.iHeight = height;
    o.iFrames = frames;
    o.bColor = bColor;
    std::string error;
    EXPECT_TRUE(ZubSynthWriteVideo(o, name, codec, error)) << error;
    return name;
}

// Synthetic videos of every kind zubsynth writes, the real recordings, and an MPEG-2 with
// B-frames in open groups of pictures (after a jump to a keyframe, its leading B-frames
// cannot be decoded).
std::vector<std::string> Videos()
{
    static const std::vector<std::string> videos = [] {
        std::vector<std::string> v = {Synth("raw.avi", EZubSynthCodec::RawBgr24, 30, 20, 15),  // padded rows
                                      Synth("gray.avi", EZubSynthCodec::RawGray, 30, 20, 15, false),
                                      Synth("mjpeg.avi", EZubSynthCodec::Mjpeg, 96, 64, 40),
                                      Synth("mpeg1.mpg", EZubSynthCodec::Mpeg1, 96, 64, 40),
                                      Synth("elementary.m2v", EZubSynthCodec::Mpeg2, 96, 64, 40),
                                      Synth("wmv8.wmv", EZubSynthCodec::Wmv, 96, 64, 40)};
        if (ZubHasSharedData())
            for (const char* name : {"jupiter-dslr-512x512-mjpeg.avi", "moon-1280x960-mpeg4.avi",
                                     "jupiter-clip-128x96-audio.wmv"})
                v.push_back(ZubSharedData(name));
        if (std::system("ffmpeg -loglevel error -y -i mjpeg.avi -c:v mpeg2video -bf 2 -g 12 "
                        "-sc_threshold 1000000000 -q:v 2 -f vob bframes.mpg") == 0)
            v.push_back("bframes.mpg");
        return v;
    }();
    return videos;
}

void ExpectFrame(IZubPlayerSource& player, const SDecoded& all, size_t k, const char* how)
{
    SZubPlayerFrame frame;
    std::string error;
    ASSERT_EQ(player.ReadFrame(frame, error), EZubPlayerRead::Frame) << how << " " << k << ": " << error;
    EXPECT_EQ(frame.llIndex, static_cast<int64_t>(k)) << how;
    EXPECT_EQ(frame.llTime, all.times[k]) << how << " " << k;
    EXPECT_EQ(Hash(frame.pixels.data(), frame.pixels.size()), all.hashes[k]) << how << " " << k;
}
}  // namespace

TEST(ZubFfmpegPlayerTest, FactsComeFromTheContainer)
{
    ZUB_SKIP_WITHOUT_SHARED_DATA();
    const SZubPlayerFacts avi = FactsOf(ZubSharedData("jupiter-dslr-512x512-mjpeg.avi"));
    EXPECT_EQ(avi.bih.biWidth, 512);
    EXPECT_EQ(avi.bih.biHeight, 512);
    EXPECT_EQ(avi.bih.biSizeImage, 512u * 512 * 3);
    EXPECT_EQ(avi.llTimePerFrame, 333333);
    EXPECT_EQ(avi.llDuration, 33333333);
    EXPECT_EQ(avi.llFrames, 100);
    // No frame count in an ASF file: estimated from the duration.
    const SZubPlayerFacts wmv = FactsOf(ZubSharedData("jupiter-clip-128x96-audio.wmv"));
    EXPECT_EQ(wmv.llTimePerFrame, 166667);
    EXPECT_EQ(wmv.llDuration, 613120000);
    EXPECT_NEAR(static_cast<double>(wmv.llFrames), 3677, 5);
    // An elementary stream knows its rate only.
    const SZubPlayerFacts m2v = FactsOf(Videos()[4]);
    EXPECT_EQ(m2v.bih.biSizeImage, 96u * 64 * 3);
    EXPECT_EQ(m2v.llTimePerFrame, 333333);
    EXPECT_EQ(m2v.llDuration + m2v.llFrames, 0);
}

TEST(ZubFfmpegPlayerTest, EveryFrameAsTheProcessingSourceDeliversItThenTheEnd)
{
    for (const std::string& path : Videos())
    {
        SCOPED_TRACE(path);
        SZubPlayerFacts facts;
        const std::unique_ptr<IZubPlayerSource> player = OpenPlayer(path, facts);
        const SDecoded all = ReadToEnd(*player);
        EXPECT_EQ(all.hashes, ProcessedHashes(path));
        ASSERT_FALSE(all.hashes.empty());
        for (size_t i = 0; i < all.indexes.size(); ++i)
        {
            ASSERT_EQ(all.indexes[i], static_cast<int64_t>(i));
            ASSERT_TRUE(i == 0 ? all.times[i] == 0 : all.times[i] > all.times[i - 1]) << i;
        }
        SZubPlayerFrame frame;
        std::string error;
        EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::EndOfStream);
    }
}

TEST(ZubFfmpegPlayerTest, SeekLandsOnTheFrameDecodingFromTheStartReachesOrOnTheEnd)
{
    for (const std::string& path : Videos())
    {
        SCOPED_TRACE(path);
        SZubPlayerFacts facts;
        const std::unique_ptr<IZubPlayerSource> player = OpenPlayer(path, facts);
        const SDecoded all = ReadToEnd(*player);
        const size_t n = all.hashes.size();
        ASSERT_GE(n, 15u);
        std::string error;
        // Forward and back, on keyframes (every 12th in the encoded synthetic videos) and
        // next to them, the first and the last frame.
        for (const size_t k : {n / 2, size_t(13), size_t(12), size_t(11), size_t(0), n - 1, size_t(1), n - 2, n / 3})
        {
            ASSERT_TRUE(player->SeekFrame(static_cast<int64_t>(k), error)) << error;
            ExpectFrame(*player, all, k, "frame");
            if (k + 1 < n)
                ExpectFrame(*player, all, k + 1, "then");
            ASSERT_TRUE(player->SeekTime(all.times[k], error)) << error;
            ExpectFrame(*player, all, k, "time");
            ASSERT_TRUE(player->SeekTime(all.times[k] - 1, error)) << error;
            ExpectFrame(*player, all, k, "just before");
        }
        SZubPlayerFrame frame;
        for (const int64_t past : {int64_t(n), INT64_MAX})
        {
            ASSERT_TRUE(player->SeekFrame(past, error)) << error;
            EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::EndOfStream) << past;
        }
        ASSERT_TRUE(player->SeekTime(all.times.back() + 1, error)) << error;
        EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::EndOfStream);
        ASSERT_TRUE(player->SeekTime(INT64_MIN, error)) << error;  // before the start: the first frame
        ExpectFrame(*player, all, 0, "after the end");
    }
}

TEST(ZubFfmpegPlayerTest, BadFilesGiveAReasonAndNeverACrash)
{
    std::unique_ptr<IZubPlayerSource> player = CZubFfmpegPlayer::Factory()();
    SZubPlayerFrame frame;
    SZubPlayerFacts facts;
    std::string error;
    EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::Error);
    EXPECT_EQ(error, "No video is open");
    EXPECT_FALSE(player->SeekFrame(3, error));

    ZubWriteText("notes.avi", "These are not the frames you are looking for.\n");
    ZubWriteText("empty.wmv", "");
    std::vector<std::pair<std::string, std::string>> bad = {{"missing.avi", "No such file or directory"},
                                                            {"notes.avi", "Invalid data found when processing input"},
                                                            {"empty.wmv", "Invalid data found when processing input"}};
    if (std::system("ffmpeg -loglevel error -y -f lavfi -i sine=duration=1 -c:a pcm_s16le sound.avi") == 0)
        bad.emplace_back("sound.avi", "No video stream found");
    for (const auto& [path, reason] : bad)
    {
        EXPECT_FALSE(player->Open(path, facts, error)) << path;
        EXPECT_EQ(error, reason) << path;
        EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::Error) << path;
    }

    // A file cut mid-frame plays as far as it can, then ends.
    const std::vector<uint8_t> whole = ZubReadFile(Videos()[2]);
    ZubWriteFile("cut.avi", whole.data(), whole.size() / 2 + 333);
    ASSERT_TRUE(player->Open("cut.avi", facts, error)) << error;
    const size_t frames = ReadToEnd(*player).hashes.size();
    EXPECT_GT(frames, 10u);
    EXPECT_LT(frames, 40u);
    ASSERT_TRUE(player->SeekFrame(30, error)) << error;
    EXPECT_EQ(player->ReadFrame(frame, error), EZubPlayerRead::EndOfStream);
}

TEST(ZubFfmpegPlayerTest, AVideoInMemoryReadsAsItsFile)
{
    for (const std::string& path : {Videos()[2], Videos()[4]})  // seekable, and read from the start
    {
        SCOPED_TRACE(path);
        const std::vector<uint8_t> bytes = ZubReadFile(path);
        const std::string name = ZubAvAddMemoryVideo(bytes.data(), bytes.size());
        SZubPlayerFacts facts;
        const SDecoded all = ReadToEnd(*OpenPlayer(path, facts));
        const std::unique_ptr<IZubPlayerSource> player = OpenPlayer(name, facts);
        EXPECT_EQ(ReadToEnd(*player).hashes, all.hashes);
        EXPECT_EQ(ProcessedHashes(name), all.hashes);
        std::string error;
        ASSERT_TRUE(player->SeekFrame(13, error)) << error;
        ExpectFrame(*player, all, 13, "memory");
        ZubAvRemoveMemoryVideo(name);
        EXPECT_FALSE(player->Open(name, facts, error));
    }
}
