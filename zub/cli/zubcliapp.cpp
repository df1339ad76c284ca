#include "zubcliapp.h"

#include "zubapp.h"
#include "zubdataframes.h"
#include "zubdoc.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubpictures.h"
#include "zubview.h"
#ifdef ZUB_HAVE_FFMPEG
#include "zubffmpeg.h"
#include "zubpng.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifndef ZUB_VERSION
#define ZUB_VERSION "0.0"
#endif

namespace
{
const char kUsage[] =
    "Usage: zubcli [options] VIDEO...\n"
    "Searches planetary videos for impact flashes and lists the candidates.\n"
    "\n"
    "  --set Section.Key=Value   override a saved parameter (repeatable), for example\n"
    "                            --set KIV_Algorithm.MinIncrBright=25\n"
    "  --channel gray|red|green|blue   channel reduced to monochrome (gray)\n"
    "  --simulate                paint the Simulation section's impact into the frames\n"
    "  --csv PATH                write the frames data: a file for one video, a folder\n"
    "                            (one VIDEO.csv each) for several; an existing file is\n"
    "                            replaced only when it is an earlier frames-data CSV\n"
    "  --images DIR              write VIDEO-mean.png, VIDEO-mask.png and VIDEO-detection.png\n"
    "                            (the detection image, candidates circled and numbered)\n"
    "  --quiet                   no log lines, only the summary\n"
    "  --timing                  after each video: time and frames per second of every\n"
    "                            pass, the whole run and the peak memory\n"
    "  --help, --version\n"
    "\n"
    "Parameters come from the settings file (see README); zubcli never writes it.\n"
    "Exit status: 0 every video processed, 1 a video failed, 2 usage error.\n";

struct SOptions
{
    std::vector<std::string> videos;
    std::vector<std::string> sets;
    int nChannel = 0;
    bool bSimulate = false;
    bool bQuiet = false;
    bool bTiming = false;
    std::string csv;
    std::string images;
};

int UsageError(const std::string& what)
{
    std::fprintf(stderr, "zubcli: %s\n(zubcli --help for usage)\n", what.c_str());
    return 2;
}

bool ParseChannel(const std::string& name, int& channel)
{
    static const char* const kNames[] = {"gray", "red", "green", "blue"};
    for (int i = 0; i < 4; ++i)
        if (name == kNames[i])
            return channel = i, true;
    return false;
}

// The pictures of every video go into one folder: two videos of one name would share them.
int CheckImages(const SOptions& o)
{
    if (o.images.empty())
        return 0;
#ifndef ZUB_HAVE_FFMPEG
    return UsageError("--images needs the FFmpeg build (PNG output)");
#else
    std::vector<std::string> names;
    for (const std::string& video : o.videos)
        names.push_back(std::filesystem::path(video).filename().string());
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice != names.end())
        return UsageError("--images: two videos named " + *twice + " would write the same pictures");
    return 0;
#endif
}

// Writes the run's pictures into the folder; the reason when one could not be written.
std::string WritePictures(const std::string& folder, const std::string& video, const CZubDoc& doc)
{
#ifdef ZUB_HAVE_FFMPEG
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder, ec);
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

// 0 to go on, else the exit status (help, version, usage error).
int ParseArguments(int argc, char** argv, SOptions& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h")
            return std::fputs(kUsage, stdout), -1;
        if (arg == "--version")
            return std::printf("zubcli %s\n", ZUB_VERSION), -1;
        if (arg == "--simulate")
            o.bSimulate = true;
        else if (arg == "--quiet" || arg == "-q")
            o.bQuiet = true;
        else if (arg == "--timing")
            o.bTiming = true;
        else if (arg == "--set")
        {
            if (!value(v))
                return UsageError("--set needs Section.Key=Value");
            o.sets.push_back(v);
        }
        else if (arg == "--channel")
        {
            if (!value(v) || !ParseChannel(v, o.nChannel))
                return UsageError("--channel takes gray, red, green or blue");
        }
        else if (arg == "--images")
        {
            if (!value(o.images) || o.images.empty())
                return UsageError("--images needs a folder");
        }
        else if (arg == "--csv")
        {
            if (!value(o.csv) || o.csv.empty())
                return UsageError("--csv needs a path");
        }
        else if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option " + arg);
        else
            o.videos.push_back(arg);
    }
    if (o.videos.empty())
        return UsageError("no video given");
    return CheckImages(o);
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

