#include "zubcliapp.h"

#include "zubapp.h"
#include "zubclijobs.h"
#include "zubclijson.h"
#include "zubdataframes.h"
#include "zubdoc.h"
#include "zubendsignals.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubpictures.h"
#include "zubreport.h"
#include "zubview.h"
#ifdef ZUB_HAVE_FFMPEG
#include "zubffmpeg.h"
#include "zubpng.h"
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef ZUB_VERSION
#define ZUB_VERSION "0.0"
#endif

namespace
{
namespace fs = std::filesystem;

const char kUsage[] =
    "Usage: zubcli [options] [--] VIDEO...\n"
    "Searches planetary videos for impact flashes and lists the candidates.\n"
    "\n"
    "  --set Section.Key=Value   override a saved parameter (repeatable), for example\n"
    "                            --set KIV_Algorithm.MinIncrBright=25\n"
    "  --channel gray|red|green|blue   channel reduced to monochrome (gray)\n"
    "  --simulate                paint the Simulation section's impact into the frames\n"
    "  --csv PATH                write the frames data: a file for one video, a folder\n"
    "                            (one VIDEO.csv each, made when missing) for several; an\n"
    "                            existing file is replaced only when it is an earlier\n"
    "                            frames-data CSV\n"
    "  --images DIR              write VIDEO-mean.png, VIDEO-mask.png and VIDEO-detection.png\n"
    "                            (the detection image, candidates circled and numbered)\n"
    "  --report DIR              write DIR/index.html, one page with every video's time\n"
    "                            covered, detection limit and candidates (frames, light\n"
    "                            curve, detection image), and its pictures\n"
    "  --jobs N                  videos processed at once (the number of cores)\n"
    "  --json                    one JSON object per video on stdout, nothing else there\n"
    "  --log                     the log lines too (settings, phases)\n"
    "  --quiet                   only the summary\n"
    "  --timing                  after each video: time and frames per second of every\n"
    "                            pass, the whole run and the video's peak memory\n"
    "  --list-videos             print the arguments that are videos, one a line, and stop\n"
    "  --list-settings           print every parameter as Section.Key=Value, the values in\n"
    "                            force after the settings file and --set, and stop\n"
    "  --help, --version         print this help or the version, and stop\n"
    "  --                        the end of the options: every argument after it is a video\n"
    "\n"
    "Parameters come from the settings file (man zubcli says where); zubcli never writes it.\n"
    "Exit status: 0 every video processed, 1 a video failed, 2 usage error.\n";

struct SOptions
{
    std::vector<std::string> videos;
    std::vector<std::string> sets;
    int nChannel = 0;
    int nJobs = 0;  // 0: the number of cores
    bool bSimulate = false;
    bool bListVideos = false;
    bool bListSettings = false;
    bool bQuiet = false;
    bool bLog = false;
    bool bJson = false;
    bool bTiming = false;
    std::string csv;
    std::string images;
    std::string report;
};

const char* const kChannelNames[] = {"gray", "red", "green", "blue"};

int UsageError(const std::string& what)
{
    std::fflush(stdout);
    std::fprintf(stderr, "zubcli: %s (zubcli --help for usage)\n", what.c_str());
    return 2;
}

bool ParseChannel(const std::string& name, int& channel)
{
    for (int i = 0; i < 4; ++i)
        if (name == kChannelNames[i])
            return channel = i, true;
    return false;
}

bool ParseJobs(const std::string& text, int& jobs)
{
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, jobs);
    return error == std::errc() && end == last && jobs >= 1;
}

