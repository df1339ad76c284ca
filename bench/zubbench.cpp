// Throughput of the processing run over a large synthetic SER file, headless: every pass
// and the whole run, against a plain read of the same frames with the SER reader.
// Prints figures only; it never fails on a slow result.
//
// Usage: zubbench [--frames N] [--size WxH] [--no-flash] [FILE.ser]
// Without FILE the video is written into a temporary folder and removed afterwards.
#include "zubapp.h"
#include "zubdoc.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubser.h"
#include "zubsynth.h"
#include "zubview.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

struct SBenchOptions
{
    int iWidth = 640;
    int iHeight = 480;
    int iFrames = 2000;
    bool bFlash = true;
    std::string csPath;  // empty: a temporary file
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

bool ParseArgs(int argc, char** argv, SBenchOptions& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc)
            o.iFrames = std::atoi(argv[++i]);
        else if (arg == "--size" && i + 1 < argc)
        {
            if (std::sscanf(argv[++i], "%dx%d", &o.iWidth, &o.iHeight) != 2)
                return false;
        }
        else if (arg == "--no-flash")
            o.bFlash = false;
        else if (!arg.empty() && arg[0] != '-' && o.csPath.empty())
            o.csPath = arg;
        else
            return false;
    }
    return o.iFrames > 0 && o.iWidth > 0 && o.iHeight > 0;
}

// The view of the run; notes when the first pass really starts, after its start timer.
class CBenchView : public CZubView
{
public:
    using CZubView::CZubView;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_TIMER && wParam == kSerStartTimer && !m_firstPassStart)
            m_firstPassStart = Clock::now();
        return CZubView::WindowProc(msg, wParam, lParam);
    }
    std::optional<Clock::time_point> m_firstPassStart;
};

// Ends the loop once the run is over.
class CIdleWatch : public CZubWnd
{
public:
    CIdleWatch(const CZubDoc& doc, IZubMessageLoop& loop) : m_doc(doc), m_loop(loop) {}
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM) override
    {
        if (msg == WM_TIMER && !m_doc.m_bRunning)
            m_loop.Quit(0);
        return 0;
    }

private:
    const CZubDoc& m_doc;
    IZubMessageLoop& m_loop;
};

// When each phase line was first logged, and when the last line was.
struct SPhaseMarks
{
    void Line(const std::string& line)
    {
        last = Clock::now();
        if (line.starts_with("Init fase:") || line.starts_with("End fase:"))
            marks.emplace(line, last);
    }
    std::optional<Clock::time_point> At(const std::string& line) const
    {
        const auto it = marks.find(line);
        return it == marks.end() ? std::nullopt : std::optional(it->second);
    }
    std::map<std::string, Clock::time_point> marks;
    Clock::time_point last;
};

void PrintRate(const char* what, int64_t frames, double seconds)
{
    std::printf("%-34s %6lld frames %8.3f s %9.1f fps\n", what, static_cast<long long>(frames), seconds,
                seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0);
}

void PrintPass(const SPhaseMarks& m, const char* what, int64_t frames,
               std::optional<Clock::time_point> from, const char* endLine)
{
    const std::optional<Clock::time_point> to = m.At(endLine);
    if (from && to)
        PrintRate(what, frames, Seconds(*to - *from));
    else
        std::printf("%-34s did not run\n", what);
}

// Reads every frame once with the SER reader: the floor of any pass.
void TimeRawRead(const std::string& path)
{
    CZubSer ser;
    const Clock::time_point start = Clock::now();
    if (!ser.Open(path))
    {
        std::printf("raw read: cannot open %s\n", path.c_str());
        return;
    }
    int64_t frames = 0;
    while (ser.ReadNextFrame())
        ++frames;
    PrintRate("raw read (SER reader)", frames, Seconds(Clock::now() - start));
}

