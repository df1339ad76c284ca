// The zubcli front end run in-process: arguments, exit status, output and files.
#include "zubcliapp.h"
#include "zubclijson.h"
#include "zubsynth.h"
#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct SCliResult
{
    int status = -1;
    std::string out;
    std::string err;
};

SCliResult RunCli(std::vector<std::string> args)
{
    args.insert(args.begin(), "zubcli");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    SCliResult r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.status = ZubCliMain(static_cast<int>(args.size()), argv.data());
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

SZubSynthOptions SmallVideo(bool bFlash)
{
    SZubSynthOptions o;
    o.iWidth = 240;
    o.iHeight = 180;
    o.iFrames = 90;
    o.seed = 5;
    if (bFlash)
    {
        o.flash.iFrame = 30;
        o.flash.iDuration = 6;
        o.flash.dx = -15;
        o.flash.dy = 12;
        o.flash.peak = 70;
    }
    return o;
}

std::string Synth(const std::string& name, bool bFlash)
{
    std::string error;
    EXPECT_TRUE(ZubSynthWriteSer(SmallVideo(bFlash), name, error)) << error;
    return name;
}

// The frame number of the summary line of candidate #1, or 0.
int FirstCandidateFrame(const std::string& out)
{
    for (const std::string& line : Lines(out))
    {
        const size_t at = line.find("#1 ");
        if (at == std::string::npos)
            continue;
        const size_t frame = line.find("frame", at);
        return frame == std::string::npos ? 0 : std::atoi(line.c_str() + frame + 5);
    }
    return 0;
}

// Candidate #1's summary: position from the planet's centre and brightness increase.
struct SSummary
{
    int x = 0, y = 0, increase = -1000;
};

SSummary FirstCandidate(const std::string& out)
{
    SSummary s;
    const size_t at = out.find("  #1 ");
    if (at != std::string::npos)
        std::sscanf(out.c_str() + at, " #1 frame %*d at (%d, %d) from the planet's centre %*s increase %d", &s.x,
                    &s.y, &s.increase);
    return s;
}

class ZubCli : public testing::Test
{
protected:
    void SetUp() override { ZubResetApp(); }
    void TearDown() override { ZubResetApp(); }
};
}  // namespace

TEST_F(ZubCli, UsageErrors)
{
    SCliResult r = RunCli({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Usage: zubcli"));

    r = RunCli({});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "no video"));

    r = RunCli({"--frobnicate", "a.ser"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "--frobnicate"));

    const std::string video = Synth("usage.ser", false);
    r = RunCli({"--set", "Unknown.Key=1", video});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "Unknown.Key")) << r.err;
    EXPECT_FALSE(Contains(r.out, "candidate")) << "no video is processed after a usage error";

    r = RunCli({"--set", "Settings.DarkFrames=abc", video});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "DarkFrames")) << r.err;

    r = RunCli({"--set", "novalue", video});
    EXPECT_EQ(r.status, 2);

    r = RunCli({"--channel", "purple", video});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "--channel")) << r.err;

    r = RunCli({video, "--csv"});
    EXPECT_EQ(r.status, 2);
}

TEST_F(ZubCli, MissingFileFails)
{
    const SCliResult r = RunCli({"--quiet", "does-not-exist.ser"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "does-not-exist.ser")) << r.err;

    // One failing video does not stop the others.
    const std::string video = Synth("good.ser", false);
    const SCliResult both = RunCli({"--quiet", "does-not-exist.ser", video});
    EXPECT_EQ(both.status, 1);
    EXPECT_TRUE(Contains(both.out, "good.ser: no candidate")) << both.out;
}

TEST_F(ZubCli, FlashIsSummarisedWithItsFrameAndTime)
{
    const std::string video = Synth("flash.ser", true);
    const SCliResult r = RunCli({"--log", video});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "FOUND 1 CANDIDATES")) << "log lines reach stdout";
    EXPECT_TRUE(Contains(r.out, "flash.ser: 1 candidate\n")) << r.out;
    const int frame = FirstCandidateFrame(r.out);
    EXPECT_GE(frame, 30);
    EXPECT_LT(frame, 36);
    // 30 frames per second from 04:00:00 UTC.
    std::string candidateLine;
    for (const std::string& line : Lines(r.out))
        if (Contains(line, "#1 "))
            candidateLine = line;
    EXPECT_TRUE(Contains(candidateLine, "2019-09-29 04:00:0")) << candidateLine;
    EXPECT_TRUE(Contains(candidateLine, " UTC")) << candidateLine;
    EXPECT_TRUE(Contains(candidateLine, "KIV")) << candidateLine;
}

