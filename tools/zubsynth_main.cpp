// zubsynth: writes a synthetic planetary SER video.
#include "zubsynth.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: zubsynth [options] OUTPUT.ser\n"
    "Writes a synthetic planetary video: an oblate banded disc on a dark sky with drift,\n"
    "seeing jitter, noise and an optional flash. The same options give the same file.\n"
    "\n"
    "  --width N, --height N     frame size (640 x 480)\n"
    "  --frames N                number of frames (300)\n"
    "  --depth N                 bits per sample, 8 or 9..16 (8)\n"
    "  --color                   RGB frames instead of mono\n"
    "  --seed N                  random seed (1)\n"
    "  --radius R                equatorial radius in pixels (30 % of the smaller side)\n"
    "  --noise S                 noise sigma, 8-bit scale (2)\n"
    "  --drift DX,DY             drift in pixels per frame (0.02,0.01)\n"
    "  --jitter S                seeing jitter sigma in pixels (0.8)\n"
    "  --flash F,D,DX,DY,PEAK    flash from frame F for D frames at (DX,DY) from the disc\n"
    "                            centre with peak brightness PEAK (8-bit scale)\n"
    "  --no-timestamps           leave out the trailer of frame times\n";

bool ParseNumbers(const char* text, std::vector<double>& out, size_t count)
{
    out.clear();
    const char* p = text;
    while (*p)
    {
        char* end = nullptr;
        out.push_back(std::strtod(p, &end));
        if (end == p)
            return false;
        p = end;
        if (*p == ',')
            ++p;
        else if (*p)
            return false;
    }
    return out.size() == count;
}

bool ParseInt(const char* text, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end || v < -1000000000L || v > 1000000000L)
        return false;
    out = static_cast<int>(v);
    return true;
}

int UsageError(const std::string& what)
{
    std::fprintf(stderr, "zubsynth: %s\n%s", what.c_str(), kUsage);
    return 2;
}
}  // namespace

int main(int argc, char** argv)
{
    SZubSynthOptions o;
    std::string output;
    std::vector<double> v;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        // Options with a value consume the next argument.
        auto takeInt = [&](int& target) { ++i; return value && ParseInt(value, target); };
        auto takeNumbers = [&](size_t count) { ++i; return value && ParseNumbers(value, v, count); };
        if (arg == "--help" || arg == "-h")
        {
            std::fputs(kUsage, stdout);
            return 0;
        }
        else if (arg == "--color")
            o.bColor = true;
        else if (arg == "--no-timestamps")
            o.bTimeStamps = false;
        else if (arg == "--width")
            ok = takeInt(o.iWidth);
        else if (arg == "--height")
            ok = takeInt(o.iHeight);
        else if (arg == "--frames")
            ok = takeInt(o.iFrames);
        else if (arg == "--depth")
            ok = takeInt(o.iDepth);
        else if (arg == "--seed")
        {
            int seed = 0;
            ok = takeInt(seed);
            o.seed = static_cast<uint64_t>(seed);
        }
        else if (arg == "--radius" || arg == "--noise" || arg == "--jitter")
        {
            ok = takeNumbers(1);
            double& target = arg == "--radius" ? o.radius : arg == "--noise" ? o.noise : o.jitter;
            if (ok)
                target = v[0];
        }
        else if (arg == "--drift")
        {
            ok = takeNumbers(2);
            if (ok)
                o.driftX = v[0], o.driftY = v[1];
        }
        else if (arg == "--flash")
        {
            ok = takeNumbers(5);
            if (ok)
            {
                o.flash.iFrame = static_cast<int>(v[0]);
                o.flash.iDuration = static_cast<int>(v[1]);
                o.flash.dx = v[2];
                o.flash.dy = v[3];
                o.flash.peak = v[4];
            }
        }
        else if (!arg.empty() && arg[0] == '-')
            return UsageError("unknown option " + arg);
        else if (output.empty())
            output = arg;
        else
            return UsageError("only one output file");
        if (!ok)
            return UsageError("bad value for " + arg);
    }
    if (output.empty())
        return UsageError("no output file");

    std::string error;
    if (!ZubSynthWriteSer(o, output, error))
    {
        std::fprintf(stderr, "zubsynth: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d x %d, %d frames, %d bits, %s", output.c_str(), o.iWidth, o.iHeight,
                o.iFrames, o.iDepth, o.bColor ? "RGB" : "mono");
    if (o.flash.iFrame > 0)
        std::printf(", flash at frame %d for %d frames at (%+.1f, %+.1f)", o.flash.iFrame,
                    o.flash.iDuration, o.flash.dx, o.flash.dy);
    std::printf("\n");
    return 0;
}
