#include "zubsynthscene.h"

namespace zubsynth
{
namespace
{
constexpr double kTurn = 2.0 * std::numbers::pi;

// Rings, in equatorial radii of the disc: seen tilted, their minor axis this share of the major.
constexpr double kRingTilt = 0.35;
constexpr double kRingOuter = 2.2;
constexpr double kRingBrightness = 0.8;  // of the disc's brightness

// Radial bands of the rings; the dark gap lies between the bright and the outer ring.
struct SRingBand
{
    double from, to;
    double brightness;  // of the rings' brightness
    double opacity;     // how much of the disc behind it is hidden
};
constexpr SRingBand kRingBands[] = {
    {1.20, 1.52, 0.20, 0.50},  // faint inner ring: darkens the disc it crosses
    {1.52, 1.90, 1.00, 0.95},  // bright ring
    {1.96, kRingOuter, 0.70, 0.80},
};

// The surface redraws once it turned this far at the centre: less would not show.
constexpr double kVisibleShift = 0.05;
constexpr int kLongitudeBits = 12;
constexpr int kLongitudes = 1 << kLongitudeBits;
constexpr int kFractionBits = 32 - kLongitudeBits;

constexpr uint64_t kSurfaceSalt = 0x73757266616365ULL;
constexpr uint64_t kHotSalt = 0x686f7470697845ULL;
constexpr uint64_t kRaySalt = 0x636f736d696373ULL;
constexpr double kStuck = 1e9;  // a level that saturates any sample

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

struct SDiscSample
{
    double value;  // brightness, antialiased edge included
    double edge;   // how much of the pixel the disc covers
};

SDiscSample DiscAt(const SZubSynthOptions& o, double radius, int x, int y)
{
    const double v = y / (radius * o.oblateness);
    const double u = x / radius;
    const double r = std::sqrt(u * u + v * v);
    // Antialiased edge over about one pixel.
    const double edge = std::clamp((1.0 - r) * radius + 0.5, 0.0, 1.0);
    if (edge <= 0.0)
        return {0.0, 0.0};
    const double mu = std::sqrt(std::max(0.0, 1.0 - std::min(r, 1.0) * std::min(r, 1.0)));
    const double limb = 1.0 - o.limbDarkening * (1.0 - mu);
    return {o.discBrightness * limb * Bands(v) * edge, edge};
}

// What the rings make of a pixel: disc value * keep + add.
struct SRingCover
{
    double keep = 1.0;
    double add = 0.0;
};

SRingCover RingAt(const SZubSynthOptions& o, double radius, int x, int y, double discEdge)
{
    const double u = x / radius;
    const double w = y / (radius * kRingTilt);
    const double rho = std::max(std::sqrt(u * u + w * w), 1e-9);
    // One pixel in ring radii here, for edges antialiased over a pixel.
    const double pixel = std::hypot(u / radius, w / (radius * kRingTilt)) / rho;
    double brightness = 0.0, opacity = 0.0;
    for (const SRingBand& b : kRingBands)
    {
        const double cover = std::clamp((rho - b.from) / pixel + 0.5, 0.0, 1.0) -
                             std::clamp((rho - b.to) / pixel + 0.5, 0.0, 1.0);
        brightness += b.brightness * cover;
        opacity += b.opacity * cover;
    }
    const double light = kRingBrightness * o.discBrightness * brightness;
    // The near half (below the centre) passes in front of the disc, the far half behind it.
    if (y > 0)
        return {1.0 - opacity, light};
    return {1.0, light * (1.0 - discEdge)};
}

// An oval or a festoon on the turning surface, in latitude (the disc's y over its polar
// radius) and longitude (radians).
struct SFeature
{
    double lat, lon;
    double latSigma, lonSigma;
    double slope;     // latitude per radian of longitude: festoons slant
    double contrast;  // relative: + brighter, - darker
};

std::vector<SFeature> SurfaceFeatures(uint64_t seed)
{
    CRandom rnd(seed ^ kSurfaceSalt);
    std::vector<SFeature> features;
    // Ovals along the edges of the belts, mostly bright.
    for (const double lat : {-0.38, -0.29, -0.11, 0.25, 0.35})
        features.push_back({lat + rnd.Uniform(-0.015, 0.015), rnd.Uniform(0.0, kTurn), rnd.Uniform(0.025, 0.04),
                            rnd.Uniform(0.08, 0.16), 0.0, (rnd.Uniform() < 0.25 ? -1.0 : 1.0) * rnd.Uniform(0.10, 0.20)});
    // Festoons: dark slanted wisps from the belt at +0.16 into the equatorial zone.
    for (int i = 0; i < 4; ++i)
        features.push_back({rnd.Uniform(0.07, 0.10), rnd.Uniform(0.0, kTurn), 0.012, rnd.Uniform(0.06, 0.10),
                            rnd.Uniform(0.3, 0.6), -rnd.Uniform(0.10, 0.20)});
    return features;
}

// The features' relative brightness along latitude `lat`, kLongitudes + 1 samples over a
// turn; false when no feature reaches the latitude.
bool Profile(const std::vector<SFeature>& features, double lat, std::vector<float>& profile)
{
    profile.assign(kLongitudes + 1, 1.0f);
    bool bAny = false;
    for (const SFeature& f : features)
    {
        const double lonReach = 4.0 * f.lonSigma;
        if (std::abs(lat - f.lat) > 4.0 * f.latSigma + std::abs(f.slope) * lonReach)
            continue;
        bAny = true;
        for (int i = 0; i <= kLongitudes; ++i)
        {
            const double dl = std::remainder(i * (kTurn / kLongitudes) - f.lon, kTurn);
            if (std::abs(dl) > lonReach)
                continue;
            const double dlat = (lat - f.lat - f.slope * dl) / f.latSigma;
            const double dlon = dl / f.lonSigma;
            profile[i] += static_cast<float>(f.contrast * std::exp(-0.5 * (dlat * dlat + dlon * dlon)));
        }
    }
    return bAny;
}

// An angle as a fraction of a turn, 2^32 a whole turn, so that sums wrap by themselves.
uint32_t TurnFraction(double radians)
{
    return static_cast<uint32_t>(static_cast<int64_t>(std::llround(std::fmod(radians, kTurn) / kTurn * 4294967296.0)));
}

// A generator for one frame of one kind of event, independent of the frames before it.
CRandom FrameRandom(uint64_t seed, uint64_t salt, int frame)
{
    const uint64_t key = CRandom(seed ^ salt).Next() ^ static_cast<uint64_t>(frame);
    return CRandom(CRandom(key).Next());
}

int Poisson(CRandom& rnd, double mean)
{
    if (mean > 50.0)
        return std::max(0, static_cast<int>(std::lround(mean + std::sqrt(mean) * rnd.Gaussian())));
    const double limit = std::exp(-mean);
    int k = 0;
    for (double p = rnd.Uniform(); p > limit; p *= rnd.Uniform())
        ++k;
    return k;
}

double FlashIntensity(const SZubSynthFlash& f, int frame)
{
    if (f.iFrame <= 0 || frame < f.iFrame || frame >= f.iFrame + f.iDuration)
        return 0.0;
    // A smooth rise and fall over the flash's frames.
    return f.peak * std::sin(std::numbers::pi * (frame - f.iFrame + 0.5) / f.iDuration);
}

// The columns within `reach` of x, clipped to the frame; first > last when none.
void Columns(double x, double reach, int width, int& first, int& last)
{
    const double low = std::max(0.0, std::floor(x - reach));
    const double high = std::min(width - 1.0, std::ceil(x + reach));
    first = 0;
    last = -1;
    if (low <= high)
        first = static_cast<int>(low), last = static_cast<int>(high);
}
}  // namespace

// ---- The planet ------------------------------------------------------------------------

CPlanet::CPlanet(const SZubSynthOptions& o, double radius) : m_radius(radius), m_pxPerFrame(o.rotation)
{
    m_halfW = static_cast<int>(std::ceil(radius)) + 2;
    m_halfH = static_cast<int>(std::ceil(radius * o.oblateness)) + 2;
    if (o.bRings)
    {
        m_halfW = static_cast<int>(std::ceil(kRingOuter * radius)) + 2;
        m_halfH = std::max(m_halfH, static_cast<int>(std::ceil(kRingOuter * kRingTilt * radius)) + 2);
    }
    const int w = 2 * m_halfW + 1;
    m_value.assign(static_cast<size_t>(w) * (2 * m_halfH + 1), 0.0f);
    for (int y = -m_halfH; y <= m_halfH; ++y)
        for (int x = -m_halfW; x <= m_halfW; ++x)
        {
            const SDiscSample disc = DiscAt(o, radius, x, y);
            const SRingCover ring = o.bRings ? RingAt(o, radius, x, y, disc.edge) : SRingCover{};
            m_value[static_cast<size_t>(y + m_halfH) * w + (x + m_halfW)] =
                static_cast<float>(disc.value * ring.keep + ring.add);
        }
    if (o.rotation != 0.0)
    {
        AddSurfaceRows(o);
        Turn(1);
    }
}

void CPlanet::AddSurfaceRows(const SZubSynthOptions& o)
{
    const std::vector<SFeature> features = SurfaceFeatures(o.seed);
    const int w = 2 * m_halfW + 1;
    for (int dy = -m_halfH; dy <= m_halfH; ++dy)
    {
        const double lat = dy / (m_radius * o.oblateness);
        SSurfaceRow row;
        if (std::abs(lat) >= 1.0 || !Profile(features, lat, row.profile))
            continue;
        // Seen from the equator's plane: x = R cos(latitude) sin(longitude).
        const double halfChord = m_radius * std::sqrt(1.0 - lat * lat);
        const int reach = std::min(m_halfW, static_cast<int>(std::ceil(halfChord)) + 2);
        for (int dx = -reach; dx <= reach; ++dx)
        {
            const SDiscSample disc = DiscAt(o, m_radius, dx, dy);
            const SRingCover ring = o.bRings ? RingAt(o, m_radius, dx, dy, disc.edge) : SRingCover{};
            row.base.push_back(static_cast<float>(disc.value * ring.keep));
            row.add.push_back(static_cast<float>(ring.add));
            row.longitude.push_back(TurnFraction(std::asin(std::clamp(dx / halfChord, -1.0, 1.0))));
        }
        row.at = static_cast<size_t>(dy + m_halfH) * w + (m_halfW - reach);
        m_surface.push_back(std::move(row));
    }
}

void CPlanet::Turn(int frame)
{
    const double shift = m_pxPerFrame * (frame - 1);
    if (m_surface.empty() || std::abs(shift - m_shownShift) < kVisibleShift)
        return;
    m_shownShift = shift;
    // The longitude under a pixel: where it looks less how far the surface turned.
    const uint32_t phase = TurnFraction(shift / m_radius);
    constexpr float kFractionScale = 1.0f / (1u << kFractionBits);
    for (const SSurfaceRow& row : m_surface)
    {
        float* out = &m_value[row.at];
        const float* profile = row.profile.data();
        for (size_t i = 0; i < row.base.size(); ++i)
        {
            const uint32_t at = row.longitude[i] - phase;
            const uint32_t i0 = at >> kFractionBits;
            const float fraction = static_cast<float>(at & ((1u << kFractionBits) - 1)) * kFractionScale;
            const float relative = profile[i0] + (profile[i0 + 1] - profile[i0]) * fraction;
            out[i] = row.base[i] * relative + row.add[i];
        }
    }
}

// ---- Flashes, moons, shadows, clouds ---------------------------------------------------

void LightFlashes(const SZubSynthOptions& o, int frame, double cx, double cy, std::vector<SLitFlash>& lit)
{
    lit.clear();
    auto light = [&](const SZubSynthFlash& f) {
        const double intensity = FlashIntensity(f, frame);
        if (intensity > 0.0)
            lit.push_back({cx + f.dx, cy + f.dy, intensity, 2.0 * f.sigma * f.sigma});
    };
    light(o.flash);
    for (const SZubSynthFlash& f : o.moreFlashes)
        light(f);
}

void AddFlashes(const std::vector<SLitFlash>& lit, int y, double* signal, int width)
{
    for (const SLitFlash& f : lit)
    {
        // Beyond five sigmas a flash adds nothing that shows.
        const double reach2 = 25.0 * f.twoSigma2;
        const double ddy = y - f.y;
        if (ddy * ddy >= reach2)
            continue;
        int first = 0, last = 0;
        Columns(f.x, std::sqrt(reach2), width, first, last);
        for (int x = first; x <= last; ++x)
        {
            const double ddx = x - f.x;
            const double d2 = ddx * ddx + ddy * ddy;
            if (d2 < reach2)
                signal[x] += f.intensity * std::exp(-d2 / f.twoSigma2);
        }
    }
}

void PlaceCrossingDiscs(const SZubSynthOptions& o, int frame, double cx, double cy,
                        std::vector<SCrossingDisc>& discs)
{
    discs.clear();
    for (const SZubSynthMoon& m : o.moons)
    {
        if (frame < m.iFrame || frame >= m.iFrame + m.iDuration)
            continue;
        const double t = m.iDuration > 1 ? static_cast<double>(frame - m.iFrame) / (m.iDuration - 1) : 0.0;
        const bool bShadow = m.brightness < 0.0;
        // A moon shows its brightness, sky included.
        discs.push_back({cx + m.x0 + t * (m.x1 - m.x0), cy + m.y0 + t * (m.y1 - m.y0), m.radius,
                         bShadow ? -m.brightness : std::max(0.0, m.brightness - o.sky), bShadow});
    }
    // Shadows fall on the planet; moons pass in front of them.
    std::stable_partition(discs.begin(), discs.end(), [](const SCrossingDisc& d) { return d.bShadow; });
}

void DrawCrossingDiscs(const std::vector<SCrossingDisc>& discs, int y, double* signal, int width)
{
    for (const SCrossingDisc& d : discs)
    {
        const double dy = y - d.y;
        const double reach = d.radius + 1.0;
        if (std::abs(dy) >= reach)
            continue;
        int first = 0, last = 0;
        Columns(d.x, reach, width, first, last);
        for (int x = first; x <= last; ++x)
        {
            // Antialiased edge over about one pixel.
            const double cover = std::clamp(d.radius - std::hypot(x - d.x, dy) + 0.5, 0.0, 1.0);
            double& v = signal[x];
            v = d.bShadow ? std::max(0.0, v - d.level * cover) : v + (d.level - v) * cover;
        }
    }
}

double Transparency(const SZubSynthOptions& o, int frame)
{
    double transparency = 1.0;
    for (const SZubSynthCloud& c : o.clouds)
        if (frame >= c.iFrame && frame < c.iFrame + c.iDuration)
            transparency *= 1.0 - c.depth * std::sin(std::numbers::pi * (frame - c.iFrame + 0.5) / c.iDuration);
    return transparency;
}

// ---- The sensor ------------------------------------------------------------------------

CSensorDefects::CSensorDefects(const SZubSynthOptions& o, double scale, int maxSample)
    : m_o(o), m_scale(scale), m_maxSample(maxSample)
{
    if (o.iHotPixels > 0)
        AddHotPixels();
}

void CSensorDefects::AddHotPixels()
{
    CRandom rnd(m_o.seed ^ kHotSalt);
    for (int i = 0; i < m_o.iHotPixels; ++i)
    {
        const int x = static_cast<int>(rnd.Next() % static_cast<uint64_t>(m_o.iWidth));
        const int y = static_cast<int>(rnd.Next() % static_cast<uint64_t>(m_o.iHeight));
        // A tenth stuck at saturation, a third hot, the rest warm.
        const double kind = rnd.Uniform();
        const double level = kind < 0.1 ? kStuck : kind < 0.45 ? rnd.Uniform(60.0, 200.0) : rnd.Uniform(15.0, 40.0);
        AddDefect(m_hot, x, y, level);
        // A few come as a pair of neighbours.
        if (rnd.Uniform() < 0.08)
        {
            const bool bRight = rnd.Next() & 1;
            AddDefect(m_hot, x + bRight, y + !bRight, level * rnd.Uniform(0.4, 0.9));
        }
    }
    std::sort(m_hot.begin(), m_hot.end());
}

void CSensorDefects::AddDefect(std::vector<SDefect>& to, int x, int y, double level) const
{
    if (x < 0 || y < 0 || x >= m_o.iWidth || y >= m_o.iHeight)
        return;
    to.push_back({y, x, static_cast<int>(std::lround(std::min(level * m_scale, static_cast<double>(m_maxSample))))});
}

void CSensorDefects::StartFrame(int frame)
{
    m_hotNext = m_rayNext = 0;
    m_rays.clear();
    if (m_o.cosmicRate <= 0.0)
        return;
    CRandom rnd = FrameRandom(m_o.seed, kRaySalt, frame);
    const int hits = Poisson(rnd, m_o.cosmicRate);
    for (int i = 0; i < hits; ++i)
    {
        int x = static_cast<int>(rnd.Next() % static_cast<uint64_t>(m_o.iWidth));
        int y = static_cast<int>(rnd.Next() % static_cast<uint64_t>(m_o.iHeight));
        const int length = 1 + static_cast<int>(rnd.Next() % 3);
        // A short track: across, down or along a diagonal.
        static const int kSteps[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
        const int* step = kSteps[rnd.Next() % 4];
        for (int k = 0; k < length; ++k, x += step[0], y += step[1])
            AddDefect(m_rays, x, y, rnd.Uniform(80.0, 255.0));
    }
    std::sort(m_rays.begin(), m_rays.end());
}

void CSensorDefects::ApplyRow(int y, uint8_t* row, int planes, int bytes, const std::vector<SDefect>& defects,
                              size_t& next) const
{
    // Rows come in order, so each frame walks the sorted defects once.
    for (; next < defects.size() && defects[next].y <= y; ++next)
    {
        uint8_t* p = row + static_cast<size_t>(defects[next].x) * planes * bytes;
        for (int c = 0; c < planes; ++c, p += bytes)
        {
            const int sample = bytes == 2 ? p[0] | p[1] << 8 : p[0];
            const int sum = std::min(sample + defects[next].add, m_maxSample);
            p[0] = static_cast<uint8_t>(sum);
            if (bytes == 2)
                p[1] = static_cast<uint8_t>(sum >> 8);
        }
    }
}
}  // namespace zubsynth
