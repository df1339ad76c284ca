#include "zubsynth.h"
#include "zubsynthscene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <numbers>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zubsynth;

namespace
{
constexpr int kHeaderSize = 178;
constexpr int64_t kTicksAtUnixEpoch = 621355968000000000LL;
constexpr int kNoiseTableSize = 1 << 16;

void PutLE32(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(u >> (8 * i));
}

void PutLE64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(uint8_t* p, const char* text, size_t field)
{
    std::memcpy(p, text, std::min(std::strlen(text), field));
}

std::vector<uint8_t> Header(const SZubSynthOptions& o)
{
    std::vector<uint8_t> h(kHeaderSize, 0);
    std::memcpy(h.data(), "LUCAM-RECORDER", 14);
    PutLE32(&h[18], o.bColor ? 100 : o.bBayer ? 8 : 0);  // RGB, RGGB mosaic, mono
    PutLE32(&h[22], 0);
    PutLE32(&h[26], o.iWidth);
    PutLE32(&h[30], o.iHeight);
    PutLE32(&h[34], o.iDepth);
    PutLE32(&h[38], o.iFrames);
    PutText(&h[42], "zubsynth", 40);
    PutText(&h[82], "synthetic camera", 40);
    PutText(&h[122], "synthetic telescope", 40);
    return h;
}

// Renders the frames of a video one after another, top row first, in the SER sample
// layout: planes interleaved (RGB), two bytes per sample (LSB first) above 8 bits. Each row
// is the planet's light (a double per pixel) with what lies on it, then samples with sky,
// clouds and noise, then the sensor's defects.
class CFrameRenderer
{
public:
    explicit CFrameRenderer(const SZubSynthOptions& o)
        : m_o(o), m_planes(o.bColor ? 3 : 1), m_bytes(o.iDepth > 8 ? 2 : 1),
          m_scale(o.iDepth > 8 ? ((1 << std::min(o.iDepth, 16)) - 1) / 255.0 : 1.0),
          m_maxSample(o.iDepth > 8 ? (1 << std::min(o.iDepth, 16)) - 1 : 255),
          m_row(static_cast<size_t>(o.iWidth) * m_planes * m_bytes), m_signal(o.iWidth),
          m_planet(o, o.radius > 0.0 ? o.radius : 0.3 * std::min(o.iWidth, o.iHeight)),
          m_defects(o, m_scale, m_maxSample), m_rnd(o.seed)
    {
        CRandom rnd(o.seed ^ 0x5a5a5a5aULL);
        m_noise.resize(kNoiseTableSize);
        for (float& n : m_noise)
            n = static_cast<float>(rnd.Gaussian() * o.noise);
    }

    size_t RowBytes() const { return m_row.size(); }

    // Renders the next frame (1-based n, called in order), handing each row to `onRow`.
    template <class FRow>
    void Render(int n, FRow&& onRow)
    {
        double cx = 0.0, cy = 0.0;
        ZubSynthCentre(m_o, n, cx, cy);
        m_planet.Turn(n);
        LightFlashes(m_o, n, cx, cy, m_flashes);
        PlaceCrossingDiscs(m_o, n, cx, cy, m_discs);
        m_defects.StartFrame(n);
        const double transparency = Transparency(m_o, n);
        const int icx = static_cast<int>(std::lround(cx));
        const int icy = static_cast<int>(std::lround(cy));
        uint32_t noiseIndex = static_cast<uint32_t>(m_rnd.Next());
        for (int y = 0; y < m_o.iHeight; ++y)
        {
            PlanetRow(y - icy, icx);
            DrawCrossingDiscs(m_discs, y, m_signal.data(), m_o.iWidth);
            AddFlashes(m_flashes, y, m_signal.data(), m_o.iWidth);
            ToSamples(y, transparency, noiseIndex);
            m_defects.ApplyRow(y, m_row.data(), m_planes, m_bytes);
            onRow(y, m_row.data());
        }
    }

private:
    // The planet's row dy from its centre, shifted to the centre's column.
    void PlanetRow(int dy, int icx)
    {
        std::fill(m_signal.begin(), m_signal.end(), 0.0);
        const float* planet = m_planet.Row(dy);
        if (!planet)
            return;
        const int half = m_planet.HalfWidth();
        const int first = std::max(0, icx - half);
        const int last = std::min(m_o.iWidth - 1, icx + half);
        for (int x = first; x <= last; ++x)
            m_signal[x] = planet[x - icx + half];
    }

