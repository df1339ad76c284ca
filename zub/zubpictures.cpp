#include "zubpictures.h"

#include "zubapp.h"
#include "zubdoc.h"
#include "zubframe.h"

#include <algorithm>
#include <cmath>
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

// The number with its top left corner at (x, y).
void Number(SZubPicture& p, int x, int y, int number, const uint8_t* colour)
{
    for (const char c : std::to_string(number))
    {
        const uint16_t bits = kDigits[c - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (bits & (1u << (14 - 3 * row - col)))
                    for (int dy = 0; dy < kDigitScale; ++dy)
                        for (int dx = 0; dx < kDigitScale; ++dx)
                            Plot(p, x + col * kDigitScale + dx, y + row * kDigitScale + dy, colour);
        x += 4 * kDigitScale;
    }
}
}  // namespace

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