// One option with its value, if it takes one. 0 to go on, else the exit status (help and
// version: -1).
int ParseOption(int argc, char** argv, int& i, SOptions& o)
{
    const std::string arg = argv[i];
    std::string v;
    auto value = [&] {
        if (i + 1 >= argc)
            return false;
        v = argv[++i];
        return !v.empty();
    };
    if (arg == "--help" || arg == "-h")
        return std::fputs(kUsage, stdout), -1;
    if (arg == "--version")
        return std::printf("zubcli %s\n", ZUB_VERSION), -1;
    if (arg == "--simulate")
        o.bSimulate = true;
    else if (arg == "--list-videos")
        o.bListVideos = true;
    else if (arg == "--list-settings")
        o.bListSettings = true;
    else if (arg == "--quiet" || arg == "-q")
        o.bQuiet = true;
    else if (arg == "--log")
        o.bLog = true;
    else if (arg == "--json")
        o.bJson = true;
    else if (arg == "--timing")
        o.bTiming = true;
    else if (arg == "--set")
    {
        if (!value())
            return UsageError("--set needs Section.Key=Value");
        o.sets.push_back(v);
    }
    else if (arg == "--channel")
    {
        if (!value() || !ParseChannel(v, o.nChannel))
            return UsageError("--channel takes gray, red, green or blue");
    }
    else if (arg == "--csv")
    {
        if (!value())
            return UsageError("--csv needs a path");
        o.csv = v;
    }
    else if (arg == "--images")
    {
        if (!value())
            return UsageError("--images needs a folder");
        o.images = v;
    }
    else if (arg == "--report")
    {
        if (!value())
            return UsageError("--report needs a folder");
        o.report = v;
    }
    else if (arg == "--jobs" || arg == "-j")
    {
        if (!value() || !ParseJobs(v, o.nJobs))
            return UsageError("--jobs takes a number of videos, 1 or more");
    }
    else
        return UsageError("unknown option " + arg);
    return 0;
}

int ParseArguments(int argc, char** argv, SOptions& o)
{
    bool bOptions = true;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (bOptions && arg == "--")
            bOptions = false;
        else if (bOptions && arg.size() > 1 && arg[0] == '-')
        {
            if (const int status = ParseOption(argc, argv, i, o))
                return status;
        }
        else
            o.videos.push_back(arg);
    }
    if (o.bListVideos)
    {
        // For scripts that add a video of their own when none is given.
        for (const std::string& video : o.videos)
            std::printf("%s\n", video.c_str());
        return -1;
    }
    if (o.videos.empty() && !o.bListSettings)
        return UsageError("no video given");
    return 0;
}

int ApplyOverrides(const SOptions& o)
{
    CZubApp& app = ZubApp();
    for (const std::string& set : o.sets)
    {
        const size_t dot = set.find('.');
        const size_t eq = set.find('=');
        if (dot == std::string::npos || eq == std::string::npos || eq < dot)
            return UsageError("--set " + set + ": expected Section.Key=Value");
        std::string error;
        if (!app.SetParam(set.substr(0, dot), set.substr(dot + 1, eq - dot - 1), set.substr(eq + 1), error))
            return UsageError("--set " + set + ": " + error);
    }
    app.m_params.ProcessAuto = true;
    app.m_params.ProcessAutoChannel = o.nChannel;
    if (o.bSimulate)
        app.m_params.Simulation = true;
    return 0;
}

// ---- Output paths, checked before the first video ---------------------------------------------

std::string CsvPathFor(const SOptions& o, const std::string& video)
{
    std::error_code ec;
    if (o.videos.size() == 1 && !fs::is_directory(o.csv, ec))
        return o.csv;
    return (fs::path(o.csv) / fs::path(video).filename()).string() + ".csv";
}

// One file: the same existing file (links included), or the same absolute, normal path.
bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (fs::equivalent(a, b, ec))
        return true;
    const fs::path pa = fs::weakly_canonical(fs::absolute(a, ec), ec);
    const fs::path pb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return !ec && pa == pb;
}

// Why the frames data must not be written over `path`, or "" when nothing of value is lost:
// no file yet, an empty file, or an earlier frames-data CSV (the header is its first line).
std::string CsvOverwriteRefusal(const std::string& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        return {};
    if (!fs::is_regular_file(status))
        return "is not a regular file";
    if (fs::file_size(path, ec) == 0 && !ec)
        return {};
    std::string header = ZubFramesCsvHeader();
    std::ifstream in(path, std::ios::binary);
    std::string head(header.size() + 1, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    header.pop_back();  // its line feed: either ending of the first line will do
    if (head.rfind(header + "\n", 0) == 0 || head.rfind(header + "\r", 0) == 0)
        return {};
    return "exists and is not a frames-data CSV";
}

// Why `folder` cannot take a new file, or "". A file is made and removed: permission bits
// say nothing for root, nor for read-only or special file systems.
std::string FolderRefusal(const std::string& folder)
{
    std::string probe = folder + "/.zubcli-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

// Why a file cannot be written at `path`, or "": its folder must exist and take files, and
// an existing file must open for writing (it is not changed here).
std::string WriteRefusal(const std::string& path)
{
    std::error_code ec;
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, ec))
        return "cannot be written: there is no folder " + folder.string();
    if (const std::string why = FolderRefusal(folder.string()); !why.empty())
        return "cannot be written: " + why + " in " + folder.string();
    if (fs::exists(path, ec))
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return "cannot be written: " + std::string(std::strerror(errno));
        ::close(fd);
    }
    return {};
}

