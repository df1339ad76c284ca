#include "zubpictures.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubdialogs.h"
#include "zubdoc.h"
#include "zubframe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace
{
constexpr int kCircleRadius = 8;
constexpr int kDigitScale = 2;
// Digits 0 to 9, three columns by five rows, the top row in the highest bits.
constexpr uint16_t kDigits[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};
constexpr uint8_t kKivColour[3] = {0, 200, 255};
constexpr uint8_t kZubColour[3] = {255, 220, 0};

// Pixels in the source's row order, turned upright.
SZubPicture Upright(const CZubDoc& doc, int width, int height, int channels, std::vector<uint8_t> pixels)
{
    SZubPicture picture{width, height, channels, std::move(pixels)};
    if (doc.RowsBottomUp())
    {
        const size_t row = static_cast<size_t>(width) * channels;
        for (int y = 0; y < height / 2; ++y)
            std::swap_ranges(picture.pixels.begin() + static_cast<std::ptrdiff_t>(row * y),
                             picture.pixels.begin() + static_cast<std::ptrdiff_t>(row * (y + 1)),
                             picture.pixels.begin() + static_cast<std::ptrdiff_t>(row * (height - 1 - y)));
    }
    return picture;
}

void Plot(SZubPicture& p, int x, int y, const uint8_t* colour)
{
    if (x < 0 || y < 0 || x >= p.iWidth || y >= p.iHeight)
        return;
    std::copy_n(colour, 3, p.pixels.begin() + (static_cast<std::ptrdiff_t>(y) * p.iWidth + x) * 3);
}

void Circle(SZubPicture& p, int cx, int cy, const uint8_t* colour)
{
    const int steps = 8 * kCircleRadius;
    for (int k = 0; k < steps; ++k)
    {
        const double a = 2.0 * 3.14159265358979 * k / steps;
        Plot(p, cx + static_cast<int>(std::lround(kCircleRadius * std::cos(a))),
             cy + static_cast<int>(std::lround(kCircleRadius * std::sin(a))), colour);
    }
}

// The number with its top left corner at (x, y); a minus sign is a bar.
void Number(SZubPicture& p, int x, int y, int number, const uint8_t* colour)
{
    for (const char c : std::to_string(number))
    {
        const uint16_t bits = c == '-' ? 0x01C0 : kDigits[c - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (bits & (1u << (14 - 3 * row - col)))
                    for (int dy = 0; dy < kDigitScale; ++dy)
                        for (int dx = 0; dx < kDigitScale; ++dx)
                            Plot(p, x + col * kDigitScale + dx, y + row * kDigitScale + dy, colour);
        x += 4 * kDigitScale;
    }
}
int NumberWidth(int number)
{
    return static_cast<int>(std::to_string(number).size()) * 4 * kDigitScale - kDigitScale;
}

SZubPicture Blank(int width, int height, uint8_t level)
{
    return {width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, level)};
}

void Line(SZubPicture& p, int x0, int y0, int x1, int y1, const uint8_t* colour)
{
    const int steps = std::max({std::abs(x1 - x0), std::abs(y1 - y0), 1});
    for (int k = 0; k <= steps; ++k)
        Plot(p, x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps, colour);
}

// One patch of 32 x 32 pixels (gray or blue-green-red), enlarged `scale` times, upright.
void DrawPatch(SZubPicture& p, int x0, int y0, const uint8_t* patch, int pixelBytes, bool bBottomUp, int scale)
{
    constexpr int side = CZubImpact::kPatchSide;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
        {
            const uint8_t* in = patch + (static_cast<size_t>(y) * side + x) * pixelBytes;
            const uint8_t rgb[3] = {in[pixelBytes == 3 ? 2 : 0], in[pixelBytes == 3 ? 1 : 0], in[0]};
            const int line = ZubPictureLine(y, side, bBottomUp);
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx)
                    Plot(p, x0 + x * scale + dx, y0 + line * scale + dy, rgb);
        }
}
}  // namespace

