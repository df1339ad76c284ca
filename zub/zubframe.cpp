#include "zubframe.h"

#include "zubapp.h"
#include "zubcandidate.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

constexpr size_t kInitialColumnSize = 2048;

// Checks a caller contract: aborts in debug builds, lets the operation skip its work otherwise.
bool Require(bool condition)
{
    assert(condition);
    return condition;
}

size_t BufferBytes(int width, int height, int bits)
{
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    switch (bits)
    {
    case FRAME_MONO8:
        return w * h;
    case FRAME_MONO16:
        return 2 * w * h;
    case FRAME_COLOR_RGB24:
        return static_cast<size_t>(ZubStride24(width)) * h;
    default:
        return 0;
    }
}

// ---- Centre of mass ----------------------------------------------------------------------

// The sampled pixels of a centre-of-mass window: every second row and column from (x0, y0),
// upper bounds exclusive.
struct SSampleWindow
{
    int x0, x1, y0, y1;
};

using SampleCounts = std::array<int64_t, 256>;

SampleCounts SampledHistogram(const CZubFrame& frame, const SSampleWindow& w)
{
    SampleCounts counts{};
    for (int y = w.y0; y < w.y1; y += 2)
    {
        const uint8_t* row = frame.GetRow(y);
        for (int x = w.x0; x < w.x1; x += 2)
            ++counts[row[x]];
    }
    return counts;
}

// The smallest value that at least num/den of the samples do not exceed.
int Percentile(const SampleCounts& counts, int64_t total, int64_t num, int64_t den)
{
    int v = 0;
    for (int64_t atOrBelow = counts[0]; atOrBelow * den < total * num && v < 255;)
        atOrBelow += counts[++v];
    return v;
}

// The level the sky's samples stay below: the commonest value of the darker half, plus the
// sky's spread below it (down to where its bins fall under a sixteenth of the peak, about
// 2.4 sigma of Gaussian noise) mirrored above it. 0 for a black sky. A sky lies far below
// the planet's bright level (that of the brightest thousandth of the samples); a level that
// does not (a frame filled by the Moon's surface has no sky) fades out between an eighth
// and a quarter of the bright level, so that the centre never jumps between frames.
int SkyLevel(const SampleCounts& counts)
{
    int64_t total = 0;
    for (const int64_t c : counts)
        total += c;
    const int median = Percentile(counts, total, 1, 2);
    int mode = 0;
    for (int v = 1; v <= median; ++v)
        if (counts[v] > counts[mode])
            mode = v;
    int low = mode;
    while (low > 0 && counts[low - 1] * 16 >= counts[mode])
        --low;
    const int sky = 2 * mode - low;
    const int bright = Percentile(counts, total, 999, 1000);
    return std::clamp(std::min(sky, bright / 4 - sky), 0, 255);
}

// Centre of the samples weighted by their value above `sky`, each coordinate truncated
// toward zero; (-1, -1) when nothing weighs.
SZubPoint WeightedCentre(const CZubFrame& frame, const SSampleWindow& w, int sky)
{
    std::array<int, 256> weight{};
    for (int v = sky + 1; v < 256; ++v)
        weight[v] = v - sky;
    // Integer sums stay exact far beyond any frame size; only the quotients are real.
    int64_t sumX = 0, sumY = 0, sum = 0;
    for (int y = w.y0; y < w.y1; y += 2)
    {
        const uint8_t* row = frame.GetRow(y);
        int64_t rowSum = 0;
        for (int x = w.x0; x < w.x1; x += 2)
        {
            const int v = weight[row[x]];
            sumX += static_cast<int64_t>(x) * v;
            rowSum += v;
        }
        sumY += static_cast<int64_t>(y) * rowSum;
        sum += rowSum;
    }
    if (sum == 0)
        return {-1, -1};
    const double s = static_cast<double>(sum);
    return {static_cast<int32_t>(static_cast<double>(sumX) / s),
            static_cast<int32_t>(static_cast<double>(sumY) / s)};
}

// ---- Profiles (MeasureExtent, ProfileThreshold16) -------------------------------------