int OutputError(const std::string& what)
{
    std::fprintf(stderr, "zubcli: %s\n", what.c_str());
    return 2;
}

// Makes `folder` when it is missing; why it cannot be a folder, or "".
std::string EnsureFolder(const std::string& folder)
{
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
        return "not a folder";
    if (!fs::exists(folder, ec) && !fs::create_directories(folder, ec))
        return "cannot make the folder: " + ec.message();
    return {};
}

// A folder for the CSVs of several videos, made when it is missing.
int PrepareCsvFolder(const std::string& folder)
{
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
        return UsageError("--csv must name a folder when several videos are given");
    if (const std::string why = EnsureFolder(folder); !why.empty())
        return OutputError("--csv " + folder + ": " + why);
    return 0;
}

// Checks every CSV path before any video is processed: it can be written, and it overwrites
// no input, no file other than a frames-data CSV, and no other video's CSV.
int CheckCsvOutputs(const SOptions& o)
{
    if (o.csv.empty())
        return 0;
    if (o.videos.size() > 1)
        if (const int status = PrepareCsvFolder(o.csv))
            return status;
    std::vector<std::string> outputs;
    for (const std::string& video : o.videos)
    {
        const std::string path = CsvPathFor(o, video);
        for (const std::string& input : o.videos)
            if (SameFile(path, input))
                return OutputError("--csv " + path + " is the input " + input + ": not overwritten");
        for (size_t k = 0; k < outputs.size(); ++k)
            if (SameFile(path, outputs[k]))
                return OutputError(o.videos[k] + " and " + video + " would both write " + path);
        std::string refusal = CsvOverwriteRefusal(path);
        if (refusal.empty())
            refusal = WriteRefusal(path);
        if (!refusal.empty())
            return OutputError("--csv " + path + " " + refusal + (refusal[0] == 'c' ? "" : ": not overwritten"));
        outputs.push_back(path);
    }
    return 0;
}

// The pictures of every video go into one folder, made before the first video: two videos
// of one name would share them, and a folder that cannot take them stops the run at once.
int CheckPictureFolder(const SOptions& o, const std::string& folder, const char* option)
{
    if (folder.empty())
        return 0;
#ifndef ZUB_HAVE_FFMPEG
    return UsageError(std::string(option) + " needs the FFmpeg build (PNG output)");
#else
    std::vector<std::string> names;
    for (const std::string& video : o.videos)
        names.push_back(fs::path(video).filename().string());
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice != names.end())
        return UsageError(std::string(option) + ": two videos named " + *twice + " would write the same pictures");
    if (const std::string why = EnsureFolder(folder); !why.empty())
        return OutputError(std::string(option) + " " + folder + ": " + why);
    if (const std::string why = FolderRefusal(folder); !why.empty())
        return OutputError(std::string(option) + " " + folder + ": cannot be written: " + why);
    return 0;
#endif
}

#ifdef ZUB_HAVE_FFMPEG
bool WritePng(const std::string& path, const SZubPicture& picture, std::string& error)
{
    return ZubWritePng(path, picture.pixels.data(), picture.iWidth, picture.iHeight, picture.iChannels, error);
}
#endif

// Writes the video's part of the report and its pictures; the reason when they could not be
// written. Its run may be in a child: the page is made once every video is done.
std::string WriteReportPart(const SOptions& o, const std::string& video, const CZubDoc* doc, const std::string& failure)
{
    SZubReportVideo part;
    std::string error;
#ifdef ZUB_HAVE_FFMPEG
    if (doc && !ZubReportVideo(*doc, o.report, WritePng, part, error))
        return "cannot write the report's pictures: " + error;
#endif
    part.name = fs::path(video).filename().string();
    part.failure = doc ? "" : failure;
    if (!ZubSaveReportPart(o.report, part, error))
        return "cannot write the report: " + error;
    return {};
}

// The page over every video's part, in the order given.
int WriteReport(const SOptions& o, int status)
{
    std::vector<SZubReportVideo> videos;
    for (const std::string& video : o.videos)
        videos.push_back(ZubTakeReportPart(o.report, fs::path(video).filename().string()));
    std::string error;
    if (!ZubWriteReportPage(o.report, videos, error))
    {
        std::fprintf(stderr, "zubcli: cannot write %s/index.html: %s\n", o.report.c_str(), error.c_str());
        return 1;
    }
    if (!o.bQuiet && !o.bJson)
        std::fprintf(stderr, "zubcli: report in %s/index.html\n", o.report.c_str());
    return status;
}

