#include "zubspotfilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
constexpr double kSpotSigma = 1.5;
constexpr int kGaussRadius = 3;
constexpr int kBoxRadius = 7;
constexpr float kBoxScale = 1.0f / ((2 * kBoxRadius + 1) * (2 * kBoxRadius + 1));

// The Gaussian's taps from the centre out, summing to 1 over both sides.
struct SGaussTaps
{
    float t[kGaussRadius + 1];
    SGaussTaps()
    {
        double sum = 0.0;
        for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
            sum += std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma));
        for (int k = 0; k <= kGaussRadius; ++k)
            t[k] = static_cast<float>(std::exp(-0.5 * k * k / (kSpotSigma * kSpotSigma)) / sum);
    }
};
const SGaussTaps kTaps;

// The filter's weight at (x, y) from its centre.
double Kernel(int x, int y)
{
    double k = -kBoxScale;
    if (std::abs(x) <= kGaussRadius && std::abs(y) <= kGaussRadius)
        k += kTaps.t[std::abs(x)] * kTaps.t[std::abs(y)];
    return k;
}

// A row from 8 pixels before a grid's first column, split into its even and odd pixels.
void SplitRow(const uint8_t* __restrict in, int n, float* __restrict even, float* __restrict odd)
{
    for (int m = 0; m < n; ++m)
    {
        even[m] = static_cast<float>(in[2 * m]);
        odd[m] = static_cast<float>(in[2 * m + 1]);
    }
}

// The horizontal pass of a split row at the grid's w columns: the Gaussian and the box sum.
void FilterRowH(const float* __restrict even, const float* __restrict odd, float* __restrict pairs, int w,
                float* __restrict gauss, float* __restrict box)
{
    const float t0 = kTaps.t[0], t1 = kTaps.t[1], t2 = kTaps.t[2], t3 = kTaps.t[3];
    for (int m = 0; m < w + 8; ++m)
        pairs[m] = even[m] + odd[m];
    for (int i = 0; i < w; ++i)
    {
        // Grid column i is even pixel i + 4 of the split row.
        gauss[i] = t0 * even[i + 4] + t1 * (odd[i + 3] + odd[i + 4]) + t2 * (even[i + 3] + even[i + 5]) +
                   t3 * (odd[i + 2] + odd[i + 5]);
        box[i] = odd[i] + pairs[i + 1] + pairs[i + 2] + pairs[i + 3] + pairs[i + 4] + pairs[i + 5] + pairs[i + 6] +
                 pairs[i + 7];
    }
}

// The vertical pass at one grid row: the Gaussian over rows g[-3..3], minus the box mean.
void FilterRowV(const float* g, size_t stride, const float* __restrict column, float* __restrict out, int w)
{
    const float t0 = kTaps.t[0], t1 = kTaps.t[1], t2 = kTaps.t[2], t3 = kTaps.t[3];
    const float* __restrict m3 = g - 3 * stride;
    const float* __restrict m2 = g - 2 * stride;
    const float* __restrict m1 = g - stride;
    const float* __restrict c = g;
    const float* __restrict p1 = g + stride;
    const float* __restrict p2 = g + 2 * stride;
    const float* __restrict p3 = g + 3 * stride;
    for (int i = 0; i < w; ++i)
        out[i] = t0 * c[i] + t1 * (m1[i] + p1[i]) + t2 * (m2[i] + p2[i]) + t3 * (m3[i] + p3[i]) - column[i] * kBoxScale;
}

// column += a + b - c - d (c, d null: only the additions).
void MoveColumn(float* __restrict column, const float* __restrict a, const float* __restrict b,
                const float* __restrict c, const float* __restrict d, int w)
{
    if (!c)
        for (int i = 0; i < w; ++i)
            column[i] += a[i] + b[i];
    else
        for (int i = 0; i < w; ++i)
            column[i] += (a[i] + b[i]) - (c[i] + d[i]);
}
}  // namespace

float CZubSpotFilter::UnitResponse()
{
    double response = 0.0;
    for (int y = -kBoxRadius; y <= kBoxRadius; ++y)
        for (int x = -kBoxRadius; x <= kBoxRadius; ++x)
            response += Kernel(x, y) * std::exp(-0.5 * (x * x + y * y) / (kSpotSigma * kSpotSigma));
    return static_cast<float>(response);
}

float CZubSpotFilter::NoiseGain()
{
    double squares = 0.0;
    for (int y = -kBoxRadius; y <= kBoxRadius; ++y)
        for (int x = -kBoxRadius; x <= kBoxRadius; ++x)
            squares += Kernel(x, y) * Kernel(x, y);
    return static_cast<float>(std::sqrt(squares));
}

void CZubSpotFilter::Filter(const uint8_t* image, std::ptrdiff_t stride, const SZubGrid& grid, float* out)
{
    const int w = grid.w;
    const size_t cols = static_cast<size_t>(w);
    const int rows = 2 * (grid.h - 1) + 2 * kBoxRadius + 1;
    const size_t need = cols * static_cast<size_t>(rows);
    if (m_rowsGauss.size() < need)  // grows once, at the first grid
    {
        m_rowsGauss.resize(need);
        m_rowsBox.resize(need);
    }
    if (m_even.size() < cols + 8)
    {
        m_even.resize(cols + 8);
        m_odd.resize(cols + 8);
        m_pairs.resize(cols + 8);
        m_column.resize(cols);
    }
    for (int r = 0; r < rows; ++r)
    {
        const uint8_t* row = image + (grid.y0 - kBoxRadius + r) * stride + grid.x0 - 8;
        SplitRow(row, w + 8, m_even.data(), m_odd.data());
        FilterRowH(m_even.data(), m_odd.data(), m_pairs.data(), w, m_rowsGauss.data() + r * cols,
                   m_rowsBox.data() + r * cols);
    }
    // Vertical: grid row j is split row 2j + kBoxRadius; the box sums 15 rows around it.
    float* column = m_column.data();
    std::fill_n(column, w, 0.0f);
    const float* box = m_rowsBox.data();
    for (int r = 0; r < 2 * kBoxRadius; r += 2)
        MoveColumn(column, box + r * cols, box + (r + 1) * cols, nullptr, nullptr, w);
    for (int i = 0; i < w; ++i)
        column[i] += box[2 * kBoxRadius * cols + i];
    for (int j = 0; j < grid.h; ++j, out += w)
    {
        // Two rows enter below, two leave above.
        const int enter = 2 * j + 2 * kBoxRadius - 1;
        if (j > 0)
            MoveColumn(column, box + enter * cols, box + (enter + 1) * cols, box + (2 * j - 2) * cols,
                       box + (2 * j - 1) * cols, w);
        FilterRowV(m_rowsGauss.data() + (2 * j + kBoxRadius) * cols, cols, column, out, w);
    }
}
