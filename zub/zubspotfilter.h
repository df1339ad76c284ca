// The second detector's matched filter: a Gaussian of seeing size minus the mean of a wider
// box, so that a change of a whole region's level does not look like a spot. The filtered
// image is smooth over a few pixels, so it is evaluated on the bins of two by two pixels: a
// grid of every second pixel in both directions, a quarter of the work for a small loss on
// a spot between grid points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Every second pixel from (x0, y0): w columns, h rows.
struct SZubGrid
{
    int x0 = 0, y0 = 0, w = 0, h = 0;
    size_t Points() const { return static_cast<size_t>(w) * static_cast<size_t>(h); }
    size_t Index(int i, int j) const { return static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i); }
};

class CZubSpotFilter
{
public:
    // Pixels the filter reads around a grid point, before it and after it.
    static constexpr int kReachBefore = 6;
    static constexpr int kReachAfter = 7;
    // The seeing-sized spot it is matched to: a Gaussian of this sigma (pixels).
    static constexpr double kSpotSigma = 1.5;

    // The response to a seeing-sized spot of 1 gray level in a grid point's bin.
    static float UnitResponse();

    // Filters the grid points of an 8-bit image: row y starts at image + y * stride, and the
    // rows and columns within the reach of the grid's rectangle must exist.
    void Filter(const uint8_t* image, std::ptrdiff_t stride, const SZubGrid& grid, float* out);

private:
    std::vector<float> m_bins;
    std::vector<float> m_rowsGauss, m_rowsBox, m_column;
};