// Writes the run's pictures into the folder; the reason when one could not be written.
std::string WritePictures(const std::string& folder, const std::string& video, const CZubDoc& doc)
{
#ifdef ZUB_HAVE_FFMPEG
    const std::string stem = (fs::path(folder) / fs::path(video).filename()).string();
    const std::pair<const char*, SZubPicture> pictures[] = {{"-mean.png", ZubMeanPicture(doc)},
                                                             {"-mask.png", ZubMaskPicture(doc)},
                                                             {"-detection.png", ZubDetectionPicture(doc)}};
    for (const auto& [suffix, picture] : pictures)
    {
        std::string error;
        if (picture.Empty())
            continue;
        if (!ZubWritePng(stem + suffix, picture.pixels.data(), picture.iWidth, picture.iHeight, picture.iChannels,
                         error))
            return error;
    }
#else
    (void)folder, (void)video, (void)doc;
#endif
    return {};
}

// ---- One video --------------------------------------------------------------------------------

const char* PhaseName(int phase)
{
    static const char* const kNames[] = {"", "ROI", "mean frame", "impact", "results"};
    return phase >= 0 && phase <= 4 ? kNames[phase] : "";
}

// The view of a run: starts SER passes at once, reports the start of the run, and draws a
// progress bar on stderr when it is a terminal.
class CCliView : public CZubView
{
public:
    CCliView(CZubDoc& doc, bool bProgress) : CZubView(doc), m_bTerminal(bProgress && isatty(STDERR_FILENO) == 1)
    {
        m_nSerStartDelayMs = 0;  // no window to settle
    }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_PHASES_ARM && m_onRunStart)
            m_onRunStart();
        return CZubView::WindowProc(msg, wParam, lParam);
    }

    void ClearProgress()
    {
        if (m_bShown)
            std::fputs("\r\033[K", stderr);
        m_bShown = false;
    }

    std::function<void()> m_onRunStart;

protected:
    void OnFieldsChanged(bool, bool) override
    {
        if (!m_bTerminal)
            return;
        using Clock = std::chrono::steady_clock;
        const int phase = GetDocument().m_nPhase;
        const Clock::time_point now = Clock::now();
        if (phase != m_nPhase || m_nFrameNumber < m_nLastFrame)
        {
            m_nPhase = phase;
            m_phaseStart = now;
        }
        m_nLastFrame = m_nFrameNumber;
        if (now - m_lastDraw < std::chrono::milliseconds(100) || phase == PHASE_IDLE)
            return;
        m_lastDraw = now;
        const double seconds = std::chrono::duration<double>(now - m_phaseStart).count();
        const double fps = seconds > 0 ? m_nFrameNumber / seconds : 0.0;
        const int64_t total = PhaseFrames(phase);
        const int width = 30;
        const int filled = total > 0 ? static_cast<int>(width * std::min<int64_t>(m_nFrameNumber, total) / total) : 0;
        std::fprintf(stderr, "\r\033[K%-10s [%s%s] %d / %lld  %.0f fps", PhaseName(phase),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(width - filled), ' ').c_str(), m_nFrameNumber,
                     static_cast<long long>(total), fps);
        m_bShown = true;
    }

private:
    // Frames the phase reads before it ends.
    int64_t PhaseFrames(int phase)
    {
        const CZubDoc& doc = GetDocument();
        if (phase == PHASE_ROI)
            return doc.m_nRoiFrames;
        if (phase == PHASE_AVG)
            return doc.m_nAvgFrames;
        return doc.m_llFrames;
    }

    bool m_bTerminal;
    bool m_bShown = false;
    int m_nPhase = -1;
    int m_nLastFrame = 0;
    std::chrono::steady_clock::time_point m_phaseStart;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// Times every pass from its "Init fase" line to its "End fase" line.
class CPassTimer
{
public:
    using Clock = std::chrono::steady_clock;
    struct SPass
    {
        const char* name;
        int frames;
        double seconds;
    };