TEST_F(ZubCli, QuietPrintsOnlyTheSummary)
{
    const std::string flash = Synth("flash.ser", true);
    const std::string quiet = Synth("quiet.ser", false);
    const SCliResult r = RunCli({"--quiet", flash, quiet});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 7u) << r.out;
    EXPECT_EQ(lines[0], "flash.ser: 1 candidate");
    EXPECT_EQ(lines[1].rfind("  #1 ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[4], "quiet.ser: no candidate");
    EXPECT_EQ(r.err, "");
}

TEST_F(ZubCli, CsvForOneVideo)
{
    const std::string video = Synth("flash.ser", true);
    const SCliResult r = RunCli({"--quiet", "--csv", "frames.csv", video});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(ZubReadText("frames.csv"));
    ASSERT_EQ(lines.size(), 91u);
    EXPECT_EQ(lines[0] + "\n",
              "Frame number;Planet size X;Planet size Y;CM X;CM Y;Candidate pix-max X;Candidate pix-max Y;"
              "Candidate pix-max;Candidate Candidate;CRC;\n");
    EXPECT_EQ(lines[1].substr(0, 7), "     1;");
    EXPECT_EQ(lines[90].substr(0, 7), "    90;");
    const int frame = FirstCandidateFrame(r.out);
    ASSERT_GT(frame, 0);
    EXPECT_TRUE(Contains(lines[static_cast<size_t>(frame)], ";CANDIDATE;")) << lines[static_cast<size_t>(frame)];
    EXPECT_FALSE(Contains(ZubReadText("frames.csv"), "\r"));
}

TEST_F(ZubCli, CsvForSeveralVideosNeedsAFolder)
{
    const std::string a = Synth("a.ser", true);
    const std::string b = Synth("b.ser", false);
    ZubWriteText("a-file", "x\n");
    SCliResult r = RunCli({"--quiet", "--csv", "a-file", a, b});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "folder")) << r.err;
    EXPECT_EQ(r.out, "");

    // A missing folder is made.
    r = RunCli({"--quiet", "--csv", "csv-out/night", a, b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(ZubReadText("csv-out/night/a.ser.csv")).size(), 91u);
    EXPECT_EQ(Lines(ZubReadText("csv-out/night/b.ser.csv")).size(), 91u);
    EXPECT_TRUE(Contains(ZubReadText("csv-out/night/a.ser.csv"), ";CANDIDATE;"));
    EXPECT_FALSE(Contains(ZubReadText("csv-out/night/b.ser.csv"), ";CANDIDATE;"));

    // A CSV that cannot be written stops the run before the first video.
    r = RunCli({"--quiet", "--csv", "no-such-folder/x.csv", a});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "no-such-folder/x.csv")) << r.err;
}

TEST_F(ZubCli, SettingsAreReadButNeverWritten)
{
    const char* registry = std::getenv("ZUB_REGISTRY");
    ASSERT_NE(registry, nullptr);
    const std::string video = Synth("flash.ser", true);

    std::filesystem::remove(registry);
    SCliResult r = RunCli({"--quiet", "--set", "KIV_Algorithm.MinIncrBright=25", video});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(ZubFileExists(registry));

    // A saved MinIncrBright too high for the flash: read, used, and left as it was.
    const std::string saved = "[KIV_Algorithm]\nMinIncrBright=dword:200\nZubDetection=dword:0\n";
    ZubWriteText(registry, saved);
    r = RunCli({"--quiet", video});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "flash.ser: no candidate")) << r.out;
    EXPECT_EQ(ZubReadText(registry), saved);

    // An override beats the saved value, and still nothing is written.
    r = RunCli({"--quiet", "--set", "KIV_Algorithm.MinIncrBright=20", video});
    EXPECT_TRUE(Contains(r.out, "flash.ser: 1 candidate")) << r.out;
    EXPECT_EQ(ZubReadText(registry), saved);
    std::filesystem::remove(registry);
}