    void ToSamples(int y, double transparency, uint32_t& noiseIndex)
    {
        static const double kTint[3] = {1.0, 0.92, 0.78};  // red, green, blue
        // Mono samples are untinted; a mosaic's take the colour of their filter, the rows of
        // the written file alternating red-green and green-blue.
        double tintOfColumn[2] = {1.0, 1.0};
        if (m_o.bBayer)
        {
            const bool bBlueRow = (m_o.bFlipVertical ? m_o.iHeight - 1 - y : y) & 1;
            tintOfColumn[0] = kTint[bBlueRow ? 1 : 0];
            tintOfColumn[1] = kTint[bBlueRow ? 2 : 1];
        }
        uint8_t* out = m_row.data();
        for (int x = 0; x < m_o.iWidth; ++x)
        {
            const double v = m_signal[x];
            for (int p = 0; p < m_planes; ++p)
            {
                noiseIndex = noiseIndex * 1664525u + 1013904223u;
                const double tint = m_planes == 3 ? kTint[p] : tintOfColumn[x & 1];
                const double s = ((m_o.sky + v * tint) * transparency + m_noise[noiseIndex >> 16]) * m_scale;
                const int sample = std::clamp(static_cast<int>(std::lround(s)), 0, m_maxSample);
                *out++ = static_cast<uint8_t>(sample);
                if (m_bytes == 2)
                    *out++ = static_cast<uint8_t>(sample >> 8);
            }
        }
    }