// Width of the smoothing window: odd and at least 1.
int SmoothingWidth()
{
    int w = ZubApp().m_params.PlanetSizeFilter;
    if (w % 2 == 0)
        ++w;
    return std::max(w, 1);
}

// Moving average of width w (odd, <= len); the ends repeat the first and last full window.
template <typename T>
std::vector<int> SmoothProfile(const T* profile, int len, int w)
{
    const int h = (w - 1) / 2;
    std::vector<int> q(static_cast<size_t>(len));
    int64_t sum = 0;
    for (int i = 0; i < w; ++i)
        sum += profile[i];
    for (int i = h; i <= len - h - 1; ++i)
    {
        q[i] = static_cast<int>(sum / w);
        if (i + h + 1 < len)
            sum += profile[i + h + 1] - static_cast<int64_t>(profile[i - h]);
    }
    std::fill(q.begin(), q.begin() + h, q[h]);
    std::fill(q.end() - h, q.end(), q[len - h - 1]);
    return q;
}

struct SProfileLevels
{
    int iThreshold;
    int iMax;
};

// T = max - trunc(ROIFactorBright * (max - min)) of the smoothed profile.
SProfileLevels ThresholdOf(const std::vector<int>& q, int minStart)
{
    int mn = minStart;
    int mx = 0;
    for (int v : q)
    {
        mn = std::min(mn, v);
        mx = std::max(mx, v);
    }
    const double factor = ZubApp().m_params.ROIFactorBright;
    return {mx - static_cast<int>(factor * (mx - mn)), mx};
}

// ---- File output ------------------------------------------------------------------------

FILE* CreateOutputFile(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        ZubTrace("Can't open file %s, error = %u", path.c_str(), static_cast<unsigned>(errno));
    return file;
}

// True when the format holds exactly one integer conversion (flags and width allowed)
// and otherwise only "%%", so that formatting it with one int is safe.
bool IsSingleIntFormat(const char* format)
{
    int conversions = 0;
    for (const char* p = format; *p; ++p)
    {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p && std::strchr("-+ 0#", *p))
            ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p != 'i' && *p != 'd')
            return false;
        ++conversions;
    }
    return conversions == 1;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// The caller's file name pattern with n inserted; empty when the pattern is unusable.
std::string FormatName(const char* format, int n)
{
    if (!format || !IsSingleIntFormat(format))
    {
        ZubTrace("Can't open file %s, error = %u", format ? format : "",
                 static_cast<unsigned>(EINVAL));
        return {};
    }
    const int len = std::snprintf(nullptr, 0, format, n);
    if (len <= 0)
        return {};
    std::string name(static_cast<size_t>(len) + 1, '\0');
    std::snprintf(name.data(), name.size(), format, n);
    name.resize(static_cast<size_t>(len));
    return name;
}
#pragma GCC diagnostic pop

void PutLE(uint8_t* p, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The 14-byte file header and the 40-byte information header of a bottom-up 24-bit bitmap.
std::array<uint8_t, 54> BmpHeaders(int width, int height)
{
    const uint32_t imageSize = static_cast<uint32_t>(ZubStride24(width) * height);
    std::array<uint8_t, 54> h{};
    PutLE(&h[0], 19778, 2);  // "BM"
    PutLE(&h[2], 54 + imageSize, 4);
    PutLE(&h[10], 54, 4);
    PutLE(&h[14], 40, 4);
    PutLE(&h[18], static_cast<uint32_t>(width), 4);
    PutLE(&h[22], static_cast<uint32_t>(height), 4);
    PutLE(&h[26], 1, 2);
    PutLE(&h[28], 24, 2);
    PutLE(&h[34], imageSize, 4);
    return h;
}

void AppendNumber(std::string& line, int64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof(digits), value);
    line.append(digits, result.ptr);
}

}  // namespace

// ---- Construction and buffers -------------------------------------------------------------

CZubFrame::CZubFrame()
{
    Create(0, 0, FRAME_MONO8);
    m_pColumn = std::make_unique<uint8_t[]>(kInitialColumnSize);
    m_nColumnSize = kInitialColumnSize;
    FillGrayTables();
}