TEST_F(ZubCli, SimulateFindsThePaintedImpact)
{
    const std::string video = Synth("quiet.ser", false);
    const SCliResult r = RunCli({"--quiet", "--simulate", "--set", "Simulation.RelativePositionX=12", "--set",
                                 "Simulation.RelativePositionY=-8", video});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "quiet.ser: 1 candidate\n")) << r.out;
    const int frame = FirstCandidateFrame(r.out);
    EXPECT_GE(frame, 50);
    EXPECT_LE(frame, 64);
}

// The summary speaks as the picture is read, whichever way the reader stores the rows, and
// gives the brightness increase the detector saw.
TEST_F(ZubCli, SummaryPositionAndIncreaseAreThePicturesForEveryFormat)
{
    SZubSynthOptions o = SmallVideo(true);
    o.iWidth = 320;
    o.iHeight = 240;
    o.flash.dx = 40;
    o.flash.dy = -25;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteSer(o, "flash.ser", error)) << error;
    SCliResult r = RunCli({"--quiet", "--set", "KIV_Algorithm.MinIncrBright=20", "flash.ser"});
    const SSummary ser = FirstCandidate(r.out);
    EXPECT_NEAR(ser.x, 40, 2) << r.out;
    EXPECT_NEAR(ser.y, -25, 2) << r.out;
    EXPECT_GE(ser.increase, 20) << r.out;

#ifdef ZUB_HAVE_FFMPEG
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "no ffmpeg program";
    ASSERT_TRUE(ZubSynthWriteVideo(o, "flash.avi", EZubSynthCodec::RawGray, error)) << error;
    r = RunCli({"--quiet", "--set", "KIV_Algorithm.MinIncrBright=20", "flash.avi"});
    const SSummary avi = FirstCandidate(r.out);
    EXPECT_NEAR(avi.x, ser.x, 1) << r.out;
    EXPECT_NEAR(avi.y, ser.y, 1) << r.out;
    EXPECT_NEAR(avi.increase, ser.increase, 2) << r.out;
#endif
}

// --csv overwrites only an earlier frames-data CSV, never an input or another video's CSV;
// a refused run processes nothing.
TEST_F(ZubCli, CsvNeverOverwritesOtherFiles)
{
    const std::string video = Synth("night1.ser", true);
    const std::string other = Synth("night2.ser", false);
    const std::string videoBytes = ZubReadText(video);
    ZubWriteText("notes.txt", "keep me\n");
    for (const char* dir : {"d1", "d2", "out"})
        std::filesystem::create_directories(dir);
    std::filesystem::copy_file(video, "d1/x.ser");
    std::filesystem::copy_file(video, "d2/x.ser");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--quiet", "--csv", video, other}, {"--quiet", "--csv", "./" + video, video},
          {"--quiet", "--csv", "notes.txt", video}, {"--quiet", "--csv", "out", "d1/x.ser", "d2/x.ser"},
          // Folders that refuse files whatever their permission bits say (also for root).
          {"--quiet", "--csv", "/proc/x.csv", video}, {"--quiet", "--images", "/proc/sys", video}})
    {
        const SCliResult r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args[2];
        EXPECT_EQ(r.out, "") << "nothing processed";
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
    EXPECT_EQ(ZubReadText(video), videoBytes);
    EXPECT_EQ(ZubReadText("notes.txt"), "keep me\n");
    EXPECT_FALSE(ZubFileExists("out/x.ser.csv"));

    // An earlier frames-data CSV is replaced.
    EXPECT_EQ(RunCli({"--quiet", "--csv", "frames.csv", other}).status, 0);
    EXPECT_EQ(RunCli({"--quiet", "--csv", "frames.csv", video}).status, 0);
    EXPECT_TRUE(Contains(ZubReadText("frames.csv"), ";CANDIDATE;"));
}

