// The one image type: a frame of 8-bit gray, 16-bit accumulator or 24-bit BGR pixels,
// with the arithmetic, conversions, measurements and file output the phases need.
#pragma once

#include "zubtypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CZubCandidate;

// Pixel layouts (bits per pixel).
enum : int32_t
{
    FRAME_MONO8 = 8,
    FRAME_MONO16 = 16,
    FRAME_COLOR_RGB24 = 24,
};

// Threshold and maximum of a 16-bit profile (ProfileThreshold16).
struct SZubThreshold
{
    int32_t iThreshold = 0;
    int32_t iMax = 0;
};

// Layouts: 24 bits: rows of ZubStride24(width) bytes, pixels blue, green, red.
// 8 bits: width x height bytes, rows packed. 16 bits: width x height host-order words.
// Rows stay in the order the source delivered them; row 0 is the first in memory.
// Operations taking another frame require equal width and height; violating a
// precondition is a caller defect (asserted in debug builds, ignored otherwise).
class CZubFrame
{
public:
    CZubFrame();
    ~CZubFrame() = default;
    CZubFrame(const CZubFrame&) = delete;
    CZubFrame& operator=(const CZubFrame&) = delete;
    // The moved-from frame is left empty (0 x 0, 8 bits).
    CZubFrame(CZubFrame&& other) noexcept;
    CZubFrame& operator=(CZubFrame&& other) noexcept;

    // ---- Buffers ---------------------------------------------------------------------
    // New zero-filled buffer; (0, 0) or an unknown layout leaves the frame without one.
    void Create(int width, int height, int bits);
    // Shape, pixels, addition count and histogram of src.
    void CopyFrom(const CZubFrame& src);
    // Copies a 24-bit buffer laid out as this frame (stride x height bytes).
    void SetPixels(const uint8_t* pixels);

    bool HasBuffer() const { return m_buffer != nullptr; }
    // Bytes per row of the current layout, and bytes of the whole buffer.
    size_t GetStride() const;
    size_t GetBufferSize() const { return m_nBufferBytes; }

    // ---- Pixel access (pointers into the buffer) ---------------------------------------
    uint8_t* GetRowRGB(int y) { return m_pRGB + static_cast<size_t>(y) * GetStride(); }
    const uint8_t* GetRowRGB(int y) const { return m_pRGB + static_cast<size_t>(y) * GetStride(); }
    uint8_t* GetPixelRGB(int x, int y) { return GetRowRGB(y) + 3 * static_cast<size_t>(x); }
    const uint8_t* GetPixelRGB(int x, int y) const { return GetRowRGB(y) + 3 * static_cast<size_t>(x); }
    uint8_t* GetRow(int y) { return m_pBits + static_cast<size_t>(y) * Width(); }
    const uint8_t* GetRow(int y) const { return m_pBits + static_cast<size_t>(y) * Width(); }
    uint8_t* GetPixel(int x, int y) { return GetRow(y) + x; }
    const uint8_t* GetPixel(int x, int y) const { return GetRow(y) + x; }
    uint16_t* GetRow16(int y) { return m_pBits16 + static_cast<size_t>(y) * Width(); }
    const uint16_t* GetRow16(int y) const { return m_pBits16 + static_cast<size_t>(y) * Width(); }
    uint16_t* GetPixel16(int x, int y) { return GetRow16(y) + x; }
    const uint16_t* GetPixel16(int x, int y) const { return GetRow16(y) + x; }

    // ---- Whole-frame arithmetic ----------------------------------------------------------
    void AddToAverage(const CZubFrame& src);                                 // this 16, src 8
    void DivideAverage();                                                    // this 16
    void SubtractAverage(const CZubFrame& mean);                             // this 8, mean 16
    void SubtractAverageMasked(const CZubFrame& mean, const CZubFrame& mask);  // mask 8
    void AddMonoSaturated(const CZubFrame& src);                             // this 24, src 8

    // ---- Conversions ---------------------------------------------------------------------
    // Gray (channel 0) or red/green/blue (1/2/3) of the region of size `size` centred on
    // `center` (the whole frame when either is zero) into the 8-bit `dst`. False when the
    // region had to be clipped to the frame. `converted`, when given, is this whole frame
    // already reduced with the same channel: the region is then copied from it.
    bool ConvertAvi2Frame(CZubFrame& dst, SZubPoint center, SZubSize size, int channel,
                          const CZubFrame* converted = nullptr) const;
    // This 8 bits from a 16-bit src, stretched so that a maximum above 255 becomes 255.
    void ConvertTo8bpp(const CZubFrame& src);

