// zubsynth: writes a synthetic planetary video: SER, or AVI, MPEG and WMV through ffmpeg.
#include "zubsynth.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char kUsage[] =
    "Usage: zubsynth [options] OUTPUT\n"
    "Writes a synthetic planetary video: an oblate banded disc on a dark sky with drift,\n"
    "seeing jitter, noise, optional flashes and what real captures carry (hot pixels,\n"
    "cosmic rays, clouds, moons, shadows, a turning surface, rings, a Bayer mosaic).\n"
    "The same options give the same frames.\n"
    "The format follows the extension of OUTPUT:\n"
    "  .ser                      SER, written directly\n"
    "  .avi                      AVI, --codec raw (24-bit), gray (8-bit) or mjpeg (default)\n"
    "  .mpg, .mpeg               MPEG program stream, --codec mpeg1 (default) or mpeg2\n"
    "  .m2v                      MPEG-2 elementary stream\n"
    "  .wmv                      Windows Media Video 8\n"
    "AVI, MPEG and WMV are encoded by the ffmpeg program on the PATH, 8 bits per sample.\n"
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
    "  --centre X,Y              the disc's centre in frame 1 (the frame's centre)\n"
    "  --flash F,D,DX,DY,PEAK    flash from frame F for D frames at (DX,DY) from the disc\n"
    "                            centre with peak brightness PEAK (8-bit scale); repeatable\n"
    "  --hot-pixels N            N hot, warm and stuck pixels, fixed on the sensor\n"
    "  --cosmic RATE             cosmic-ray hits per frame on average, one frame each\n"
    "  --cloud F,D,DEPTH         dims the picture from frame F for D frames by up to DEPTH\n"
    "                            (0.2: 20 %); repeatable\n"
    "  --moon F,D,X0,Y0,X1,Y1,R,BRIGHTNESS\n"
    "                            a disc of radius R moving from (X0,Y0) to (X1,Y1) from the\n"
    "                            disc centre over frames F..F+D-1, at BRIGHTNESS (8-bit\n"
    "                            scale); a negative BRIGHTNESS is a shadow darkening the\n"
    "                            planet by that much; repeatable\n"
    "  --rotation PX             ovals and festoons turning with the surface, PX pixels per\n"
    "                            frame at the centre (0: bands only)\n"
    "  --rings                   a tilted ring system around the disc\n"
    "  --bayer                   raw RGGB Bayer mosaic, one sample per pixel (SER only,\n"
    "                            not with --color)\n"
    "  --no-timestamps           leave out the trailer of frame times (SER)\n"
    "  --fps F                   frame rate (30; MPEG: the nearest standard rate)\n"
    "  --codec NAME              raw, gray, mjpeg (.avi); mpeg1, mpeg2 (.mpg)\n"
    "  --flip                    bottom row first (a raw AVI then decodes to the rows\n"
    "                            of the unflipped SER)\n";

enum class EFormat
{
    Ser,
    Video,
    Unknown,
};