    void Start() { m_runStart = Clock::now(); m_passes.clear(); }
    void OnLine(const std::string& line, int framesRead)
    {
        if (line.rfind("Init fase: ", 0) == 0)
            m_passStart = Clock::now();
        else if (const char* name = PassOfEndLine(line))
            m_passes.push_back({name, framesRead, Seconds(m_passStart)});
    }
    void Stop() { m_runSeconds = Seconds(m_runStart); }
    double RunSeconds() const { return m_runSeconds; }
    const std::vector<SPass>& Passes() const { return m_passes; }

private:
    static double Seconds(Clock::time_point since)
    {
        return std::chrono::duration<double>(Clock::now() - since).count();
    }
    static const char* PassOfEndLine(const std::string& line)
    {
        static const char* const kEnds[][2] = {{"End fase: Compute ROI.", "roi"},
                                               {"End fase: Compute AVG.", "mean"},
                                               {"End fase: Find IMPACT.", "impact"},
                                               {"End fase: RESULTS.", "results"}};
        for (const auto& end : kEnds)
            if (line == end[0])
                return end[1];
        return nullptr;
    }

    Clock::time_point m_runStart;
    Clock::time_point m_passStart;
    double m_runSeconds = 0.0;
    std::vector<SPass> m_passes;
};

// The process's peak resident memory in MB: one video's, as every video of several runs in
// a process of its own.
double PeakMemoryMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Detections left after the duplicate rejection; the list keeps the strongest 15 of them.
int DetectionCount(const CZubDoc& doc)
{
    int count = 0;
    const int64_t processed = std::min<int64_t>(doc.m_nProcessed, doc.RecordCount());
    for (int n = 1; n <= processed; ++n)
    {
        const CZubCandidate& r = *doc.Record(n);
        count += (r.m_iKivState == ZUB_STATE_CANDIDATE) + (r.m_iZubState == ZUB_STATE_CANDIDATE);
    }
    return std::max(count, doc.CandidateCount());
}

std::string CandidateUtc(const CZubDoc& doc, const CZubImpact& impact)
{
    return doc.m_bSer ? doc.m_pSer->FormatFrameUtc(impact.m_iFrame - 1) : "";
}

void PrintSummary(const std::string& video, const CZubDoc& doc)
{
    const int count = doc.CandidateCount();
    const int detections = DetectionCount(doc);
    if (count == 0)
        std::printf("%s: no candidate\n", video.c_str());
    else if (detections > count)
        std::printf("%s: %d detections, the %d strongest listed\n", video.c_str(), detections, count);
    else
        std::printf("%s: %d candidate%s\n", video.c_str(), count, count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i)
    {
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
        const SZubPoint at = ZubPicturePosition(doc, impact);
        std::printf("  #%-2d frame %5d  at (%+4d, %+4d) from the planet's centre  %s  increase %3d", i + 1,
                    impact.m_iFrame, at.x, at.y, ZubAlgorithmText(impact.m_iAlgorithm),
                    ZubDetectionIncrease(doc, impact));
        const std::string utc = CandidateUtc(doc, impact);
        if (!utc.empty())
            std::printf("  %s UTC", utc.c_str());
        std::printf("\n");
    }
    std::printf("  covers %s\n", ZubTimeCoveredText(ZubTimeCovered(doc)).c_str());
    std::printf("  detection limit %s\n", ZubDetectionLimitText(ZubDocDetectionLimit(doc)).c_str());
}

void PrintTiming(const CPassTimer& timer)
{
    for (const CPassTimer::SPass& pass : timer.Passes())
        std::printf("  pass %-10s %6d frames in %8.3f s, %8.1f fps\n", pass.name, pass.frames, pass.seconds,
                    pass.seconds > 0 ? pass.frames / pass.seconds : 0.0);
    std::printf("  run %.3f s, peak memory %.1f MB\n", timer.RunSeconds(), PeakMemoryMb());
}

int FramesPerSecond(const CZubDoc& doc)
{
    return doc.m_llAvgTimePerFrame != 0 ? static_cast<int>(10000000.0 / doc.m_llAvgTimePerFrame + 0.5) : 0;
}

// "VIDEO: 640 x 480, 2000 frames, SER 8-bit mono" and the like, once the facts are read.
void PrintHeader(const std::string& video, const CZubDoc& doc)
{
    std::printf("%s: %s\n", video.c_str(), ZubVideoFacts(doc).c_str());
    std::fflush(stdout);
}

std::string JsonFacts(const CZubDoc& doc)
{
    CZubJsonObject facts;
    facts.Add("format", doc.m_bSer ? "SER" : "media");
    facts.Add("width", static_cast<int>(doc.m_bih.biWidth)).Add("height", static_cast<int>(doc.m_bih.biHeight));
    facts.Add("frames", static_cast<int64_t>(doc.m_llFrames));
    if (const int fps = FramesPerSecond(doc))
        facts.Add("frames_per_second", fps);
    else
        facts.AddNull("frames_per_second");
    if (doc.m_bSer)
    {
        facts.Add("bits_per_sample", static_cast<int>(doc.m_pSer->PixelDepthPerPlane));
        facts.Add("color", doc.m_pSer->ColorText());
        facts.Add("time_stamps", doc.m_pSer->HasTimeStamps());
    }
    return facts.Text();
}

