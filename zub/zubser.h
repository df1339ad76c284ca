// Reader of SER planetary-camera recordings: a 178-byte header, the frames one after
// another, then an optional trailer of per-frame UTC time stamps. Every frame is
// converted into a 24-bit blue-green-red buffer described by m_bih, like decoded video.
// 9..15-bit samples may sit in the low or the high bits of their 16-bit word: the layout
// is decided at each open from the same frames, so every pass over a file reads alike.
// A raw colour mosaic (one filtered sample per pixel) is interpolated bilinearly as it is
// converted, so that its pictures and its channels are in colour, not a checkerboard.
#pragma once

#include "zubtypes.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CZubFrame;

class CZubSer
{
public:
    static constexpr int64_t kHeaderSize = 178;
    // Largest raw or converted frame accepted; bigger headers are refused, not allocated.
    static constexpr int64_t kMaxFrameBytes = int64_t(1) << 30;
    // Larger trailers are ignored (a 1 x 1 recording of a billion frames is not real).
    static constexpr int64_t kMaxTimeStamps = int64_t(1) << 24;
    // Frames, spread over the file, looked at to find the layout of 9..15-bit samples.
    static constexpr int kLayoutProbes = 4;

    CZubSer() = default;
    ~CZubSer() = default;
    CZubSer(const CZubSer&) = delete;
    CZubSer& operator=(const CZubSer&) = delete;

    // Opens the file, reads the header and the time-stamp trailer and leaves the file
    // open at frame 0. False for an unreadable file, a short header, a width or height
    // that is not positive, or a frame above kMaxFrameBytes; the reader is then closed
    // and its header facts cleared. Failures are the caller's to report; only a colour id
    // read as mono is logged here, once per file for this reader.
    bool Open(const std::string& path);
    // Closes the file; header facts, time stamps and the last frame stay available.
    void Close();
    // False once closed, and once a pass has ended (until ReadFrame or a restart).
    bool IsOpen() const { return m_file.IsOpen() && !m_bPassEnded; }
    // Converts the next frame into m_pFrame and adds 1 to m_iCurrent. After FrameCount
    // frames (or on a read failure) the pass ends: false, and false again until a
    // restart. The next frame is the one after the last read, unless the caller changed
    // m_iCurrent since: then frame m_iCurrent (0 restarts at the first frame).
    bool ReadNextFrame();
    // Converts frame `index` into m_pFrame and sets m_iCurrent = index; ReadNextFrame
    // goes on with index + 1. Works after the end of a pass, not after Close. False for
    // an index outside 0 .. FrameCount - 1 or a failed read; the file stays open.
    bool ReadFrame(int index);
    // The next ReadNextFrame reads frame 0, whatever was read before.
    void Rewind();

    // Raw access for a reader on another thread: positioned reads and conversions only, no
    // state of the reader changes, so any thread may call them while the file stays open.
    int64_t RawFrameBytes() const { return m_iFrameBytes; }
    // Frame `index` as the file stores it into `raw` (RawFrameBytes() bytes); false outside
    // the frames or on a failed read.
    bool ReadRawFrame(int index, uint8_t* raw) const { return ReadRawRows(index, 0, ImageHeight, raw); }
    // Only rows first .. end - 1 of it, each at its place in `raw`; for a mosaic also the row
    // either side, which the colours of these rows are interpolated from.
    bool ReadRawRows(int index, int first, int end, uint8_t* raw) const;
    // A raw frame as 24-bit rows laid out as m_bih says (the padding is not written).
    void ConvertRawFrame(const uint8_t* raw, uint8_t* bgr) const { ConvertRawRows(raw, 0, ImageHeight, bgr); }
    // Only rows first .. end - 1 of it (a mosaic's rows as ReadRawRows read them).
    void ConvertRawRows(const uint8_t* raw, int first, int end, uint8_t* bgr) const;
    // The tables of ReduceRawFrame for this file's samples: the gray tables of `tables`
    // (channel 0) or the red, green or blue sample (1, 2, 3), composed with the reduction of
    // the samples to 8 bits. Made once per pass. False for another channel.
    struct SReduction
    {
        int iChannel = -1;
        std::array<uint8_t, 256> aRed{}, aGreen{}, aBlue{};  // the gray tables as given
        std::array<uint8_t, 256> aMono{};  // one-sample pixels: the answer per 8-bit sample
        std::vector<uint16_t> pairs;       // one byte per pixel: two pixels per look-up
        std::vector<uint8_t> words;        // two bytes per pixel: the answer per stored word
    };
    bool PrepareReduction(const CZubFrame& tables, int channel, SReduction& reduction) const;
    // A raw frame reduced straight to what ConvertAvi2Frame makes of its 24-bit conversion
    // over the whole frame with the reduction's channel. `mono` is 8 bits, ImageWidth x
    // ImageHeight; false, and nothing written, for another shape or an unprepared reduction.
    bool ReduceRawFrame(const uint8_t* raw, CZubFrame& mono, const SReduction& reduction) const;

    // Per-frame time stamps from the trailer: only when the header's frame count was
    // kept (a cut-off file has no trailer) and the stamps are plausible dates in order.
    bool HasTimeStamps() const { return !m_ticks.empty(); }
    // 100-ns ticks since 0001-01-01 UTC; 0 when absent or out of range.
    int64_t GetFrameTicks(int index) const;
    // Microseconds since 1970-01-01 UTC; false when the frame has no time stamp.
    bool GetFrameUtc(int index, int64_t& unixMicros) const;
    // "YYYY-MM-DD HH:MM:SS.mmm" in UTC, or "" when the frame has no time stamp.
    std::string FormatFrameUtc(int index) const;

