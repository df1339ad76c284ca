// The scene the frame renderer composes: the planet's picture (banded disc, rings, turning
// surface), what lies on it or in front of it (flashes, moons, shadows, clouds) and what the
// sensor adds (hot pixels, cosmic rays). Included by the zubsynth*.cpp files only.
#pragma once

#include "zubsynth.h"

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace zubsynth
{
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
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
    double Gaussian()
    {
        const double u1 = std::max(Uniform(), 1e-12);
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * Uniform());
    }

private:
    uint64_t m_state;
};

// The planet without sky on a grid centred on the disc; frames shift it by whole pixels.
// With rotation its surface features turn, and Turn() redraws the rows they cross.
class CPlanet
{
public:
    CPlanet(const SZubSynthOptions& o, double radius);
    void Turn(int frame);
    int HalfWidth() const { return m_halfW; }
    // The 2 * HalfWidth() + 1 values of row dy from the centre; nullptr off the grid.
    const float* Row(int dy) const
    {
        if (dy < -m_halfH || dy > m_halfH)
            return nullptr;
        return &m_value[static_cast<size_t>(dy + m_halfH) * (2 * m_halfW + 1)];
    }

private:
    // A row the surface features cross: redrawn as they turn.
    struct SSurfaceRow
    {
        size_t at = 0;                    // the grid index of its first pixel
        std::vector<uint32_t> longitude;  // of each pixel, a whole turn = 2^32
        std::vector<float> base;          // the value without features, less what the rings hide
        std::vector<float> add;           // the rings' light in front of or beside the disc
        std::vector<float> profile;       // 1 + the features' contrast over a turn (+ a wrap sample)
    };
    void AddSurfaceRows(const SZubSynthOptions& o);

    double m_radius;
    int m_halfW = 0;
    int m_halfH = 0;
    std::vector<float> m_value;
    std::vector<SSurfaceRow> m_surface;
    double m_pxPerFrame = 0.0;
    double m_shownShift = std::numeric_limits<double>::quiet_NaN();
};

// A flash lit in the current frame, placed in the frame.
struct SLitFlash
{
    double x, y;
    double intensity;
    double twoSigma2;
};

void LightFlashes(const SZubSynthOptions& o, int frame, double cx, double cy, std::vector<SLitFlash>& lit);
void AddFlashes(const std::vector<SLitFlash>& lit, int y, double* signal, int width);

// A moon (level above the sky it replaces) or a shadow (gray levels it takes away), placed
// in the frame.
struct SCrossingDisc
{
    double x, y;
    double radius;
    double level;
    bool bShadow;
};

void PlaceCrossingDiscs(const SZubSynthOptions& o, int frame, double cx, double cy,
                        std::vector<SCrossingDisc>& discs);
void DrawCrossingDiscs(const std::vector<SCrossingDisc>& discs, int y, double* signal, int width);

// The share of the light that passes the clouds in a frame: 1 under a clear sky.
double Transparency(const SZubSynthOptions& o, int frame);

// Hot pixels, fixed on the sensor, and each frame's cosmic rays, added to the samples.
class CSensorDefects
{
public:
    CSensorDefects(const SZubSynthOptions& o, double scale, int maxSample);
    void StartFrame(int frame);
    // Adds the defects of row y to its samples (planes interleaved, 1 or 2 bytes each).
    void ApplyRow(int y, uint8_t* row, int planes, int bytes)
    {
        ApplyRow(y, row, planes, bytes, m_hot, m_hotNext);
        ApplyRow(y, row, planes, bytes, m_rays, m_rayNext);
    }

private:
    struct SDefect
    {
        int y, x;
        int add;  // in samples
        auto operator<=>(const SDefect&) const = default;
    };
    void ApplyRow(int y, uint8_t* row, int planes, int bytes, const std::vector<SDefect>& defects,
                  size_t& next) const;
    void AddDefect(std::vector<SDefect>& to, int x, int y, double level) const;
    void AddHotPixels();

    const SZubSynthOptions& m_o;
    double m_scale;
    int m_maxSample;
    std::vector<SDefect> m_hot;
    std::vector<SDefect> m_rays;
    size_t m_hotNext = 0;
    size_t m_rayNext = 0;
};
}  // namespace zubsynth