CZubFrame::CZubFrame(CZubFrame&& other) noexcept
{
    FillGrayTables();
    TakeFrom(other);
}

CZubFrame& CZubFrame::operator=(CZubFrame&& other) noexcept
{
    if (this != &other)
        TakeFrom(other);
    return *this;
}

void CZubFrame::TakeFrom(CZubFrame& other) noexcept
{
    m_iWidth = other.m_iWidth;
    m_iHeight = other.m_iHeight;
    m_iBits = other.m_iBits;
    m_bColor = other.m_bColor;
    m_iAvgCount = other.m_iAvgCount;
    m_aHisto = other.m_aHisto;
    m_buffer = std::move(other.m_buffer);
    m_nBufferBytes = other.m_nBufferBytes;
    m_pRGB = other.m_pRGB;
    m_pBits = other.m_pBits;
    m_pBits16 = other.m_pBits16;
    m_pColumn = std::move(other.m_pColumn);
    m_nColumnSize = other.m_nColumnSize;

    other.m_iWidth = other.m_iHeight = 0;
    other.m_iBits = FRAME_MONO8;
    other.m_bColor = false;
    other.m_iAvgCount = 0;
    other.m_nBufferBytes = 0;
    other.m_pRGB = other.m_pBits = nullptr;
    other.m_pBits16 = nullptr;
    other.m_nColumnSize = 0;
}

void CZubFrame::FillGrayTables()
{
    // BT.709 luma weights, each term truncated on its own: white becomes 254.
    for (int i = 0; i < 256; ++i)
    {
        m_aLutRed[i] = static_cast<uint8_t>(i * 0.2126);
        m_aLutGreen[i] = static_cast<uint8_t>(i * 0.7152);
        m_aLutBlue[i] = static_cast<uint8_t>(i * 0.0722);
    }
}

void CZubFrame::ReleaseBuffer()
{
    m_buffer.reset();
    m_nBufferBytes = 0;
    m_pRGB = m_pBits = nullptr;
    m_pBits16 = nullptr;
}

void CZubFrame::AllocateBuffer(size_t bytes, bool zeroed)
{
    const size_t words = (bytes + 1) / 2;
    m_buffer = zeroed ? std::make_unique<uint16_t[]>(words)
                      : std::make_unique_for_overwrite<uint16_t[]>(words);
    m_nBufferBytes = bytes;
    m_pBits16 = m_buffer.get();
    m_pBits = reinterpret_cast<uint8_t*>(m_buffer.get());
    m_pRGB = m_pBits;
}

size_t CZubFrame::GetStride() const
{
    switch (m_iBits)
    {
    case FRAME_COLOR_RGB24:
        return static_cast<size_t>(ZubStride24(m_iWidth));
    case FRAME_MONO16:
        return 2 * Width();
    default:
        return Width();
    }
}

bool CZubFrame::SameSize(const CZubFrame& other, int bits) const
{
    return other.m_iBits == bits && other.m_iWidth == m_iWidth && other.m_iHeight == m_iHeight;
}

void CZubFrame::Create(int width, int height, int bits)
{
    // A negative size would wrap into a huge buffer: such a frame is empty.
    m_iWidth = std::max(width, 0);
    m_iHeight = std::max(height, 0);
    m_iBits = bits;
    m_iAvgCount = 0;
    m_bColor = bits == FRAME_COLOR_RGB24;
    ReleaseBuffer();
    const size_t bytes = BufferBytes(m_iWidth, m_iHeight, bits);
    if (bytes > 0)
        AllocateBuffer(bytes, true);
}

void CZubFrame::CopyFrom(const CZubFrame& src)
{
    if (&src == this)
        return;
    if (m_iWidth != src.m_iWidth || m_iHeight != src.m_iHeight || m_iBits != src.m_iBits
        || m_nBufferBytes != src.m_nBufferBytes)
        ReleaseBuffer();
    m_iWidth = src.m_iWidth;
    m_iHeight = src.m_iHeight;
    m_bColor = src.m_bColor;
    m_iBits = src.m_iBits;
    m_iAvgCount = src.m_iAvgCount;
    m_aHisto = src.m_aHisto;
    if (!src.HasBuffer())
    {
        ReleaseBuffer();
        return;
    }
    if (!HasBuffer())
        AllocateBuffer(src.m_nBufferBytes, false);
    std::memcpy(m_pBits, src.m_pBits, m_nBufferBytes);
}