// Every parameter that differs from its default, as run (ProcessAuto is zubcli's own way).
std::string JsonSettings(const SOptions& o)
{
    CZubJsonObject settings;
    for (const SZubParamText& param : ZubApp().ChangedParams())
    {
        if (param.name == "Settings.ProcessAuto")
            continue;
        std::string number = param.value;
        number.erase(0, number.find_first_not_of(' '));
        if (param.bText)
            settings.Add(param.name, param.value);
        else  // JSON has no infinity nor NaN (a factor may be set to either)
            settings.AddRaw(param.name, std::isfinite(ZubParseFactor(number)) ? number : "null");
    }
    if (o.nChannel != 0)
        settings.Add("channel", kChannelNames[o.nChannel]);
    return settings.Text();
}

std::string JsonCandidates(const CZubDoc& doc)
{
    std::string list = "[";
    for (int i = 0; i < doc.CandidateCount(); ++i)
    {
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
        const SZubPoint at = ZubPicturePosition(doc, impact);
        CZubJsonObject c;
        c.Add("number", i + 1).Add("frame", impact.m_iFrame).Add("x", at.x).Add("y", at.y);
        c.Add("algorithm", ZubAlgorithmText(impact.m_iAlgorithm)).Add("increase", ZubDetectionIncrease(doc, impact));
        std::string utc = CandidateUtc(doc, impact);
        if (utc.size() > 10)
        {
            utc[10] = 'T';  // ISO 8601: "YYYY-MM-DDTHH:MM:SS.mmmZ"
            c.Add("utc", utc + 'Z');
        }
        else
            c.AddNull("utc");
        if (i > 0)
            list += ',';
        list += c.Text();
    }
    return list + "]";
}

std::string JsonTime(const CZubDoc& doc)
{
    const SZubTimeCovered time = ZubTimeCovered(doc);
    CZubJsonObject json;
    for (const auto& [key, utc] : {std::pair{"start", time.start}, std::pair{"end", time.end}})
        if (utc.size() > 10)
            json.Add(key, utc.substr(0, 10) + "T" + utc.substr(11) + "Z");
        else
            json.AddNull(key);
    if (time.seconds >= 0.0)
        json.Add("seconds", time.seconds, 3);
    else
        json.AddNull("seconds");
    json.Add("source", time.source).Add("frames_searched", time.framesSearched);
    return json.Text();
}

std::string JsonLimit(const CZubDoc& doc)
{
    const SZubDetectionLimit limit = ZubDocDetectionLimit(doc);
    if (!limit.bKnown)
        return "null";
    CZubJsonObject json;
    json.Add("peak", limit.peak, 2).Add("percent_of_disc", limit.percentOfDisc, 2);
    json.Add("magnitude", limit.magnitude, 2).Add("searched_share", limit.searchedShare, 3);
    return json.Text();
}

std::string JsonPasses(const CPassTimer& timer)
{
    CZubJsonObject passes;
    for (const CPassTimer::SPass& pass : timer.Passes())
    {
        CZubJsonObject p;
        p.Add("frames", pass.frames).Add("seconds", pass.seconds, 3);
        passes.AddRaw(pass.name, p.Text());
    }
    return passes.Text();
}

struct SVideoResult
{
    bool bRan = false;  // the run reached its end of the impact pass
    std::string failure;
};

std::string JsonVideo(const SOptions& o, const std::string& video, const CZubDoc& doc, const CPassTimer& timer,
                      const SVideoResult& result)
{
    CZubJsonObject json;
    json.Add("file", video);
    if (result.bRan)
    {
        json.AddRaw("facts", JsonFacts(doc)).AddRaw("settings", JsonSettings(o));
        json.AddRaw("time", JsonTime(doc)).AddRaw("detection_limit", JsonLimit(doc));
        json.Add("run_seconds", timer.RunSeconds(), 3).AddRaw("passes", JsonPasses(timer));
        json.Add("peak_memory_mb", PeakMemoryMb(), 1);
        json.Add("detections", DetectionCount(doc)).AddRaw("candidates", JsonCandidates(doc));
    }
    if (!result.failure.empty())
        json.Add("error", result.failure);
    return json.Text();
}