SZubPicture ZubStripPicture(const CZubDoc& doc, const CZubImpact& impact)
{
    constexpr int scale = 2, gap = 4, label = 16;
    constexpr int cell = CZubImpact::kPatchSide * scale;
    constexpr uint8_t kWhite[3] = {230, 230, 230};
    constexpr uint8_t kMark[3] = {255, 60, 60};
    SZubPicture p = Blank(kZubStripThumbnails * (cell + gap) + gap, cell + 2 * gap + label, 32);
    const int frames = ZubSlotFrames(impact, doc.m_nProcessed);
    for (int i = 0; i < kZubStripThumbnails; ++i)
    {
        const int index = ZubStripFrameIndex(impact.m_iFrame, i, frames);
        const uint8_t* patch = index < 0 ? nullptr : impact.GetPatch(index);
        if (!patch)
            continue;
        const int x = gap + i * (cell + gap);
        if (index + 1 == impact.m_iFrame)
            for (int k = 1; k <= 2; ++k)
            {
                Line(p, x - k, gap - k, x + cell - 1 + k, gap - k, kMark);
                Line(p, x - k, gap + cell - 1 + k, x + cell - 1 + k, gap + cell - 1 + k, kMark);
                Line(p, x - k, gap - k, x - k, gap + cell - 1 + k, kMark);
                Line(p, x + cell - 1 + k, gap - k, x + cell - 1 + k, gap + cell - 1 + k, kMark);
            }
        DrawPatch(p, x, gap, patch, impact.m_nPatchPixelBytes, doc.RowsBottomUp(), scale);
        Number(p, x + (cell - NumberWidth(index + 1)) / 2, cell + 2 * gap + 2, index + 1, kWhite);
    }
    return p;
}

SZubPicture ZubCurvePicture(const CZubDoc& doc, const CZubImpact& impact)
{
    constexpr int width = 720, height = 220, left = 56, right = 16, top = 12, bottom = 28;
    constexpr int plotW = width - left - right, plotH = height - top - bottom;
    constexpr uint8_t kAxis[3] = {150, 150, 150};
    constexpr uint8_t kCurve[3] = {255, 255, 255};
    constexpr uint8_t kMark[3] = {255, 60, 60};
    const std::vector<int> series = ZubProfileSeries(impact, ZubSlotFrames(impact, doc.m_nProcessed));
    SZubPicture p = Blank(width, height, 24);
    if (series.empty())
        return p;
    const std::vector<int> columns = ZubProfileColumns(series, plotW);
    const auto [lowest, highest] = std::minmax_element(series.begin(), series.end());
    const int lo = *lowest, hi = std::max(*highest, *lowest + 1);
    auto yOf = [&](int value) { return top + plotH - 1 - (value - lo) * (plotH - 1) / (hi - lo); };
    const int n = static_cast<int>(series.size());
    auto xOf = [&](int frame) { return left + (frame - 1) * (plotW - 1) / std::max(1, n - 1); };

    Line(p, left - 1, top, left - 1, top + plotH, kAxis);
    Line(p, left - 1, top + plotH, left + plotW, top + plotH, kAxis);
    for (const int value : {lo, hi})
        Number(p, left - 6 - NumberWidth(value), yOf(value) - 5, value, kAxis);
    // Frame numbers at round steps (1, 2, 5, 10, 20 ...) along the axis.
    int step = 1;
    for (int base = 1; n / step > 8; base *= 10)
        for (const int f : {1, 2, 5})
            if (n / step > 8)
                step = f * base;
    for (int frame = step; frame <= n; frame += step)
    {
        Line(p, xOf(frame), top + plotH, xOf(frame), top + plotH + 4, kAxis);
        Number(p, xOf(frame) - NumberWidth(frame) / 2, top + plotH + 8, frame, kAxis);
    }
    Line(p, xOf(impact.m_iFrame), top, xOf(impact.m_iFrame), top + plotH - 1, kMark);
    for (int x = 1; x < plotW; ++x)
        Line(p, left + x - 1, yOf(columns[static_cast<size_t>(x - 1)]), left + x,
             yOf(columns[static_cast<size_t>(x)]), kCurve);
    return p;
}