std::string Extension(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The format and codec for the output's extension and the --codec name (empty: the
// extension's default). False with the reason when they do not go together.
bool ChooseFormat(const std::string& path, const std::string& codecName, EFormat& format,
                  EZubSynthCodec& codec, std::string& error)
{
    struct SChoice
    {
        const char* ext;
        const char* codecName;  // "" the default of the extension
        EFormat format;
        EZubSynthCodec codec;
    };
    static const SChoice kChoices[] = {
        {"ser", "", EFormat::Ser, EZubSynthCodec::RawGray},
        {"avi", "", EFormat::Video, EZubSynthCodec::Mjpeg},
        {"avi", "mjpeg", EFormat::Video, EZubSynthCodec::Mjpeg},
        {"avi", "raw", EFormat::Video, EZubSynthCodec::RawBgr24},
        {"avi", "gray", EFormat::Video, EZubSynthCodec::RawGray},
        {"mpg", "", EFormat::Video, EZubSynthCodec::Mpeg1},
        {"mpg", "mpeg1", EFormat::Video, EZubSynthCodec::Mpeg1},
        {"mpg", "mpeg2", EFormat::Video, EZubSynthCodec::Mpeg2},
        {"mpeg", "", EFormat::Video, EZubSynthCodec::Mpeg1},
        {"mpeg", "mpeg1", EFormat::Video, EZubSynthCodec::Mpeg1},
        {"mpeg", "mpeg2", EFormat::Video, EZubSynthCodec::Mpeg2},
        {"m2v", "", EFormat::Video, EZubSynthCodec::Mpeg2},
        {"m2v", "mpeg2", EFormat::Video, EZubSynthCodec::Mpeg2},
        {"wmv", "", EFormat::Video, EZubSynthCodec::Wmv},
    };
    const std::string ext = Extension(path);
    bool bKnownExtension = false;
    for (const SChoice& c : kChoices)
    {
        if (ext != c.ext)
            continue;
        bKnownExtension = true;
        if (codecName == c.codecName)
        {
            format = c.format;
            codec = c.codec;
            return true;
        }
    }
    error = bKnownExtension ? "codec " + codecName + " does not go with ." + ext
                            : "the output must end in .ser, .avi, .mpg, .mpeg, .m2v or .wmv";
    return false;
}

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

// A frame number or count given as a number; out-of-range values stay out of range.
int Whole(double v)
{
    return std::isnan(v) ? -1 : static_cast<int>(std::clamp(v, -1e9, 1e9));
}

SZubSynthFlash FlashFrom(const std::vector<double>& v)
{
    SZubSynthFlash f;
    f.iFrame = Whole(v[0]);
    f.iDuration = Whole(v[1]);
    f.dx = v[2];
    f.dy = v[3];
    f.peak = v[4];
    return f;
}

SZubSynthMoon MoonFrom(const std::vector<double>& v)
{
    SZubSynthMoon m;
    m.iFrame = Whole(v[0]);
    m.iDuration = Whole(v[1]);
    m.x0 = v[2], m.y0 = v[3];
    m.x1 = v[4], m.y1 = v[5];
    m.radius = v[6];
    m.brightness = v[7];
    return m;
}

void PrintFlash(const SZubSynthFlash& f)
{
    if (f.iFrame > 0)
        std::printf(", flash at frame %d for %d frames at (%+.1f, %+.1f)", f.iFrame, f.iDuration, f.dx, f.dy);
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
    std::string codecName;
    std::vector<double> v;
    int flashes = 0;
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
        else if (arg == "--flip")
            o.bFlipVertical = true;
        else if (arg == "--rings")
            o.bRings = true;
        else if (arg == "--bayer")
            o.bBayer = true;
        else if (arg == "--hot-pixels")
            ok = takeInt(o.iHotPixels);
        else if (arg == "--codec")
        {
            ++i;
            ok = value != nullptr;
            if (ok)
                codecName = value;
        }
        else if (arg == "--fps")
        {
            ok = takeNumbers(1) && v[0] > 0.0;
            if (ok)
                o.fps = v[0];
        }
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
        else if (arg == "--radius" || arg == "--noise" || arg == "--jitter" || arg == "--cosmic" ||
                 arg == "--rotation")
        {
            ok = takeNumbers(1);
            double& target = arg == "--radius"   ? o.radius
                             : arg == "--noise"  ? o.noise
                             : arg == "--jitter" ? o.jitter
                             : arg == "--cosmic" ? o.cosmicRate
                                                 : o.rotation;
            if (ok)
                target = v[0];
        }
        else if (arg == "--drift" || arg == "--centre")
        {
            ok = takeNumbers(2);
            if (ok && arg == "--drift")
                o.driftX = v[0], o.driftY = v[1];
            else if (ok)
                o.startX = v[0], o.startY = v[1];
        }
        else if (arg == "--flash")
        {
            // The first is the options' flash, the others come after it.
            ok = takeNumbers(5);
            if (ok && flashes++ == 0)
                o.flash = FlashFrom(v);
            else if (ok)
                o.moreFlashes.push_back(FlashFrom(v));
        }
        else if (arg == "--cloud")
        {
            ok = takeNumbers(3);
            if (ok)
                o.clouds.push_back({Whole(v[0]), Whole(v[1]), v[2]});
        }
        else if (arg == "--moon")
        {
            ok = takeNumbers(8);
            if (ok)
                o.moons.push_back(MoonFrom(v));
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
    EFormat format = EFormat::Unknown;
    EZubSynthCodec codec = EZubSynthCodec::Mjpeg;
    if (!ChooseFormat(output, codecName, format, codec, error))
        return UsageError(error);
    const bool ok = format == EFormat::Ser ? ZubSynthWriteSer(o, output, error)
                                           : ZubSynthWriteVideo(o, output, codec, error);
    if (!ok)
    {
        std::fprintf(stderr, "zubsynth: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %d x %d, %d frames, %d bits, %s", output.c_str(), o.iWidth, o.iHeight,
                o.iFrames, o.iDepth, o.bColor ? "RGB" : o.bBayer ? "Bayer RGGB" : "mono");
    PrintFlash(o.flash);
    for (const SZubSynthFlash& f : o.moreFlashes)
        PrintFlash(f);
    std::printf("\n");
    return 0;
}
