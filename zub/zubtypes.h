// Small value types shared by the whole core.
#pragma once

#include <cstdint>

// A point in pixel coordinates, x = column, y = row, both from 0.
struct SZubPoint
{
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const SZubPoint&, const SZubPoint&) = default;
};

// a lies in the square of half-side r around b, bounds excluded: the closeness of the
// duplicate rejection. Any stored radius, without overflow.
inline bool ZubIsNear(SZubPoint a, SZubPoint b, int r)
{
    const int64_t radius = r;
    return b.x - radius < a.x && a.x < b.x + radius && b.y - radius < a.y && a.y < b.y + radius;
}

// A size in pixels, width first.
struct SZubSize
{
    int32_t cx = 0;
    int32_t cy = 0;
    friend bool operator==(const SZubSize&, const SZubSize&) = default;
};

// The 40-byte bitmap information header that describes every decoded frame buffer:
// 24-bit rows padded to 4 bytes, in the order the source delivers them.
struct BITMAPINFOHEADER
{
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER must be 40 bytes");

// Row order of a frame buffer: the media source delivers the bottom line first (as a bitmap
// with positive height stores it), a SER file its top line first. Every display and written
// picture shows the video as its file stores it, first row at the top, through these two.
constexpr bool ZubRowsBottomUp(bool bSer)
{
    return !bSer;
}

// The picture line (0 at the top) that shows buffer row `row` of a frame `height` rows high.
constexpr int ZubPictureLine(int row, int height, bool bBottomUp)
{
    return bBottomUp ? height - 1 - row : row;
}

// Bytes in one 24-bit row of the given width, padded to a multiple of 4.
constexpr int64_t ZubStride24(int64_t width)
{
    return ((width * 24 + 31) / 32) * 4;
}