// By default a run says what it reads and what it found; the log comes with --log, showing
// the values in force; a usage error is one line before anything else.
TEST_F(ZubCli, DefaultOutputIsAHeaderAndTheSummary)
{
    const std::string video = Synth("flash.ser", true);
    SCliResult r = RunCli({video});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "flash.ser: 240 x 180, 90 frames, SER 8-bit mono");
    EXPECT_EQ(lines[1], "flash.ser: 1 candidate");
    EXPECT_EQ(lines[3], "  covers 2019-09-29 04:00:00.000 to 04:00:02.966 UTC, 3.0 s (time stamps), 90 frames searched");
    EXPECT_EQ(lines[4].rfind("  detection limit ", 0), 0u) << lines[4];
    EXPECT_EQ(r.err, "");

    r = RunCli({"--log", "--set", "KIV_Algorithm.MinIncrBright=25", video});
    EXPECT_TRUE(Contains(r.out, "New process started.")) << r.out;
    EXPECT_TRUE(Contains(r.out, "MinIncrBright:          25\n")) << "the dump shows the override";
    EXPECT_FALSE(Contains(r.out, "MinIncrBright:          20\n"));

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--log", "--set", "KIV_Algorithm.Nope=1", video},
                                                 {"--log", "--set", "Settings.DarkFrames=x", video},
                                                 {"--jobs", "0", video}, {"--log", "--bogus", video},
                                                 {"--images", "flash.ser", video}})
    {
        r = RunCli(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_EQ(r.out, "") << args[1];
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }

    // "--" ends the options; a folder is one error line naming it.
    std::filesystem::copy_file(video, "-dash.ser");
    r = RunCli({"--quiet", "--", "-dash.ser", ZubTestDir()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "-dash.ser" + RunCli({"--quiet", video}).out.substr(std::string("flash.ser").size()));
    EXPECT_EQ(r.err, "zubcli: " + ZubTestDir() + ": is a folder, not a video\n");
}

TEST_F(ZubCli, FullListSaysHowManyDetectionsDidNotFit)
{
    SZubSynthOptions o;
    o.iWidth = 240;
    o.iHeight = 180;
    o.iFrames = 400;
    o.iDepth = 12;
    o.seed = 3;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteSer(o, "busy.ser", error)) << error;
    const SCliResult r = RunCli({"--quiet", "--set", "KIV_Algorithm.MinIncrBright=3", "busy.ser"});
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 18u) << r.out;
    EXPECT_EQ(lines[0], "busy.ser: 20 detections, the 15 strongest listed");
}

// Several videos at once: each one's output whole and in the order given, whichever ends
// first; --json gives one object per video, an error object for a failed one.
TEST_F(ZubCli, SeveralVideosAtOnceInOrderAndAsJson)
{
    SZubSynthOptions longer = SmallVideo(true);
    longer.iFrames = 400;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteSer(longer, "long.ser", error)) << error;
    const std::string a = Synth("a.ser", false);
    const std::string flash = Synth("flash.ser", true);
    SCliResult r = RunCli({"--jobs", "3", "long.ser", a, flash});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 14u) << r.out;
    EXPECT_EQ(lines[0], "long.ser: 240 x 180, 400 frames, SER 8-bit mono");
    EXPECT_EQ(lines[1], "long.ser: 1 candidate");
    EXPECT_EQ(lines[5], "a.ser: 240 x 180, 90 frames, SER 8-bit mono");
    EXPECT_EQ(lines[6], "a.ser: no candidate");
    EXPECT_EQ(lines[10], "flash.ser: 1 candidate");

    r = RunCli({"--json", "--jobs", "2", "--set", "KIV_Algorithm.MinIncrBright=21", flash, "missing.ser"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> objects = Lines(r.out);
    ASSERT_EQ(objects.size(), 2u) << r.out;
    EXPECT_EQ(objects[0].rfind("{\"file\":\"flash.ser\",\"facts\":{\"format\":\"SER\",\"width\":240,\"height\":180,", 0), 0u)
        << objects[0];
    EXPECT_TRUE(Contains(objects[0], "\"settings\":{\"KIV_Algorithm.MinIncrBright\":21}")) << objects[0];
    EXPECT_TRUE(Contains(objects[0], "\"candidates\":[{\"number\":1,\"frame\":3")) << objects[0];
    EXPECT_TRUE(Contains(objects[0], "\"algorithm\":\"KIV\"")) << objects[0];
    EXPECT_TRUE(Contains(objects[0], "\"utc\":\"2019-09-29T04:00:01.")) << objects[0];
    EXPECT_EQ(objects[1], "{\"file\":\"missing.ser\",\"error\":\"no such file\"}");
    EXPECT_EQ(r.err, "zubcli: missing.ser: no such file\n");
    // No use takes an infinite factor: the default stands, and the JSON stays JSON.
    r = RunCli({"--json", "--set", "Settings.ROIFactorSize=inf", a});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\"settings\":{}")) << r.out;

    EXPECT_EQ(ZubJsonString("a\"b\\c\nd\x01\xff\xc3\xa9"), "\"a\\\"b\\\\c\\nd\\u0001\\ufffd\xc3\xa9\"");
}