// Why a path cannot be processed at all, or "".
std::string InputRefusal(const std::string& video)
{
    std::error_code ec;
    const fs::file_status status = fs::status(video, ec);
    if (!fs::exists(status))
        return "no such file";
    if (fs::is_directory(status))
        return "is a folder, not a video";
    if (!fs::is_regular_file(status))
        return "is not a regular file";
    if (::access(video.c_str(), R_OK) != 0)
        return std::string("cannot be read: ") + std::strerror(errno);
    return {};
}

// One line, whatever the box held.
std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// Runs one video through the document on the process's application object.
class CVideoRun
{
public:
    CVideoRun(const SOptions& o, const std::string& video, bool bReadAheadThread = true)
        : m_o(o), m_video(video), m_view(m_doc, !o.bQuiet)
    {
        m_doc.m_bReadAheadThread = bReadAheadThread;
        m_shell.m_bWindows = false;
        m_shell.m_bPrintBoxes = false;
        ZubApp().SetShell(&m_shell);
#ifdef ZUB_HAVE_FFMPEG
        m_doc.SetMediaFactory(CZubFfmpegSource::Factory());
#endif
    }
    ~CVideoRun()
    {
        m_doc.OnCloseDocument();
        ZubApp().SetShell(nullptr);
        ZubApp().m_log.SetView(nullptr);
    }

    // Processes the video and prints what the options ask for; 0 done, 1 failed.
    int Run()
    {
        const SVideoResult result = Process();
        m_view.ClearProgress();
        if (m_o.bJson)
            std::printf("%s\n", JsonVideo(m_o, m_video, m_doc, m_timer, result).c_str());
        else if (result.bRan)
        {
            PrintSummary(m_video, m_doc);
            if (m_o.bTiming)
                PrintTiming(m_timer);
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
        {
            std::fprintf(stderr, "zubcli: %s: cannot write the results: %s\n", m_video.c_str(), std::strerror(errno));
            return 1;
        }
        if (result.failure.empty())
            return 0;
        std::fprintf(stderr, "zubcli: %s: %s\n", m_video.c_str(), result.failure.c_str());
        return 1;
    }

private:
    SVideoResult Process()
    {
        SVideoResult result;
        if (std::string refusal = InputRefusal(m_video); !refusal.empty())
        {
            if (!m_o.report.empty())
                WriteReportPart(m_o, m_video, nullptr, refusal);
            return {false, refusal};
        }
        bool bImpactDone = false;
        m_timer.Start();
        FILE* logStream = m_o.bJson ? stderr : stdout;
        m_shell.m_consoleSink = [&](const std::string& line) {
            bImpactDone = bImpactDone || line == "End fase: Find IMPACT.";
            m_timer.OnLine(line, m_doc.m_nFrame);
            if (m_o.bLog && !m_o.bQuiet)
            {
                m_view.ClearProgress();
                std::fprintf(logStream, "%s\n", line.c_str());
            }
        };
        m_view.m_onRunStart = [this] {
            if (!m_o.bQuiet && !m_o.bJson)
                PrintHeader(m_video, m_doc);
        };
        if (m_doc.OnOpenDocument(m_video))
            m_doc.RunUntilIdle();
        m_timer.Stop();
        m_shell.m_consoleSink = nullptr;
        result.bRan = bImpactDone;
        if (!bImpactDone)
        {
            result.failure = m_shell.m_messageBoxes.empty() ? "the run did not complete"
                                                            : OneLine(m_shell.m_messageBoxes.back());
            if (!m_o.report.empty())
                WriteReportPart(m_o, m_video, nullptr, result.failure);
        }
        else
            result.failure = WriteOutputs();
        return result;
    }

    // The files the options ask for, and what the run could not keep; "" when all is well.
    std::string WriteOutputs()
    {
        if (m_doc.m_pCandidates)
            if (const std::string error = m_doc.m_pCandidates->StorageError(); !error.empty())
                return "could not keep the candidates' data: " + error;
        if (!m_o.images.empty())
            if (std::string failure = WritePictures(m_o.images, m_video, m_doc); !failure.empty())
                return failure;
        if (!m_o.csv.empty())
        {
            const std::string path = CsvPathFor(m_o, m_video);
            std::string reason;
            if (!ZubWriteFramesCsv(path, m_doc.m_pFrameData.data(), m_doc.RecordCount(), nullptr, &reason))
                return "cannot write " + path + ": " + reason;
        }
        if (!m_o.report.empty())
            return WriteReportPart(m_o, m_video, &m_doc, {});
        return {};
    }

    const SOptions& m_o;
    const std::string& m_video;
    // The process's message loop, installed before the document and view exist and removed
    // after them.
    struct SLoop
    {
        SLoop() { ZubSetMessageLoop(&loop); }
        ~SLoop() { ZubSetMessageLoop(nullptr); }
        CZubHeadlessLoop loop;
    };

    SLoop m_loop;
    CZubHeadlessShell m_shell;
    CZubDoc m_doc;
    CCliView m_view;
    CPassTimer m_timer;
};

int Cores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int JobsFor(const SOptions& o)
{
    const int wanted = std::min<int>(o.nJobs > 0 ? o.nJobs : Cores(), static_cast<int>(o.videos.size()));
    // The log file and the Test options' pictures have fixed names: two runs at once would
    // write into each other's.
    const SZubParams& p = ZubApp().m_params;
    if (wanted > 1 && (p.LogProcess || p.SaveAvgFrame || p.SaveIntermediateFrames || p.LogDetailsFrames))
    {
        if (!o.bQuiet)
            std::fprintf(stderr, "zubcli: the Test options write the log and pictures under fixed names: one video at a time\n");
        return 1;
    }
    return wanted;
}

// Collects the log's console lines while no view runs.
class CLogCollector : public CZubWnd
{
public:
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM lParam) override
    {
        if (msg == WM_LOG_CONSOLE)
            m_lines.emplace_back(reinterpret_cast<const char*>(lParam));
        return 0;
    }
    std::vector<std::string> m_lines;
};