    // ---- Measurements --------------------------------------------------------------------
    void ComputeHistogram();
    int GetMaxValue() const;
    SZubPoint GetCenter() const;
    // Centre of the brightness above the sky's level, over every second pixel of every
    // second row; negative coordinates when the sampled window is black.
    SZubPoint GetCenterOfMass() const;
    SZubPoint GetCenterOfMass(SZubPoint p) const;
    // Planet width along row y and height along column x; 0 for a run touching the border.
    SZubSize GetPlanetSize(int x, int y);
    static int MeasureExtent(const uint8_t* profile, int len, int index);
    void GetMaxPixel(CZubCandidate& record) const;
    void GetMaxPixelMasked(CZubCandidate& record, const CZubFrame& mask) const;
    // Mean of the whole frame (mask null) or of the pixels where mask is 1; 0 when none.
    int GetMean(const CZubFrame* mask) const;
    void MakeMask(CZubFrame& mask) const;  // this 16, mask 8
    static SZubThreshold ProfileThreshold16(const uint16_t* profile, int len);
    int CountCenterRow() const;
    void ReduceMask(int n);
    // One erosion step; true when it changed a pixel.
    bool ErodeMask();
    static SZubSize ScaleSize(SZubSize s);

    // ---- Output --------------------------------------------------------------------------
    // All return false when the file could not be created (traced on stderr). A bitmap stores
    // its bottom line first: rows of a frame whose buffer holds its top line first (bBottomUp
    // false, see ZubRowsBottomUp) are written last to first, so that it shows upright.
    bool SaveBmp(const std::string& path, bool bBottomUp = true) const;
    bool SaveBmpFormatted(const char* format, int n, bool bBottomUp = true) const;
    bool SaveMaskBmp(const std::string& path, bool bBottomUp = true) const;
    bool SaveCsv(const char* format, int n) const;

    // ---- Data (read freely; shape changes only through Create and CopyFrom) ---------------
    int32_t m_iWidth = 0;
    int32_t m_iHeight = 0;
    uint8_t* m_pRGB = nullptr;       // the buffer as 24-bit rows
    uint8_t* m_pBits = nullptr;      // the buffer as 8-bit pixels
    uint16_t* m_pBits16 = nullptr;   // the buffer as 16-bit pixels
    std::array<int32_t, 256> m_aHisto{};  // percent of the tallest bin
    int32_t m_iBits = FRAME_MONO8;
    bool m_bColor = false;
    int32_t m_iAvgCount = 0;
    std::array<uint8_t, 256> m_aLutRed{};
    std::array<uint8_t, 256> m_aLutGreen{};
    std::array<uint8_t, 256> m_aLutBlue{};

private:
    size_t Width() const { return static_cast<size_t>(m_iWidth); }
    size_t PixelCount() const { return Width() * static_cast<size_t>(m_iHeight); }
    bool SameSize(const CZubFrame& other, int bits) const;
    void ReleaseBuffer();
    void AllocateBuffer(size_t bytes, bool zeroed);
    void FillGrayTables();
    void ConvertRegion(CZubFrame& dst, int x0, int x1, int y0, int y1, int dx, int dy,
                       int channel) const;
    void CopyRegion(CZubFrame& dst, int x0, int x1, int y0, int y1, int dx, int dy) const;
    // Divisor that maps a 16-bit frame to 8 bits (v * 255 / divisor).
    uint32_t Divisor16To8() const;
    bool WriteBmp(const std::string& path, bool mask, bool bBottomUp) const;
    void TakeFrom(CZubFrame& other) noexcept;

    // Words, so the 16-bit view is aligned; the byte views alias it as unsigned char.
    std::unique_ptr<uint16_t[]> m_buffer;
    size_t m_nBufferBytes = 0;
    // Scratch column of GetPlanetSize; grows with the tallest frame measured.
    std::unique_ptr<uint8_t[]> m_pColumn;
    size_t m_nColumnSize = 0;
};