double JsonNumber(const std::string& json, const std::string& key)
{
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1.0 : std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

// The night's page: the video with a candidate in a section with its pictures, the one
// without in the null results, the missing one under its reason; only files of its folder.
// The limit follows the noise: twice the noise, twice the faintest flash seen.
TEST_F(ZubCli, ReportOfANightAndTheDetectionLimit)
{
#ifndef ZUB_HAVE_FFMPEG
    GTEST_SKIP() << "the report's pictures need the FFmpeg build";
#else
    std::filesystem::create_directories("videos");
    const std::string flash = Synth("videos/flash.ser", true);
    SZubSynthOptions noisy = SmallVideo(false);
    noisy.noise = 4.0;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteSer(noisy, "noisy.ser", error)) << error;
    const SCliResult r = RunCli({"--json", "--jobs", "2", "--report", "night", flash, "noisy.ser", "missing.ser"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::vector<std::string> json = Lines(r.out);
    ASSERT_EQ(json.size(), 3u) << r.out;
    EXPECT_TRUE(Contains(json[0], "\"time\":{\"start\":\"2019-09-29T04:00:00.000Z\",\"end\":\"2019-09-29T04:00:02.966Z\","
                                  "\"seconds\":3.000,\"source\":\"time stamps\",\"frames_searched\":90}")) << json[0];
    const double ratio = JsonNumber(json[1], "peak") / JsonNumber(json[0], "peak");
    EXPECT_GT(ratio, 1.7) << r.out;
    EXPECT_LT(ratio, 2.3) << r.out;
    EXPECT_GT(JsonNumber(json[0], "searched_share"), 0.8);

    const std::string page = ZubReadText("night/index.html");
    for (const char* part : {"<tr><th>Videos</th><td>3 (2 searched, 1 failed)</td></tr>", "<h2>flash.ser</h2>",
                             "<th>Detection limit</th>", "#1 frame 32, at (-15, 12) from the planet's centre, KIV",
                             "<h2>Searched, nothing found</h2>\n", "<tr><td>noisy.ser</td>",
                             "<tr><td>missing.ser</td><td>no such file</td></tr>"})
        EXPECT_TRUE(Contains(page, part)) << part;
    int nPictures = 0;
    for (size_t at = page.find("src=\""); at != std::string::npos; at = page.find("src=\"", at + 1), ++nPictures)
    {
        const std::string src = page.substr(at + 5, page.find('"', at + 5) - at - 5);
        EXPECT_TRUE(src.find_first_of("/:") == std::string::npos && ZubFileExists("night/" + src)) << src;
    }
    EXPECT_EQ(nPictures, 3);  // the detection image, the frames and the light curve
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("night"), std::filesystem::directory_iterator()), 4);

    // Without time stamps, a container's creation time places the frames the rate times.
    if (!ZubSynthWriteVideo(SmallVideo(false), "plain.avi", EZubSynthCodec::Mjpeg, error) ||
        std::system("ffmpeg -loglevel error -y -i plain.avi -c copy -metadata creation_time=2024-01-02T03:04:05.250000Z "
                    "dated.mkv") != 0)
        GTEST_SKIP() << "no ffmpeg program to write the video";
    EXPECT_TRUE(Contains(RunCli({"--json", "dated.mkv"}).out,
                         "\"time\":{\"start\":\"2024-01-02T03:04:05.250Z\",\"end\":\"2024-01-02T03:04:08.250Z\","
                         "\"seconds\":3.000,\"source\":\"creation time, frame rate\",\"frames_searched\":90}"));
#endif
}

