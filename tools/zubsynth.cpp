#include "zubsynth.h"

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

namespace
{
constexpr int kHeaderSize = 178;
constexpr int64_t kTicksAtUnixEpoch = 621355968000000000LL;
constexpr int kNoiseTableSize = 1 << 16;

// splitmix64: small, fast and the same on every machine.
class CRandom
{
public:
    explicit CRandom(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Gaussian()
    {
        const double u1 = std::max(Uniform(), 1e-12);
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * Uniform());
    }

private:
    uint64_t m_state;
};

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
    PutLE32(&h[18], o.bColor ? 100 : 0);
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

// Brightness of the disc without sky, sampled once; frames shift it by whole pixels.
struct SDisc
{
    int iHalfW = 0;
    int iHalfH = 0;
    std::vector<float> value;  // (2*iHalfW+1) x (2*iHalfH+1)
    float At(int dx, int dy) const
    {
        if (dx < -iHalfW || dx > iHalfW || dy < -iHalfH || dy > iHalfH)
            return 0.0f;
        return value[static_cast<size_t>(dy + iHalfH) * (2 * iHalfW + 1) + (dx + iHalfW)];
    }
};

double Bands(double latitude)
{
    // Dark belts and bright zones, as on a gas giant.
    static const double kBelts[][3] = {{0.16, 0.07, 0.28}, {-0.20, 0.08, 0.30}, {0.42, 0.06, 0.18},
                                       {-0.45, 0.05, 0.15}, {0.0, 0.05, -0.06}};
    double f = 1.0;
    for (const auto& b : kBelts)
    {
        const double d = (latitude - b[0]) / b[1];
        f -= b[2] * std::exp(-0.5 * d * d);
    }
    return f;
}

SDisc MakeDisc(const SZubSynthOptions& o, double radius)
{
    SDisc disc;
    disc.iHalfW = static_cast<int>(std::ceil(radius)) + 2;
    disc.iHalfH = static_cast<int>(std::ceil(radius * o.oblateness)) + 2;
    const int w = 2 * disc.iHalfW + 1;
    disc.value.assign(static_cast<size_t>(w) * (2 * disc.iHalfH + 1), 0.0f);
    for (int y = -disc.iHalfH; y <= disc.iHalfH; ++y)
    {
        const double v = y / (radius * o.oblateness);
        for (int x = -disc.iHalfW; x <= disc.iHalfW; ++x)
        {
            const double u = x / radius;
            const double r = std::sqrt(u * u + v * v);
            // Antialiased edge over about one pixel.
            const double edge = std::clamp((1.0 - r) * radius + 0.5, 0.0, 1.0);
            if (edge <= 0.0)
                continue;
            const double mu = std::sqrt(std::max(0.0, 1.0 - std::min(r, 1.0) * std::min(r, 1.0)));
            const double limb = 1.0 - o.limbDarkening * (1.0 - mu);
            disc.value[static_cast<size_t>(y + disc.iHalfH) * w + (x + disc.iHalfW)] =
                static_cast<float>(o.discBrightness * limb * Bands(v) * edge);
        }
    }
    return disc;
}

double FlashIntensity(const SZubSynthFlash& f, int frame)
{
    if (f.iFrame <= 0 || frame < f.iFrame || frame >= f.iFrame + f.iDuration)
        return 0.0;
    // A smooth rise and fall over the flash's frames.
    return f.peak * std::sin(std::numbers::pi * (frame - f.iFrame + 0.5) / f.iDuration);
}

// Renders the frames of a video one after another, top row first, in the SER sample
// layout: planes interleaved (RGB), two bytes per sample (LSB first) above 8 bits.
class CFrameRenderer
{
public:
    explicit CFrameRenderer(const SZubSynthOptions& o)
        : m_o(o), m_planes(o.bColor ? 3 : 1), m_bytes(o.iDepth > 8 ? 2 : 1),
          m_scale(o.iDepth > 8 ? ((1 << std::min(o.iDepth, 16)) - 1) / 255.0 : 1.0),
          m_maxSample(o.iDepth > 8 ? (1 << std::min(o.iDepth, 16)) - 1 : 255),
          m_row(static_cast<size_t>(o.iWidth) * m_planes * m_bytes),
          m_disc(MakeDisc(o, o.radius > 0.0 ? o.radius : 0.3 * std::min(o.iWidth, o.iHeight))),
          m_rnd(o.seed)
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
        const double flash = FlashIntensity(m_o.flash, n);
        uint32_t noiseIndex = static_cast<uint32_t>(m_rnd.Next());
        for (int y = 0; y < m_o.iHeight; ++y)
        {
            RenderRow(y, cx, cy, flash, noiseIndex);
            onRow(y, m_row.data());
        }
    }

private:
    void RenderRow(int y, double cx, double cy, double flash, uint32_t& noiseIndex)
    {
        static const double kTint[3] = {1.0, 0.92, 0.78};  // red, green, blue
        const int icx = static_cast<int>(std::lround(cx));
        const int icy = static_cast<int>(std::lround(cy));
        const double fx = cx + m_o.flash.dx;
        const double fy = cy + m_o.flash.dy;
        const double twoSigma2 = 2.0 * m_o.flash.sigma * m_o.flash.sigma;
        uint8_t* out = m_row.data();
        for (int x = 0; x < m_o.iWidth; ++x)
        {
            double v = m_disc.At(x - icx, y - icy);
            if (flash > 0.0)
            {
                const double ddx = x - fx, ddy = y - fy;
                const double d2 = ddx * ddx + ddy * ddy;
                if (d2 < 25.0 * twoSigma2)
                    v += flash * std::exp(-d2 / twoSigma2);
            }
            for (int p = 0; p < m_planes; ++p)
            {
                noiseIndex = noiseIndex * 1664525u + 1013904223u;
                const double tint = m_planes == 3 ? kTint[p] : 1.0;
                const double s = (m_o.sky + v * tint + m_noise[noiseIndex >> 16]) * m_scale;
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
    std::vector<float> m_noise;
    SDisc m_disc;
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

bool CheckOptions(const SZubSynthOptions& o, std::string& error)
{
    if (o.iWidth < 8 || o.iHeight < 8 || o.iWidth > 16384 || o.iHeight > 16384)
        error = "width and height must be 8 to 16384";
    else if (o.iFrames < 1)
        error = "at least one frame is needed";
    else if (o.iDepth < 8 || o.iDepth > 16)
        error = "depth must be 8 to 16 bits";
    else if (o.flash.iFrame > 0 && o.flash.iDuration < 1)
        error = "a flash lasts at least one frame";
    else
        return true;
    return false;
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
    x = o.iWidth / 2.0 + o.driftX * (frame - 1) + rnd.Gaussian() * o.jitter;
    y = o.iHeight / 2.0 + o.driftY * (frame - 1) + rnd.Gaussian() * o.jitter;
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