void CZubFrame::SetPixels(const uint8_t* pixels)
{
    if (!Require(pixels != nullptr))
        return;
    if (m_iBits != FRAME_COLOR_RGB24)
    {
        ZubMessageBox("CZubFrame::SetPixels -> m_iBits != FRAME_COLOR_RGB24");
        return;
    }
    if (HasBuffer())
        std::memcpy(m_pRGB, pixels, m_nBufferBytes);
}

// ---- Whole-frame arithmetic ---------------------------------------------------------------

void CZubFrame::AddToAverage(const CZubFrame& src)
{
    if (!Require(m_iBits == FRAME_MONO16 && SameSize(src, FRAME_MONO8)))
        return;
    if (m_iAvgCount == 0 && HasBuffer())
        std::fill_n(m_pBits16, PixelCount(), uint16_t{0});
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint16_t* acc = GetRow16(y);
        const uint8_t* in = src.GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            acc[x] = static_cast<uint16_t>(acc[x] + in[x]);
    }
    if (++m_iAvgCount >= 256)
        ZubMessageBox("Average of > 255 images.");
}

void CZubFrame::DivideAverage()
{
    if (!Require(m_iBits == FRAME_MONO16 && m_iAvgCount > 0))
        return;
    const uint32_t count = static_cast<uint32_t>(m_iAvgCount);
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint16_t* row = GetRow16(y);
        for (int x = 0; x < m_iWidth; ++x)
            row[x] = static_cast<uint16_t>(row[x] / count);
    }
    m_iAvgCount = 0;
}

void CZubFrame::SubtractAverage(const CZubFrame& mean)
{
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(mean, FRAME_MONO16)))
        return;
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* row = GetRow(y);
        const uint16_t* avg = mean.GetRow16(y);
        // Only the low 8 bits are kept: large differences wrap around on purpose.
        for (int x = 0; x < m_iWidth; ++x)
            row[x] = static_cast<uint8_t>(row[x] - avg[x] + 128);
    }
}

void CZubFrame::SubtractAverageMasked(const CZubFrame& mean, const CZubFrame& mask)
{
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(mean, FRAME_MONO16)
                 && SameSize(mask, FRAME_MONO8)))
        return;
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* row = GetRow(y);
        const uint16_t* avg = mean.GetRow16(y);
        const uint8_t* m = mask.GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            row[x] = m[x] == 1 ? static_cast<uint8_t>(row[x] - avg[x] + 128) : uint8_t{0};
    }
}

void CZubFrame::AddMonoSaturated(const CZubFrame& src)
{
    if (!Require(m_iBits == FRAME_COLOR_RGB24 && SameSize(src, FRAME_MONO8)))
        return;
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* bgr = GetRowRGB(y);
        const uint8_t* in = src.GetRow(y);
        for (int x = 0; x < m_iWidth; ++x, bgr += 3)
        {
            const int add = in[x];
            bgr[0] = static_cast<uint8_t>(std::min(255, bgr[0] + add));
            bgr[1] = static_cast<uint8_t>(std::min(255, bgr[1] + add));
            bgr[2] = static_cast<uint8_t>(std::min(255, bgr[2] + add));
        }
    }
    ++m_iAvgCount;
}

// ---- Conversions --------------------------------------------------------------------------