// Ctrl-C or a logout during a parallel night: the children end with zubcli, nothing is left
// half written, and zubcli ends by the signal.
TEST_F(ZubCli, AnEndSignalEndsEveryVideoCleanly)
{
    SZubSynthOptions longer = SmallVideo(false);
    longer.iFrames = 3000;
    std::string error;
    ASSERT_TRUE(ZubSynthWriteSer(longer, "end1.ser", error)) << error;
    std::filesystem::copy_file("end1.ser", "end2.ser", std::filesystem::copy_options::overwrite_existing);
    std::filesystem::create_directories("endcsv");
    const pid_t cli = fork();
    if (cli == 0)
    {
        std::freopen("/dev/null", "w", stdout);
        execl(ZUBCLI_PATH, "zubcli", "--jobs", "2", "--csv", "endcsv", "end1.ser", "end2.ser", nullptr);
        _exit(127);
    }
    // Both children at work, then the signal.
    std::string children;
    for (int i = 0; i < 500 && std::count(children.begin(), children.end(), ' ') < 2; ++i)
    {
        usleep(10000);
        children = ZubReadText("/proc/" + std::to_string(cli) + "/task/" + std::to_string(cli) + "/children");
    }
    ASSERT_EQ(kill(cli, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(cli, &status, 0), cli);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    std::istringstream pids(children);
    int nChildren = 0;
    for (pid_t pid; pids >> pid; ++nChildren)
        EXPECT_NE(kill(pid, 0), 0) << "child " << pid << " outlived zubcli";
    EXPECT_EQ(nChildren, 2);
    EXPECT_TRUE(std::filesystem::is_empty("endcsv"));
}

// scripts/run adds its sample video only when no argument names a video, as zubcli reads
// them: an option's value is not one.
TEST_F(ZubCli, RunScriptTellsOptionValuesFromVideos)
{
    auto needsSample = [](const std::string& args) {
        const std::string command = "bash -c 'zubcli=\"" ZUBCLI_PATH "\"; . \"" ZUB_SOURCE_DIR
                                    "/scripts/run\" && needs_sample " + args + "'";
        return std::system(command.c_str()) == 0;
    };
    EXPECT_TRUE(needsSample("--set KIV_Algorithm.MinIncrBright=25"));
    EXPECT_TRUE(needsSample("--csv out.csv --channel red --quiet --jobs 2 --images pics"));
    EXPECT_FALSE(needsSample("--set KIV_Algorithm.MinIncrBright=25 night.ser"));
    EXPECT_FALSE(needsSample("--jobs 2 -- --odd-name.ser"));
    EXPECT_FALSE(needsSample("--csv")) << "zubcli reports the missing value";

    const SCliResult r = RunCli({"--list-videos", "--jobs", "2", "a.ser", "--", "-b.avi"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.ser\n-b.avi\n");
}

TEST_F(ZubCli, ListSettingsGivesEveryKeyInForceWithoutAVideo)
{
    const SCliResult r = RunCli({"--list-settings", "--set", "KIV_Algorithm.MinIncrBright=25"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\nKIV_Algorithm.MinIncrBright=25\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nSettings.ROIFactorBright=0.900\n")) << "no padding before a factor";
}

TEST_F(ZubCli, ImagesOfTheRunAreWrittenAsPng)
{
#ifndef ZUB_HAVE_FFMPEG
    GTEST_SKIP() << "PNG output needs the FFmpeg build";
#else
    const std::string video = Synth("flash.ser", true);
    SCliResult r = RunCli({"--quiet", "--images", "pics", video});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* suffix : {"-mean.png", "-mask.png", "-detection.png"})
    {
        const std::vector<uint8_t> png = ZubReadFile("pics/flash.ser" + std::string(suffix));
        ASSERT_GT(png.size(), 8u) << suffix;
        EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG") << suffix;
    }
    // Two videos of one name would share their pictures: refused before any run.
    std::filesystem::create_directories("other");
    std::filesystem::copy_file(video, "other/flash.ser", std::filesystem::copy_options::overwrite_existing);
    r = RunCli({"--quiet", "--images", "pics", video, "other/flash.ser"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
#endif
}