    const SZubSynthOptions& m_o;
    int m_planes;
    int m_bytes;
    double m_scale;
    int m_maxSample;
    std::vector<uint8_t> m_row;
    std::vector<double> m_signal;
    std::vector<float> m_noise;
    CPlanet m_planet;
    CSensorDefects m_defects;
    std::vector<SLitFlash> m_flashes;
    std::vector<SCrossingDisc> m_discs;
    CRandom m_rnd;
};

// Renders frame n into `frame`, each row converted by `convert` into outRowBytes bytes,
// bottom row first when the options flip.
template <class FConvert>
void RenderFrame(CFrameRenderer& renderer, const SZubSynthOptions& o, int n, size_t outRowBytes,
                 FConvert&& convert, std::vector<uint8_t>& frame)
{
    frame.resize(outRowBytes * o.iHeight);
    renderer.Render(n, [&](int y, const uint8_t* row) {
        const int line = o.bFlipVertical ? o.iHeight - 1 - y : y;
        convert(row, frame.data() + outRowBytes * line);
    });
}

// What is wrong with a flash, a cloud or a moon; nullptr when nothing.
const char* Problem(const SZubSynthFlash& f)
{
    if (f.iFrame <= 0)
        return nullptr;
    if (f.iDuration < 1)
        return "a flash lasts at least one frame";
    return f.sigma > 0.0 && std::isfinite(f.dx) && std::isfinite(f.dy) && std::isfinite(f.peak)
               ? nullptr
               : "a flash needs a finite place and peak and a sigma above 0";
}

const char* Problem(const SZubSynthCloud& c)
{
    if (c.iDuration < 1)
        return "a cloud lasts at least one frame";
    return c.depth >= 0.0 && c.depth <= 1.0 ? nullptr : "a cloud's depth must be 0 to 1";
}

const char* Problem(const SZubSynthMoon& m)
{
    if (m.iDuration < 1)
        return "a moon's path lasts at least one frame";
    const bool bFinite = std::isfinite(m.x0) && std::isfinite(m.y0) && std::isfinite(m.x1) &&
                         std::isfinite(m.y1) && std::isfinite(m.brightness);
    return bFinite && m.radius > 0.0 && m.radius < 1e5 ? nullptr
                                                       : "a moon needs a finite path and brightness and a radius above 0";
}

template <class T>
const char* FirstProblem(const std::vector<T>& items)
{
    for (const T& item : items)
        if (const char* problem = Problem(item))
            return problem;
    return nullptr;
}

// NaN (the frame's centre) or within reach of the frame.
bool IsStart(double v)
{
    return std::isnan(v) || std::abs(v) < 1e6;
}

const char* Problem(const SZubSynthOptions& o)
{
    if (o.iWidth < 8 || o.iHeight < 8 || o.iWidth > 16384 || o.iHeight > 16384)
        return "width and height must be 8 to 16384";
    if (o.iFrames < 1)
        return "at least one frame is needed";
    if (o.iDepth < 8 || o.iDepth > 16)
        return "depth must be 8 to 16 bits";
    if (const char* problem = Problem(o.flash))
        return problem;
    if (const char* problem = FirstProblem(o.moreFlashes))
        return problem;
    if (const char* problem = FirstProblem(o.clouds))
        return problem;
    if (const char* problem = FirstProblem(o.moons))
        return problem;
    if (o.iHotPixels < 0 || o.iHotPixels > o.iWidth * o.iHeight)
        return "hot pixels must be 0 to the number of pixels";
    if (!(o.cosmicRate >= 0.0 && o.cosmicRate <= 1000.0))
        return "cosmic rays must be 0 to 1000 per frame";
    if (!std::isfinite(o.rotation))
        return "the rotation must be a finite number";
    if (!IsStart(o.startX) || !IsStart(o.startY))
        return "the start centre must lie within a million pixels";
    if (o.bBayer && o.bColor)
        return "a Bayer mosaic has one sample per pixel: not with colour";
    return nullptr;
}

bool CheckOptions(const SZubSynthOptions& o, std::string& error)
{
    const char* problem = Problem(o);
    if (problem)
        error = problem;
    return !problem;
}

struct SFileCloser
{
    void operator()(FILE* f) const { std::fclose(f); }
};
}  // namespace

void ZubSynthCentre(const SZubSynthOptions& o, int frame, double& x, double& y)
{
    // The jitter of frame n depends on the seed and n alone.
    CRandom rnd(o.seed * 1000003ULL + static_cast<uint64_t>(frame));
    const double x1 = std::isnan(o.startX) ? o.iWidth / 2.0 : o.startX;
    const double y1 = std::isnan(o.startY) ? o.iHeight / 2.0 : o.startY;
    x = x1 + o.driftX * (frame - 1) + rnd.Gaussian() * o.jitter;
    y = y1 + o.driftY * (frame - 1) + rnd.Gaussian() * o.jitter;
}

