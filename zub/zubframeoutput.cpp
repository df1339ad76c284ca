// Frame output: bitmaps and CSV tables of the working images.
#include "zubframe.h"
#include "zubframeinternal.h"

#include "zubapp.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace zubframe;

namespace
{
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

// ---- Output -------------------------------------------------------------------------------

bool CZubFrame::SaveBmp(const std::string& path, bool bBottomUp) const
{
    return WriteBmp(path, false, bBottomUp);
}

bool CZubFrame::SaveMaskBmp(const std::string& path, bool bBottomUp) const
{
    return WriteBmp(path, true, bBottomUp);
}

bool CZubFrame::SaveBmpFormatted(const char* format, int n, bool bBottomUp) const
{
    const std::string path = FormatName(format, n);
    return !path.empty() && SaveBmp(path, bBottomUp);
}

bool CZubFrame::WriteBmp(const std::string& path, bool mask, bool bBottomUp) const
{
    FILE* file = CreateOutputFile(path);
    if (!file)
        return false;
    const std::array<uint8_t, 54> headers = BmpHeaders(m_iWidth, m_iHeight);
    std::fwrite(headers.data(), 1, headers.size(), file);

    if (m_iBits == FRAME_COLOR_RGB24 && HasBuffer() && bBottomUp)
    {
        std::fwrite(m_pRGB, 1, m_nBufferBytes, file);
    }
    else if (m_iBits == FRAME_COLOR_RGB24 && HasBuffer())
    {
        for (int y = m_iHeight - 1; y >= 0; --y)
            std::fwrite(GetRowRGB(y), 1, GetStride(), file);
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
        for (int line0 = 0; line0 < m_iHeight; ++line0)
        {
            const int y = bBottomUp ? line0 : m_iHeight - 1 - line0;
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