bool CZubFrame::ConvertAvi2Frame(CZubFrame& dst, SZubPoint center, SZubSize size,
                                 int channel, const CZubFrame* converted) const
{
    if (converted && !Require(converted->m_iBits == FRAME_MONO8 &&
                              converted->m_iWidth == m_iWidth && converted->m_iHeight == m_iHeight))
        converted = nullptr;
    if (!Require(m_iBits == FRAME_COLOR_RGB24 && dst.m_iBits == FRAME_MONO8))
        return false;
    bool inside = true;
    int x0 = 0, x1 = m_iWidth, y0 = 0, y1 = m_iHeight;
    if (center != SZubPoint{} && size != SZubSize{})
    {
        x0 = center.x - size.cx / 2;
        y0 = center.y - size.cy / 2;
        x1 = x0 + size.cx;
        y1 = y0 + size.cy;
    }
    int dx = 0, dy = 0;
    if (x0 < 0 || y0 < 0 || x1 > m_iWidth || y1 > m_iHeight)
    {
        inside = false;
        ZubApp().m_log.LogTraceText("ConvertAvi2Frame: ROI outside frame.");
        if (dst.HasBuffer())
            std::memset(dst.m_pBits, 0, dst.m_nBufferBytes);
        if (x0 < 0)
        {
            dx = -x0;
            x0 = 0;
        }
        if (y0 < 0)
        {
            dy = -y0;
            y0 = 0;
        }
        x1 = std::min(x1, m_iWidth);
        y1 = std::min(y1, m_iHeight);
    }
    // A destination smaller than the region only receives what fits.
    x1 = std::min(x1, x0 + dst.m_iWidth - dx);
    y1 = std::min(y1, y0 + dst.m_iHeight - dy);
    if (channel < 0 || channel > 3)
        ZubTrace("ConvertToGray: ERROR Channel");
    else if (converted)
        converted->CopyRegion(dst, x0, x1, y0, y1, dx, dy);
    else
        ConvertRegion(dst, x0, x1, y0, y1, dx, dy, channel);
    return inside;
}

void CZubFrame::ConvertRegion(CZubFrame& dst, int x0, int x1, int y0, int y1, int dx, int dy,
                              int channel) const
{
    const int width = x1 - x0;
    if (width <= 0)
        return;
    for (int y = y0; y < y1; ++y)
    {
        const uint8_t* bgr = GetPixelRGB(x0, y);
        uint8_t* out = dst.GetPixel(dx, dy + y - y0);
        if (channel == 0)
        {
            for (int x = 0; x < width; ++x, bgr += 3)
                out[x] = static_cast<uint8_t>(m_aLutBlue[bgr[0]] + m_aLutGreen[bgr[1]]
                                              + m_aLutRed[bgr[2]]);
        }
        else
        {
            // Channel 1 red, 2 green, 3 blue: byte 2, 1, 0 of the pixel.
            const uint8_t* in = bgr + (3 - channel);
            for (int x = 0; x < width; ++x, in += 3)
                out[x] = *in;
        }
    }
}

void CZubFrame::CopyRegion(CZubFrame& dst, int x0, int x1, int y0, int y1, int dx, int dy) const
{
    const int width = x1 - x0;
    if (width <= 0)
        return;
    for (int y = y0; y < y1; ++y)
        std::memcpy(dst.GetPixel(dx, dy + y - y0), GetPixel(x0, y), static_cast<size_t>(width));
}

uint32_t CZubFrame::Divisor16To8() const
{
    const int maxValue = GetMaxValue();
    if (maxValue == 0)
        return 1;
    return maxValue < 256 ? 255u : static_cast<uint32_t>(maxValue);
}

void CZubFrame::ConvertTo8bpp(const CZubFrame& src)
{
    if (src.m_iBits != FRAME_MONO16)
    {
        ZubMessageBox("ConvertTo8bpp");
        return;
    }
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(src, FRAME_MONO16)))
        return;
    const uint32_t divisor = src.Divisor16To8();
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* out = GetRow(y);
        const uint16_t* in = src.GetRow16(y);
        for (int x = 0; x < m_iWidth; ++x)
            out[x] = static_cast<uint8_t>(in[x] * 255u / divisor);
    }
}

// ---- Measurements -------------------------------------------------------------------------

void CZubFrame::ComputeHistogram()
{
    if (!Require(m_iBits == FRAME_MONO8))
        return;
    std::array<int64_t, 256> counts{};
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            ++counts[row[x]];
    }
    counts[0] = 0;  // black is not shown
    const int64_t tallest = std::max<int64_t>(1, *std::max_element(counts.begin(), counts.end()));
    for (size_t i = 0; i < counts.size(); ++i)
        m_aHisto[i] = static_cast<int32_t>(counts[i] * 100 / tallest);
}

