#include "zubspotfilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
// Pixels are summed two by two first (a bin per grid point, the grid point at its top
// left): the Gaussian then has a seeing-sized sigma of 0.75 bins, the box 7 bins (14 px).
constexpr double kSpotSigma = CZubSpotFilter::kSpotSigma;
constexpr int kGaussRadius = 2;     // bins
constexpr int kBoxRadius = 3;       // bins
constexpr int kBinReach = 3;        // bins either side that a grid point's filter reads
constexpr float kBoxScale = 1.0f / (4 * (2 * kBoxRadius + 1) * (2 * kBoxRadius + 1));

// The Gaussian's taps over bins from the centre out, summing to 1 over both sides, with the
// bins' four pixels' 1/4 folded in once (in the horizontal taps).
struct SGaussTaps
{
    float t[kGaussRadius + 1];
    float h[kGaussRadius + 1];
    SGaussTaps()
    {
        const double sigma = kSpotSigma / 2.0;
        double sum = 0.0;
        for (int k = -kGaussRadius; k <= kGaussRadius; ++k)
            sum += std::exp(-0.5 * k * k / (sigma * sigma));
        for (int k = 0; k <= kGaussRadius; ++k)
        {
            t[k] = static_cast<float>(std::exp(-0.5 * k * k / (sigma * sigma)) / sum);
            h[k] = 0.25f * t[k];
        }
    }
};
const SGaussTaps kTaps;

// The filter's weight for pixel (x, y) from its grid point.
double Kernel(int x, int y)
{
    const int i = x >= 0 ? x / 2 : -((1 - x) / 2);  // the bin, rounding down
    const int j = y >= 0 ? y / 2 : -((1 - y) / 2);
    if (std::abs(i) > kBinReach || std::abs(j) > kBinReach)
        return 0.0;
    double k = -kBoxScale;
    if (std::abs(i) <= kGaussRadius && std::abs(j) <= kGaussRadius)
        k += kTaps.h[std::abs(i)] * kTaps.t[std::abs(j)];
    return k;
}

// The bins of two pixel rows: n sums of two by two pixels.
void BinRows(const uint8_t* __restrict a, const uint8_t* __restrict b, int n, float* __restrict bins)
{
    for (int m = 0; m < n; ++m)
        bins[m] = static_cast<float>(a[2 * m] + a[2 * m + 1] + b[2 * m] + b[2 * m + 1]);
}

// The horizontal pass of a row of bins at the grid's w columns (bin i + kBinReach is column
// i): the Gaussian and the box sum.
void FilterRowH(const float* __restrict bins, int w, float* __restrict gauss, float* __restrict box)
{
    const float h0 = kTaps.h[0], h1 = kTaps.h[1], h2 = kTaps.h[2];
    for (int i = 0; i < w; ++i)
    {
        const float* b = bins + i + kBinReach;
        gauss[i] = h0 * b[0] + h1 * (b[-1] + b[1]) + h2 * (b[-2] + b[2]);
        box[i] = b[-3] + b[-2] + b[-1] + b[0] + b[1] + b[2] + b[3];
    }
}

// The vertical pass at one grid row: the Gaussian over rows g[-2..2], minus the box mean.
void FilterRowV(const float* g, size_t stride, const float* __restrict column, float* __restrict out, int w)
{
    const float t0 = kTaps.t[0], t1 = kTaps.t[1], t2 = kTaps.t[2];
    const float* __restrict m2 = g - 2 * stride;
    const float* __restrict m1 = g - stride;
    const float* __restrict c = g;
    const float* __restrict p1 = g + stride;
    const float* __restrict p2 = g + 2 * stride;
    for (int i = 0; i < w; ++i)
        out[i] = t0 * c[i] + t1 * (m1[i] + p1[i]) + t2 * (m2[i] + p2[i]) - column[i] * kBoxScale;
}

// column += a - b (b null: only the addition).
void MoveColumn(float* __restrict column, const float* __restrict a, const float* __restrict b, int w)
{
    if (!b)
        for (int i = 0; i < w; ++i)
            column[i] += a[i];
    else
        for (int i = 0; i < w; ++i)
            column[i] += a[i] - b[i];
}
}  // namespace

float CZubSpotFilter::UnitResponse()
{
    // A spot at the middle of the grid point's bin, where the grid point stands for.
    double response = 0.0;
    const int reach = 2 * kBinReach + 2;
    for (int y = -reach; y <= reach; ++y)
        for (int x = -reach; x <= reach; ++x)
            response += Kernel(x, y) *
                        std::exp(-0.5 * ((x - 0.5) * (x - 0.5) + (y - 0.5) * (y - 0.5)) / (kSpotSigma * kSpotSigma));
    return static_cast<float>(response);
}

void CZubSpotFilter::Filter(const uint8_t* image, std::ptrdiff_t stride, const SZubGrid& grid, float* out)
{
    const int w = grid.w;
    const size_t cols = static_cast<size_t>(w);
    const int rows = grid.h + 2 * kBinReach;  // bin rows
    const size_t need = cols * static_cast<size_t>(rows);
    if (m_rowsGauss.size() < need)  // grows once, at the first grid
    {
        m_rowsGauss.resize(need);
        m_rowsBox.resize(need);
    }
    if (m_bins.size() < cols + 2 * kBinReach)
    {
        m_bins.resize(cols + 2 * kBinReach);
        m_column.resize(cols);
    }
    for (int r = 0; r < rows; ++r)
    {
        const uint8_t* a = image + (grid.y0 + 2 * (r - kBinReach)) * stride + grid.x0 - 2 * kBinReach;
        BinRows(a, a + stride, w + 2 * kBinReach, m_bins.data());
        FilterRowH(m_bins.data(), w, m_rowsGauss.data() + r * cols, m_rowsBox.data() + r * cols);
    }
    // Vertical: grid row j is bin row j + kBinReach; the box sums 7 bin rows around it.
    float* column = m_column.data();
    std::fill_n(column, w, 0.0f);
    const float* box = m_rowsBox.data();
    for (int r = 0; r < 2 * kBoxRadius; ++r)
        MoveColumn(column, box + r * cols, nullptr, w);
    for (int j = 0; j < grid.h; ++j, out += w)
    {
        // One row enters below, one leaves above.
        MoveColumn(column, box + (j + 2 * kBoxRadius) * cols, j > 0 ? box + (j - 1) * cols : nullptr, w);
        FilterRowV(m_rowsGauss.data() + (j + kBinReach) * cols, cols, column, out, w);
    }
}