void TimeRun(const std::string& path)
{
    CZubHeadlessLoop loop;
    ZubSetMessageLoop(&loop);
    CZubHeadlessShell shell;
    CZubApp& app = ZubApp();
    app.SetShell(&shell);
    app.m_params = SZubParams::Defaults();
    app.m_params.ProcessAuto = true;
    SPhaseMarks marks;
    shell.m_consoleSink = [&](const std::string& line) { marks.Line(line); };

    {
        CZubDoc doc;
        CBenchView view(doc);
        CIdleWatch watch(doc, loop);
        const Clock::time_point start = Clock::now();
        if (!doc.OnOpenDocument(path))
        {
            std::printf("cannot open %s\n", path.c_str());
            return;
        }
        watch.SetTimer(1, 5);
        loop.Run();
        watch.KillTimer(1);
        const Clock::time_point end = marks.last;

        PrintPass(marks, "pass 1 ROI", doc.m_nRoiFrames, view.m_firstPassStart, "End fase: Compute ROI.");
        PrintPass(marks, "pass 2 mean frame (and mask)", doc.m_nAvgFrames, marks.At("Init fase: Compute AVG."),
                  "End fase: Compute AVG.");
        PrintPass(marks, "pass 3 impact", doc.m_nProcessed, marks.At("Init fase: Find IMPACT."),
                  "End fase: Find IMPACT.");
        if (const auto impactEnd = marks.At("End fase: Find IMPACT."))
        {
            const auto detected = marks.At("Init fase: Get RESULTS.");
            std::printf("%-34s %6d found  %8.3f s\n", "detection", doc.CandidateCount(),
                        Seconds(detected.value_or(end) - *impactEnd));
        }
        PrintPass(marks, "pass 4 results", doc.m_llFrames, marks.At("Init fase: Get RESULTS."),
                  "End fase: RESULTS.");
        if (view.m_firstPassStart)
            PrintRate("whole run, after the start timer", doc.m_llFrames, Seconds(end - *view.m_firstPassStart));
        PrintRate("whole run, from open", doc.m_llFrames, Seconds(end - start));
        doc.OnCloseDocument();
    }
    app.SetShell(nullptr);
    ZubSetMessageLoop(nullptr);
}
}  // namespace

int main(int argc, char** argv)
{
    SBenchOptions o;
    if (!ParseArgs(argc, argv, o))
    {
        std::fprintf(stderr, "usage: zubbench [--frames N] [--size WxH] [--no-flash] [FILE.ser]\n");
        return 2;
    }
    // Settings are never read or written; the run uses the defaults.
    std::string tempDir;
    if (o.csPath.empty())
    {
        char pattern[] = "/tmp/zubbench.XXXXXX";
        if (!mkdtemp(pattern))
        {
            std::perror("zubbench: mkdtemp");
            return 1;
        }
        tempDir = pattern;
        o.csPath = tempDir + "/bench.ser";
    }

    SZubSynthOptions synth;
    synth.iWidth = o.iWidth;
    synth.iHeight = o.iHeight;
    synth.iFrames = o.iFrames;
    synth.seed = 7;
    if (o.bFlash)
    {
        synth.flash.iFrame = o.iFrames / 2;
        synth.flash.iDuration = 6;
        synth.flash.dx = 40;
        synth.flash.dy = -25;
        synth.flash.peak = 70;
    }
    const double megabytes = static_cast<double>(o.iWidth) * o.iHeight * o.iFrames / 1e6;
    std::printf("zubbench: %d x %d 8-bit mono SER, %d frames (%.1f MB)%s: %s\n", o.iWidth, o.iHeight, o.iFrames,
                megabytes, o.bFlash ? ", one flash" : "", o.csPath.c_str());
    std::string error;
    const Clock::time_point written = Clock::now();
    if (!ZubSynthWriteSer(synth, o.csPath, error))
    {
        std::fprintf(stderr, "zubbench: %s\n", error.c_str());
        return 1;
    }
    std::printf("%-34s %6d frames %8.3f s\n", "written by zubsynth", o.iFrames, Seconds(Clock::now() - written));

    // The first read brings the file into the page cache for all that follow.
    TimeRawRead(o.csPath);
    TimeRawRead(o.csPath);
    TimeRun(o.csPath);

    if (!tempDir.empty())
    {
        std::error_code ec;
        std::filesystem::remove_all(tempDir, ec);
    }
    return 0;
}