bool ZubSynthWriteSer(const SZubSynthOptions& o, const std::string& path, std::string& error)
{
    if (!CheckOptions(o, error))
        return false;
    std::unique_ptr<FILE, SFileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f)
    {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::vector<uint8_t> header = Header(o);
    bool ok = std::fwrite(header.data(), 1, header.size(), f.get()) == header.size();

    CFrameRenderer renderer(o);
    const size_t rowBytes = renderer.RowBytes();
    std::vector<uint8_t> frame;
    for (int n = 1; ok && n <= o.iFrames; ++n)
    {
        RenderFrame(renderer, o, n, rowBytes, [&](const uint8_t* in, uint8_t* out) { std::memcpy(out, in, rowBytes); }, frame);
        ok = std::fwrite(frame.data(), 1, frame.size(), f.get()) == frame.size();
    }
    for (int n = 0; ok && o.bTimeStamps && n < o.iFrames; ++n)
    {
        uint8_t stamp[8];
        const int64_t ticks = kTicksAtUnixEpoch + o.startUnixSeconds * 10000000LL +
                              static_cast<int64_t>(std::llround(n * 1e7 / o.fps));
        PutLE64(stamp, static_cast<uint64_t>(ticks));
        ok = std::fwrite(stamp, 1, 8, f.get()) == 8;
    }
    ok = std::fflush(f.get()) == 0 && ok;
    if (!ok)
        error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

// ---- Videos through ffmpeg --------------------------------------------------------------

extern char** environ;

namespace
{
// The ffmpeg program encoding raw frames it reads on its standard input. The input is a
// socket rather than a pipe: a write to an encoder that died then fails with EPIPE
// instead of killing this process with SIGPIPE. Its messages go to an unnamed temporary
// file, so that its failure can be reported without a second reader thread.
class CEncoder
{
public:
    CEncoder() = default;
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;
    ~CEncoder()
    {
        std::string ignored;
        Finish(ignored);
        if (m_messages >= 0)
            close(m_messages);
    }

    bool Start(const std::vector<std::string>& args, std::string& error)
    {
        int sockets[2];
        char messagesName[] = "/tmp/zubsynth-ffmpeg.XXXXXX";
        m_messages = mkostemp(messagesName, O_CLOEXEC);
        if (m_messages >= 0)
            unlink(messagesName);
        if (m_messages < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        {
            error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
            return false;
        }
        m_input = sockets[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, m_messages, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int result = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(sockets[1]);
        if (result != 0)
        {
            m_pid = -1;
            error = std::string("cannot run ffmpeg: ") + std::strerror(result);
            return false;
        }
        return true;
    }

    bool Write(const uint8_t* data, size_t size)
    {
        while (size > 0)
        {
            const ssize_t sent = send(m_input, data, size, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<size_t>(sent);
        }
        return true;
    }

    // Ends the input and waits for ffmpeg; false with its exit status and first message
    // when it failed.
    bool Finish(std::string& error)
    {
        if (m_input >= 0)
            close(m_input);
        m_input = -1;
        if (m_pid < 0)
            return true;
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
        {
        }
        m_pid = -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return true;
        error = WIFEXITED(status) ? "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status))
                                  : "ffmpeg was killed by signal " + std::to_string(WTERMSIG(status));
        const std::string message = FirstMessage();
        if (!message.empty())
            error += ": " + message;
        return false;
    }

private:
    std::string FirstMessage() const
    {
        char text[512] = {};
        const ssize_t n = pread(m_messages, text, sizeof text - 1, 0);
        std::string line(text, n > 0 ? static_cast<size_t>(n) : 0);
        return line.substr(0, line.find('\n'));
    }

    pid_t m_pid = -1;
    int m_input = -1;
    int m_messages = -1;
};

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// MPEG-1 and MPEG-2 know only a few frame rates: the nearest one.
std::string MpegRate(double fps)
{
    static const struct
    {
        double fps;
        const char* text;
    } kRates[] = {{24000.0 / 1001, "24000/1001"}, {24, "24"}, {25, "25"},
                  {30000.0 / 1001, "30000/1001"}, {30, "30"}, {50, "50"},
                  {60000.0 / 1001, "60000/1001"}, {60, "60"}};
    const auto* best = &kRates[0];
    for (const auto& r : kRates)
        if (std::abs(r.fps - fps) < std::abs(best->fps - fps))
            best = &r;
    return best->text;
}

std::string Rate(double fps, EZubSynthCodec codec)
{
    if (codec == EZubSynthCodec::Mpeg1 || codec == EZubSynthCodec::Mpeg2)
        return MpegRate(fps);
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", fps);
    return text;
}

// The encoder's options and the container, after the input.
std::vector<std::string> OutputArgs(EZubSynthCodec codec, const std::string& path)
{
    switch (codec)
    {
    case EZubSynthCodec::RawBgr24:
        return {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-f", "avi"};
    case EZubSynthCodec::RawGray:
        return {"-c:v", "rawvideo", "-pix_fmt", "gray", "-f", "avi"};
    case EZubSynthCodec::Mjpeg:
        return {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-q:v", "2", "-f", "avi"};
    case EZubSynthCodec::Mpeg1:
        return {"-c:v", "mpeg1video", "-q:v", "2", "-f", "mpeg"};
    case EZubSynthCodec::Mpeg2:
        return {"-c:v", "mpeg2video", "-q:v", "2", "-f", EndsWith(path, ".m2v") ? "mpeg2video" : "vob"};
    case EZubSynthCodec::Wmv:
        return {"-c:v", "wmv2", "-q:v", "2", "-f", "asf"};
    }
    return {};
}

// The raw frames ffmpeg reads: 24-bit blue-green-red for the raw BGR24 AVI (so that ffmpeg
// stores them untouched), else the rendered samples as they are.
struct SInputFormat
{
    const char* pixFmt;
    int channels;
};

SInputFormat InputFormat(const SZubSynthOptions& o, EZubSynthCodec codec)
{
    if (codec == EZubSynthCodec::RawBgr24)
        return {"bgr24", 3};
    return o.bColor ? SInputFormat{"rgb24", 3} : SInputFormat{"gray", 1};
}

std::vector<std::string> EncoderArgs(const SZubSynthOptions& o, const std::string& path, EZubSynthCodec codec)
{
    std::vector<std::string> args = {"ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo",
                                     "-pix_fmt", InputFormat(o, codec).pixFmt,
                                     "-s", std::to_string(o.iWidth) + "x" + std::to_string(o.iHeight),
                                     "-framerate", Rate(o.fps, codec), "-i", "pipe:0", "-an"};
    const std::vector<std::string> output = OutputArgs(codec, path);
    args.insert(args.end(), output.begin(), output.end());
    args.push_back("file:" + path);  // never read as an option or a protocol
    return args;
}

// One rendered row into the encoder's input row.
void ConvertRow(const uint8_t* in, uint8_t* out, int width, bool bColor, bool bToBgr)
{
    if (!bToBgr)
        std::memcpy(out, in, static_cast<size_t>(width) * (bColor ? 3 : 1));
    else if (bColor)
        for (const uint8_t* end = in + 3 * width; in < end; in += 3, out += 3)
            out[0] = in[2], out[1] = in[1], out[2] = in[0];
    else
        for (const uint8_t* end = in + width; in < end; ++in, out += 3)
            out[0] = out[1] = out[2] = *in;
}
}  // namespace

bool ZubSynthWriteVideo(const SZubSynthOptions& o, const std::string& path, EZubSynthCodec codec,
                        std::string& error)
{
    if (!CheckOptions(o, error))
        return false;
    if (o.iDepth != 8)
    {
        error = "videos are written with 8 bits per sample";
        return false;
    }
    if (o.bBayer)
    {
        error = "a Bayer mosaic is written only as SER";
        return false;
    }
    if (!(o.fps > 0.0 && o.fps <= 1000.0))
    {
        error = "the frame rate must be above 0 and at most 1000";
        return false;
    }
    CEncoder encoder;
    if (!encoder.Start(EncoderArgs(o, path, codec), error))
        return false;

    const SInputFormat input = InputFormat(o, codec);
    const bool bToBgr = codec == EZubSynthCodec::RawBgr24;
    const size_t rowBytes = static_cast<size_t>(o.iWidth) * input.channels;
    CFrameRenderer renderer(o);
    std::vector<uint8_t> frame;
    bool ok = true;
    for (int n = 1; ok && n <= o.iFrames; ++n)
    {
        RenderFrame(renderer, o, n, rowBytes,
                    [&](const uint8_t* in, uint8_t* out) { ConvertRow(in, out, o.iWidth, o.bColor, bToBgr); }, frame);
        ok = encoder.Write(frame.data(), frame.size());
    }
    // A write fails when ffmpeg gave up; its own exit status says why.
    if (!encoder.Finish(error))
        return false;
    if (!ok)
        error = "cannot write to ffmpeg";
    return ok;
}