const char* PhaseName(int phase)
{
    static const char* const kNames[] = {"", "ROI", "mean frame", "impact", "results"};
    return phase >= 0 && phase <= 4 ? kNames[phase] : "";
}

// Shows a progress bar on stderr when it is a terminal.
class CCliView : public CZubView
{
public:
    CCliView(CZubDoc& doc) : CZubView(doc), m_bTerminal(isatty(STDERR_FILENO) == 1) {}

    void ClearProgress()
    {
        if (m_bShown)
            std::fputs("\r\033[K", stderr);
        m_bShown = false;
    }

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

// What the detector saw: the brightness increase of the detection over its frame's level.
int DetectionIncrease(const CZubDoc& doc, const CZubImpact& impact)
{
    const CZubCandidate* record = doc.Record(impact.m_iFrame);
    if (!record)
        return 0;
    return (impact.m_iAlgorithm == 1 ? record->m_iKivValue : record->m_iZubValue) - record->m_iLevel;
}

// The candidate's position from the planet's centre as the picture is read: x to the right,
// y downward. SER frames hold their top line first, decoded media frames their bottom line.
// The centre of mass is truncated toward row 0: upward in a SER picture, downward in a
// decoded one; one row up makes both truncate the same way.
SZubPoint PicturePosition(const CZubDoc& doc, const CZubImpact& impact)
{
    return {impact.m_ptRel.x, doc.m_bSer ? impact.m_ptRel.y : 1 - impact.m_ptRel.y};
}

void PrintSummary(const std::string& video, const CZubDoc& doc)
{
    const int count = doc.CandidateCount();
    if (count == 0)
    {
        std::printf("%s: no candidate\n", video.c_str());
        return;
    }
    std::printf("%s: %d candidate%s\n", video.c_str(), count, count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i)
    {
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
        const SZubPoint at = PicturePosition(doc, impact);
        std::printf("  #%-2d frame %5d  at (%+4d, %+4d) from the planet's centre  %s  increase %3d", i + 1,
                    impact.m_iFrame, at.x, at.y, ZubAlgorithmText(impact.m_iAlgorithm),
                    DetectionIncrease(doc, impact));
        const std::string utc = doc.m_bSer ? doc.m_pSer->FormatFrameUtc(impact.m_iFrame - 1) : "";
        if (!utc.empty())
            std::printf("  %s UTC", utc.c_str());
        std::printf("\n");
    }
}

// Times every pass from its "Init fase" line to its "End fase" line.
class CPassTimer
{
public:
    using Clock = std::chrono::steady_clock;

    void Start() { m_runStart = Clock::now(); m_passes.clear(); }
    void OnLine(const std::string& line, int framesRead)
    {
        if (line.rfind("Init fase: ", 0) == 0)
            m_passStart = Clock::now();
        else if (const char* name = PassOfEndLine(line))
            m_passes.push_back({name, framesRead, Seconds(m_passStart)});
    }
    void Print() const
    {
        for (const SPass& pass : m_passes)
            std::printf("  pass %-10s %6d frames in %8.3f s, %8.1f fps\n", pass.name, pass.frames,
                        pass.seconds, pass.seconds > 0 ? pass.frames / pass.seconds : 0.0);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("  run %.3f s, peak memory %.1f MB\n", Seconds(m_runStart), usage.ru_maxrss / 1024.0);
    }

private:
    struct SPass
    {
        const char* name;
        int frames;
        double seconds;
    };
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
    std::vector<SPass> m_passes;
};

std::string CsvPathFor(const SOptions& o, const std::string& video)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (o.videos.size() == 1 && !fs::is_directory(o.csv, ec))
        return o.csv;
    return (fs::path(o.csv) / fs::path(video).filename()).string() + ".csv";
}

