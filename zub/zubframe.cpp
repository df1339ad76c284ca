// The frame: buffers, whole-frame arithmetic and the conversions to monochrome.
#include "zubframe.h"
#include "zubframeinternal.h"

#include "zubapp.h"

#include <algorithm>
#include <cstring>

using namespace zubframe;

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
    // A local width: stores through a byte pointer could otherwise change the member, which
    // keeps the compiler from vectorizing the loop.
    const int width = m_iWidth;
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* row = GetRow(y);
        const uint16_t* avg = mean.GetRow16(y);
        // Only the low 8 bits are kept: large differences wrap around on purpose.
        for (int x = 0; x < width; ++x)
            row[x] = static_cast<uint8_t>(row[x] - avg[x] + 128);
    }
}

void CZubFrame::SubtractAverageMasked(const CZubFrame& mean, const CZubFrame& mask)
{
    if (!Require(m_iBits == FRAME_MONO8 && SameSize(mean, FRAME_MONO16)
                 && SameSize(mask, FRAME_MONO8)))
        return;
    const int width = m_iWidth;
    for (int y = 0; y < m_iHeight; ++y)
    {
        uint8_t* row = GetRow(y);
        const uint16_t* avg = mean.GetRow16(y);
        const uint8_t* m = mask.GetRow(y);
        // Without a branch, so that the loop vectorizes: all bits kept inside the mask, none outside.
        for (int x = 0; x < width; ++x)
            row[x] = static_cast<uint8_t>((row[x] - avg[x] + 128) & -static_cast<int>(m[x] == 1));
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