SZubPicture ZubMeanPicture(const CZubDoc& doc)
{
    const CZubFrame& mean = doc.m_frameMean;
    if (!doc.m_bMeanReady || mean.m_iBits != FRAME_MONO16 || !mean.HasBuffer())
        return {};
    std::vector<uint8_t> pixels(static_cast<size_t>(mean.m_iWidth) * mean.m_iHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(std::min<int>(mean.m_pBits16[i], 255));
    return Upright(doc, mean.m_iWidth, mean.m_iHeight, 1, std::move(pixels));
}

SZubPicture ZubMaskPicture(const CZubDoc& doc)
{
    const CZubFrame& mask = doc.m_frameMask;
    if (!doc.m_bMaskReady || mask.m_iBits != FRAME_MONO8 || !mask.HasBuffer())
        return {};
    std::vector<uint8_t> pixels(static_cast<size_t>(mask.m_iWidth) * mask.m_iHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = mask.m_pBits[i] == 1 ? 255 : 0;
    return Upright(doc, mask.m_iWidth, mask.m_iHeight, 1, std::move(pixels));
}

SZubPicture ZubDetectionPicture(const CZubDoc& doc)
{
    const CZubSpotDetector& detector = doc.m_spotDetector;
    const std::vector<float> image = detector.DetectionImage();
    if (image.empty())
        return {};
    // Twice the detection threshold is white: the quiet disc stays dark, a flash stands out.
    const float scale = 255.0f / (2.0f * static_cast<float>(std::max(1, ZubApp().m_params.ZubThreshold)));
    const int w = detector.ImageWidth();
    const int h = detector.ImageHeight();
    std::vector<uint8_t> pixels(image.size() * 3);
    for (size_t i = 0; i < image.size(); ++i)
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(3 * i), 3,
                    static_cast<uint8_t>(std::clamp(image[i] * scale, 0.0f, 255.0f)));
    SZubPicture picture = Upright(doc, w, h, 3, std::move(pixels));
    for (int i = 0; i < doc.CandidateCount(); ++i)
    {
        const CZubImpact& c = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
        const int x = c.m_ptRel.x + w / 2;
        const int y = ZubPictureLine(c.m_ptRel.y + h / 2, h, doc.RowsBottomUp());
        const uint8_t* colour = c.m_iAlgorithm == 2 ? kZubColour : kKivColour;
        Circle(picture, x, y, colour);
        Number(picture, x + kCircleRadius, y - kCircleRadius - 5 * kDigitScale, i + 1, colour);
    }
    return picture;
}

bool ZubPictureToFrame(const SZubPicture& picture, CZubFrame& frame)
{
    frame.Create(0, 0, FRAME_COLOR_RGB24);
    if (picture.Empty())
        return false;
    frame.Create(picture.iWidth, picture.iHeight, FRAME_COLOR_RGB24);
    const size_t rowBytes = static_cast<size_t>(picture.iWidth) * picture.iChannels;
    for (int y = 0; y < picture.iHeight; ++y)
    {
        const uint8_t* src = picture.pixels.data() + y * rowBytes;
        uint8_t* dst = frame.GetRowRGB(y);
        for (int x = 0; x < picture.iWidth; ++x, src += picture.iChannels, dst += 3)
        {
            const bool bGray = picture.iChannels == 1;
            dst[0] = bGray ? src[0] : src[2];
            dst[1] = bGray ? src[0] : src[1];
            dst[2] = src[0];
        }
    }
    return true;
}

SZubPoint ZubPicturePosition(const CZubDoc& doc, const CZubImpact& impact)
{
    // The centre of mass is truncated toward row 0: upward in a top-down picture, downward in
    // a bottom-up one; one row up makes both truncate the same way.
    const int y = impact.m_ptRel.y;
    return {impact.m_ptRel.x, doc.RowsBottomUp() ? 1 - y : y};
}

SZubPoint ZubPictureCentre(const CZubDoc& doc, SZubPoint centre)
{
    // The centre's row is truncated toward row 0, the bottom line of a bottom-up frame: one
    // row up gives what a top-down frame of the same picture gives.
    if (!doc.RowsBottomUp() || centre.y < 0)
        return centre;
    return {centre.x, doc.m_bih.biHeight - 2 - centre.y};
}
