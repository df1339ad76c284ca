#include "zubsynth.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
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

class CFrameWriter
{
public:
    CFrameWriter(const SZubSynthOptions& o)
        : m_o(o), m_planes(o.bColor ? 3 : 1), m_bytes(o.iDepth > 8 ? 2 : 1),
          m_scale(o.iDepth > 8 ? ((1 << std::min(o.iDepth, 16)) - 1) / 255.0 : 1.0),
          m_maxSample(o.iDepth > 8 ? (1 << std::min(o.iDepth, 16)) - 1 : 255),
          m_row(static_cast<size_t>(o.iWidth) * m_planes * m_bytes)
    {
        CRandom rnd(o.seed ^ 0x5a5a5a5aULL);
        m_noise.resize(kNoiseTableSize);
        for (float& n : m_noise)
            n = static_cast<float>(rnd.Gaussian() * o.noise);
    }

    bool Write(FILE* f, const SDisc& disc, double cx, double cy, double flash, CRandom& rnd)
    {
        static const double kTint[3] = {1.0, 0.92, 0.78};  // red, green, blue
        const int icx = static_cast<int>(std::lround(cx));
        const int icy = static_cast<int>(std::lround(cy));
        const double fx = cx + m_o.flash.dx;
        const double fy = cy + m_o.flash.dy;
        const double twoSigma2 = 2.0 * m_o.flash.sigma * m_o.flash.sigma;
        uint32_t noiseIndex = static_cast<uint32_t>(rnd.Next());
        for (int y = 0; y < m_o.iHeight; ++y)
        {
            uint8_t* out = m_row.data();
            for (int x = 0; x < m_o.iWidth; ++x)
            {
                double v = disc.At(x - icx, y - icy);
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
            if (std::fwrite(m_row.data(), 1, m_row.size(), f) != m_row.size())
                return false;
        }
        return true;
    }

private:
    const SZubSynthOptions& m_o;
    int m_planes;
    int m_bytes;
    double m_scale;
    int m_maxSample;
    std::vector<uint8_t> m_row;
    std::vector<float> m_noise;
};

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

    const double radius = o.radius > 0.0 ? o.radius : 0.3 * std::min(o.iWidth, o.iHeight);
    const SDisc disc = MakeDisc(o, radius);
    CFrameWriter writer(o);
    CRandom rnd(o.seed);
    for (int n = 1; ok && n <= o.iFrames; ++n)
    {
        double cx = 0.0, cy = 0.0;
        ZubSynthCentre(o, n, cx, cy);
        ok = writer.Write(f.get(), disc, cx, cy, FlashIntensity(o.flash, n), rnd);
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