// Reads the settings, applies the overrides, checks the output paths and dumps the values in
// force to the log (printed with --log). Nothing is printed before a usage error.
int PrepareParameters(const SOptions& o)
{
    CZubApp& app = ZubApp();
    CLogCollector log;
    app.m_log.SetView(&log);
    app.ReadAllParamsQuietly();
    int status = ApplyOverrides(o);
    if (status == 0)
        status = CheckCsvOutputs(o);
    if (status == 0)
        status = CheckPictureFolder(o, o.images, "--images");
    if (status == 0)
        status = CheckPictureFolder(o, o.report, "--report");
    if (status == 0)
    {
        app.m_bSilent = app.m_params.SilentMode;
        app.DumpAllParams();
    }
    app.m_log.SetView(nullptr);
    if (status == 0 && o.bLog && !o.bQuiet)
        for (const std::string& line : log.m_lines)
            std::fprintf(o.bJson ? stderr : stdout, "%s\n", line.c_str());
    return status;
}

// The keys --set takes (for shell completion and the manual), each with its value in force.
int ListSettings()
{
    for (const SZubParamText& param : ZubApp().AllParams())
    {
        // Factors come padded ("%7.3f"); a value to paste after --set has no blanks before it.
        const size_t start = param.bText ? 0 : param.value.find_first_not_of(' ');
        std::printf("%s=%s\n", param.name.c_str(), param.value.c_str() + std::min(start, param.value.size()));
    }
    return 0;
}
}  // namespace

int ZubCliMain(int argc, char** argv)
{
    ZubEndAtSignals();
    SOptions options;
    if (const int status = ParseArguments(argc, argv, options))
        return status < 0 ? 0 : status;
    if (const int status = PrepareParameters(options))
        return status;
    if (options.bListSettings)
        return ListSettings();
    std::fflush(stdout);
    if (options.videos.size() == 1)
    {
        const int status = CVideoRun(options, options.videos[0]).Run();
        return options.report.empty() ? status : WriteReport(options, status);
    }

    // Several videos: each in a child process of its own.
    SZubCliJobs jobs;
    jobs.nTasks = static_cast<int>(options.videos.size());
    jobs.nJobs = JobsFor(options);
    // With a pass on every core, a second thread per pass only adds switching.
    const bool bReadAheadThread = jobs.nJobs < Cores();
    jobs.task = [&options, bReadAheadThread](int i) {
        return CVideoRun(options, options.videos[static_cast<size_t>(i)], bReadAheadThread).Run();
    };
    jobs.crashLine = [&options](int i, const std::string& why) {
        return "zubcli: " + options.videos[static_cast<size_t>(i)] + ": " + why;
    };
    jobs.bProgress = jobs.nJobs > 1 && !options.bQuiet && isatty(STDERR_FILENO) == 1;
    const int status = ZubRunJobs(jobs);
    return options.report.empty() ? status : WriteReport(options, status);
}