int CZubFrame::GetMaxValue() const
{
    int best = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        if (m_iBits == FRAME_MONO16)
        {
            const uint16_t* row = GetRow16(y);
            for (int x = 0; x < m_iWidth; ++x)
                best = std::max<int>(best, row[x]);
        }
        else if (m_iBits == FRAME_MONO8)
        {
            const uint8_t* row = GetRow(y);
            for (int x = 0; x < m_iWidth; ++x)
                best = std::max<int>(best, row[x]);
        }
    }
    return best;
}

SZubPoint CZubFrame::GetCenter() const
{
    return {m_iWidth / 2, m_iHeight / 2};
}

SZubPoint CZubFrame::GetCenterOfMass() const
{
    return GetCenterOfMass(SZubPoint{});
}

SZubPoint CZubFrame::GetCenterOfMass(SZubPoint p) const
{
    if (!Require(m_iBits == FRAME_MONO8))
        return {-1, -1};
    SSampleWindow w{0, m_iWidth, 0, m_iHeight};
    if (p != SZubPoint{})
    {
        // The largest window centred on p that stays inside the frame.
        if (p.x < m_iWidth / 2)
            w.x1 = 2 * p.x;
        else
            w.x0 = 2 * p.x - m_iWidth;
        if (p.y < m_iHeight / 2)
            w.y1 = 2 * p.y;
        else
            w.y0 = 2 * p.y - m_iHeight;
    }
    // An odd size can put the start one pixel before the frame: keep the sampling grid.
    if (w.x0 < 0)
        w.x0 += (1 - w.x0) / 2 * 2;
    if (w.y0 < 0)
        w.y0 += (1 - w.y0) / 2 * 2;
    w.x1 = std::min(w.x1, m_iWidth);
    w.y1 = std::min(w.y1, m_iHeight);

    // The sky's own level would pull the centre toward the window's middle, the more so the
    // farther the planet has drifted: only what rises above the sky is weighed.
    return WeightedCentre(*this, w, SkyLevel(SampledHistogram(*this, w)));
}

SZubSize CZubFrame::GetPlanetSize(int x, int y)
{
    if (!Require(m_iBits == FRAME_MONO8))
        return {};
    SZubSize size;
    // A point off the frame has no row or column to measure: its extent is 0, as at a border.
    if (y >= 0 && y < m_iHeight)
        size.cx = MeasureExtent(GetRow(y), m_iWidth, x);
    if (x >= 0 && x < m_iWidth)
    {
        const size_t height = static_cast<size_t>(m_iHeight);
        if (m_nColumnSize < height)
        {
            m_pColumn = std::make_unique_for_overwrite<uint8_t[]>(height);
            m_nColumnSize = height;
        }
        const uint8_t* in = m_pBits + x;
        for (size_t r = 0; r < height; ++r, in += Width())
            m_pColumn[r] = *in;
        size.cy = MeasureExtent(m_pColumn.get(), m_iHeight, y);
    }
    return size;
}

int CZubFrame::MeasureExtent(const uint8_t* profile, int len, int index)
{
    const int w = SmoothingWidth();
    if (profile == nullptr || len < w)
        return 0;
    const std::vector<int> q = SmoothProfile(profile, len, w);
    const int threshold = ThresholdOf(q, 255).iThreshold;
    int i = 0;
    for (; i < len / 2; ++i)
    {
        if (index - i < 0 || index + i >= len)
            return 0;  // the bright run reaches the border
        if (q[index - i] < threshold || q[index + i] < threshold)
            break;
    }
    return 2 * i + 1;
}

SZubThreshold CZubFrame::ProfileThreshold16(const uint16_t* profile, int len)
{
    const int w = SmoothingWidth();
    if (profile == nullptr || len < w)
        return {};
    const SProfileLevels levels = ThresholdOf(SmoothProfile(profile, len, w), 65535);
    return {levels.iThreshold, levels.iMax};
}