// One file: the same existing file (links included), or the same absolute, normal path.
bool SameFile(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
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
    namespace fs = std::filesystem;
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

int OutputError(const std::string& what)
{
    std::fprintf(stderr, "zubcli: %s\n", what.c_str());
    return 2;
}

// Checks every CSV path before any video is processed: it overwrites no input, no file other
// than a frames-data CSV, and no other video's CSV.
int CheckCsvOutputs(const SOptions& o)
{
    if (o.csv.empty())
        return 0;
    if (o.videos.size() > 1 && !std::filesystem::is_directory(o.csv))
        return UsageError("--csv must name a folder when several videos are given");
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
        const std::string refusal = CsvOverwriteRefusal(path);
        if (!refusal.empty())
            return OutputError("--csv " + path + " " + refusal + ": not overwritten");
        outputs.push_back(path);
    }
    return 0;
}

// Runs one video; an empty string when it was processed, else the reason it failed.
std::string ProcessVideo(const SOptions& o, const std::string& video, CZubHeadlessShell& shell, CCliView& view)
{
    CZubDoc& doc = view.GetDocument();
    const size_t boxesBefore = shell.m_messageBoxes.size();
    bool bImpactDone = false;
    CPassTimer timer;
    timer.Start();
    shell.m_consoleSink = [&](const std::string& line) {
        bImpactDone = bImpactDone || line == "End fase: Find IMPACT.";
        timer.OnLine(line, doc.m_nFrame);
        if (!o.bQuiet)
        {
            view.ClearProgress();
            std::printf("%s\n", line.c_str());
        }
    };
    if (!doc.OnOpenDocument(video))
        return "cannot open " + video;
    doc.RunUntilIdle();
    view.ClearProgress();
    std::fflush(stdout);
    if (!bImpactDone)
    {
        if (shell.m_messageBoxes.size() > boxesBefore)
            return shell.m_messageBoxes.back();
        return "the run did not complete";
    }
    PrintSummary(video, doc);
    if (o.bTiming)
        timer.Print();
    if (!o.images.empty())
    {
        const std::string failure = WritePictures(o.images, video, doc);
        if (!failure.empty())
            return failure;
    }
    if (!o.csv.empty())
    {
        const std::string path = CsvPathFor(o, video);
        if (!ZubWriteFramesCsv(path, doc.m_pFrameData.data(), doc.RecordCount()))
            return "cannot write " + path;
    }
    return {};
}
}  // namespace

int ZubCliMain(int argc, char** argv)
{
    SOptions options;
    if (const int status = ParseArguments(argc, argv, options))
        return status < 0 ? 0 : status;
    if (const int status = CheckCsvOutputs(options))
        return status;

    CZubApp& app = ZubApp();
    CZubHeadlessLoop loop;
    ZubSetMessageLoop(&loop);
    CZubHeadlessShell shell;
    shell.m_bWindows = false;
    app.SetShell(&shell);
    CZubDoc doc;
#ifdef ZUB_HAVE_FFMPEG
    doc.SetMediaFactory(CZubFfmpegSource::Factory());
#endif
    CCliView view(doc);

    // The saved parameters are read (and dumped to the log) but never written back.
    shell.m_consoleSink = [&](const std::string& line) {
        if (!options.bQuiet)
            std::printf("%s\n", line.c_str());
    };
    app.InitInstance();
    int status = ApplyOverrides(options);

    for (size_t i = 0; status != 2 && i < options.videos.size(); ++i)
    {
        const std::string failure = ProcessVideo(options, options.videos[i], shell, view);
        if (!failure.empty())
        {
            std::fprintf(stderr, "zubcli: %s: %s\n", options.videos[i].c_str(), failure.c_str());
            status = 1;
        }
    }
    shell.m_consoleSink = nullptr;  // nothing after the summaries
    doc.OnCloseDocument();
    app.SetShell(nullptr);
    app.m_log.SetView(nullptr);
    ZubSetMessageLoop(nullptr);
    return status;
}