    // A cut-off file (the header promises more frames than the file holds): the line that
    // says so, with both counts; otherwise "".
    std::string MissingFramesNote() const;

    // Header facts, in file order. FrameCount is corrected to the whole frames the file
    // holds (m_iHeaderFrameCount keeps the header's value). They survive Close.
    std::array<char, 14> FileID{};
    int32_t LuID = 0;
    // RGB or BGR: three samples per pixel; any other value is one sample. A mosaic is named
    // by the colours of its top-left 2 x 2 cell, row by row; other ids are read as mono.
    static constexpr int32_t kColorMono = 0;
    static constexpr int32_t kColorBayerRggb = 8;
    static constexpr int32_t kColorBayerGrbg = 9;
    static constexpr int32_t kColorBayerGbrg = 10;
    static constexpr int32_t kColorBayerBggr = 11;
    static constexpr int32_t kColorRgb = 100;
    static constexpr int32_t kColorBgr = 101;
    int32_t ColorID = 0;
    bool IsMosaic() const { return ColorID >= kColorBayerRggb && ColorID <= kColorBayerBggr; }
    bool HasColor() const { return ColorID == kColorRgb || ColorID == kColorBgr || IsMosaic(); }
    // "mono", "RGB", "BGR", "Bayer RGGB" .. "Bayer BGGR"; a colour id read as mono is "mono".
    std::string ColorText() const;
    // Where red sits in a mosaic's 2 x 2 cell; blue is on the other diagonal.
    struct SMosaic
    {
        int iRedX = 0;
        int iRedY = 0;
    };
    // Ignored: writers disagree on it; 16-bit samples are always little-endian.
    int32_t LittleEndian = 0;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    // 9..16 (or more): two bytes per sample; 8 or less (0 and negative included): one.
    int32_t PixelDepthPerPlane = 0;
    // Bytes of one pixel in the file, all samples of it: 1, 2, 3 or 6 (a mosaic: 1 or 2).
    int32_t m_iBytesPerPixel = 0;
    int32_t FrameCount = 0;
    int32_t m_iHeaderFrameCount = 0;
    std::string Observer;
    std::string Instrument;
    std::string Telescope;
    // The two 8-byte header time stamps as text up to the first zero byte.
    std::string DateTime;
    std::string DateTime_UTC;

    // Owns a POSIX file descriptor.
    class CFile
    {
    public:
        CFile() = default;
        explicit CFile(int fd) : m_fd(fd) {}
        ~CFile() { Reset(); }
        CFile(const CFile&) = delete;
        CFile& operator=(const CFile&) = delete;
        CFile(CFile&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
        CFile& operator=(CFile&& other) noexcept;
        bool IsOpen() const { return m_fd >= 0; }
        int Fd() const { return m_fd; }
        void Reset();
        // Reads exactly `size` bytes at `offset`; false on a short read or an error.
        bool ReadAt(void* buffer, size_t size, int64_t offset) const;

    private:
        int m_fd = -1;
    };

    CFile m_file;
    BITMAPINFOHEADER m_bih{};
    // Frame in m_pFrame after ReadFrame; ReadNextFrame adds 1 (from the start it is then
    // the next frame to read). A caller sets it to 0 to restart.
    int32_t m_iCurrent = 0;
    // The converted frame, m_bih.biSizeImage bytes whenever FrameCount > 0.
    std::vector<uint8_t> m_pFrame;
    std::string m_csPath;

private:
    using RowConverter = void (*)(const uint8_t* src, uint8_t* dst, int32_t width, int shift);

    void ClearFacts();
    void DecodeHeader(const uint8_t* header);
    bool PrepareLayout();
    void ReportColorReadAsMono(const std::string& path);
    void ConvertMosaicRows(const uint8_t* raw, int first, int end, uint8_t* bgr) const;
    bool ReduceMosaicFrame(const uint8_t* raw, CZubFrame& mono, const SReduction& reduction) const;
    // Calls action(row, sums) for rows first .. end - 1, their neighbour sums prepared.
    template <class RowAction>
    void ForEachMosaicRow(const uint8_t* raw, int first, int end, RowAction&& action) const;
    void CountFrames(int64_t fileSize);
    void ChooseSampleLayout();
    void ReadTimeStamps(int64_t fileSize);
    bool PlausibleTicks() const;
    bool ReadAndConvert(int index);
    int64_t FrameOffset(int index) const { return kHeaderSize + index * m_iFrameBytes; }

    int64_t m_iFrameBytes = 0;  // one raw frame in the file
    int64_t m_iRowBytes = 0;    // one raw row in the file
    int m_iShift = 0;           // right shift of a 16-bit sample down to 8 bits
    RowConverter m_convertRow = nullptr;
    SMosaic m_mosaic;
    int32_t m_iNextRead = 0;    // the frame after the last one read
    int32_t m_iCurrentLeft = 0; // m_iCurrent as the reader left it: a change is the caller's
    bool m_bPassEnded = false;  // ReadNextFrame met the end; the file stays open for seeks
    std::vector<uint8_t> m_raw; // one raw frame, reused by every read
    std::vector<int64_t> m_ticks;
    std::string m_csReportedPath;  // the last file whose colour id was logged as read as mono
};