void CZubFrame::GetMaxPixel(CZubCandidate& record) const
{
    if (!Require(m_iBits == FRAME_MONO8))
        return;
    int best = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
        {
            if (row[x] > best)
            {
                best = row[x];
                record.m_iKivValue = best;
                record.m_ptKiv = {x, y};
            }
        }
    }
}

void CZubFrame::GetMaxPixelMasked(CZubCandidate& record, const CZubFrame& mask) const
{
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(mask, FRAME_MONO8)))
        return;
    // Difference frames are centred on 128: a flash must stand that far above no change.
    const int threshold = 128 + ZubApp().m_params.MinIncrBright;
    int best = 0;
    for (int y = 1; y < m_iHeight - 1; ++y)
    {
        const uint8_t* above = GetRow(y - 1);
        const uint8_t* row = GetRow(y);
        const uint8_t* below = GetRow(y + 1);
        const uint8_t* m = mask.GetRow(y);
        for (int x = 1; x < m_iWidth - 1; ++x)
        {
            const int v = row[x];
            if (m[x] == 1 && v > best && v > threshold && above[x] > threshold
                && below[x] > threshold && row[x - 1] > threshold && row[x + 1] > threshold)
            {
                best = v;
                record.m_iKivValue = v;
                record.m_ptKiv = {x, y};
            }
        }
    }
}

int CZubFrame::GetMean(const CZubFrame* mask) const
{
    if (!Require(m_iBits == FRAME_MONO8 && (!mask || SameSize(*mask, FRAME_MONO8))))
        return 0;
    int64_t sum = 0;
    int64_t count = 0;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint8_t* row = GetRow(y);
        if (!mask)
        {
            for (int x = 0; x < m_iWidth; ++x)
                sum += row[x];
            count += m_iWidth;
            continue;
        }
        // Branch-free, so that the compiler can vectorise the row.
        const uint8_t* m = mask->GetRow(y);
        uint32_t rowSum = 0;
        uint32_t rowCount = 0;
        for (int x = 0; x < m_iWidth; ++x)
        {
            const uint32_t inside = m[x] == 1;
            rowSum += row[x] * inside;
            rowCount += inside;
        }
        sum += rowSum;
        count += rowCount;
    }
    return count > 0 ? static_cast<int>(sum / count) : 0;
}

void CZubFrame::MakeMask(CZubFrame& mask) const
{
    if (!Require(m_iBits == FRAME_MONO16 && mask.m_iBits == FRAME_MONO8
                 && mask.m_iWidth == m_iWidth && mask.m_iHeight == m_iHeight)
        || m_iHeight == 0)
        return;
    const int threshold = ProfileThreshold16(GetRow16(GetCenter().y), m_iWidth).iThreshold;
    for (int y = 0; y < m_iHeight; ++y)
    {
        const uint16_t* in = GetRow16(y);
        uint8_t* out = mask.GetRow(y);
        for (int x = 0; x < m_iWidth; ++x)
            out[x] = in[x] > threshold ? 1 : 0;
    }
}

int CZubFrame::CountCenterRow() const
{
    if (!Require(m_iBits == FRAME_MONO8) || m_iHeight == 0)
        return 0;
    const uint8_t* row = GetRow(m_iHeight / 2);
    return static_cast<int>(std::count_if(row, row + m_iWidth, [](uint8_t v) { return v != 0; }));
}

bool CZubFrame::ErodeMask()
{
    if (!Require(m_iBits == FRAME_MONO8))
        return false;
    constexpr uint8_t kEroded = 2;
    bool changed = false;
    // Marks are 2, not 0, so this step peels exactly one layer.
    for (int y = 1; y < m_iHeight - 1; ++y)
    {
        const uint8_t* above = GetRow(y - 1);
        uint8_t* row = GetRow(y);
        const uint8_t* below = GetRow(y + 1);
        for (int x = 1; x < m_iWidth - 1; ++x)
        {
            if (row[x] == 1 && (above[x] == 0 || below[x] == 0 || row[x - 1] == 0 || row[x + 1] == 0))
                row[x] = kEroded;
        }
    }
    for (size_t i = 0; i < PixelCount(); ++i)
    {
        if (m_pBits[i] == kEroded)
        {
            m_pBits[i] = 0;
            changed = true;
        }
    }
    return changed;
}

void CZubFrame::ReduceMask(int n)
{
    if (n <= 0)
        return;
    const int target = CountCenterRow() - n;
    int count = 0;
    // Stops early once nothing is left to erode, however large n is.
    do
    {
        if (!ErodeMask())
            break;
        count = CountCenterRow();
    } while (count > target && count > 0);
}

namespace
{
// Clamped before the cast: the settings file may hold any factor (1e8, a negative one, nan).
int32_t ScaleSide(int32_t side, double factor)
{
    const double scaled = side * factor;
    if (!(scaled > 0.0))
        return 0;
    return static_cast<int32_t>(std::min(scaled, static_cast<double>(INT32_MAX)));
}
}  // namespace

SZubSize CZubFrame::ScaleSize(SZubSize s)
{
    const double factor = ZubApp().m_params.ROIFactorSize;
    return {ScaleSide(s.cx, factor), ScaleSide(s.cy, factor)};
}

// ---- Output -------------------------------------------------------------------------------

bool CZubFrame::SaveBmp(const std::string& path) const
{
    return WriteBmp(path, false);
}

bool CZubFrame::SaveMaskBmp(const std::string& path) const
{
    return WriteBmp(path, true);
}

bool CZubFrame::SaveBmpFormatted(const char* format, int n) const
{
    const std::string path = FormatName(format, n);
    return !path.empty() && SaveBmp(path);
}

bool CZubFrame::WriteBmp(const std::string& path, bool mask) const
{
    FILE* file = CreateOutputFile(path);
    if (!file)
        return false;
    const std::array<uint8_t, 54> headers = BmpHeaders(m_iWidth, m_iHeight);
    std::fwrite(headers.data(), 1, headers.size(), file);

    if (m_iBits == FRAME_COLOR_RGB24 && HasBuffer())
    {
        std::fwrite(m_pRGB, 1, m_nBufferBytes, file);
    }
    else if ((m_iBits == FRAME_MONO8 || m_iBits == FRAME_MONO16) && HasBuffer())
    {
        // Gray bytes by value; a mask shows its 1s as white.
        std::array<uint8_t, 256> gray;
        for (int i = 0; i < 256; ++i)
            gray[i] = static_cast<uint8_t>(i);
        if (mask)
            gray[1] = 255;
        const uint32_t divisor = m_iBits == FRAME_MONO16 ? Divisor16To8() : 1;
        std::vector<uint8_t> line(static_cast<size_t>(ZubStride24(m_iWidth)), 0);
        for (int y = 0; y < m_iHeight; ++y)
        {
            uint8_t* out = line.data();
            if (m_iBits == FRAME_MONO8)
            {
                const uint8_t* in = GetRow(y);
                for (int x = 0; x < m_iWidth; ++x, out += 3)
                    out[0] = out[1] = out[2] = gray[in[x]];
            }
            else
            {
                const uint16_t* in = GetRow16(y);
                for (int x = 0; x < m_iWidth; ++x, out += 3)
                    out[0] = out[1] = out[2] = static_cast<uint8_t>(in[x] * 255u / divisor);
            }
            std::fwrite(line.data(), 1, line.size(), file);
        }
    }
    std::fclose(file);
    return true;
}

bool CZubFrame::SaveCsv(const char* format, int n) const
{
    const std::string path = FormatName(format, n);
    if (path.empty())
        return false;
    FILE* file = CreateOutputFile(path);
    if (!file)
        return false;
    std::string line = "Col";
    for (int x = 0; x < m_iWidth; ++x)
    {
        line += ';';
        AppendNumber(line, x);
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
    if (m_iBits == FRAME_MONO8 && HasBuffer())
    {
        for (int y = 0; y < m_iHeight; ++y)
        {
            line = "Row: ";
            AppendNumber(line, y);
            const uint8_t* row = GetRow(y);
            for (int x = 0; x < m_iWidth; ++x)
            {
                line += ';';
                AppendNumber(line, row[x]);
            }
            line += "\r\n";
            std::fwrite(line.data(), 1, line.size(), file);
        }
    }
    std::fclose(file);
    return true;
}
