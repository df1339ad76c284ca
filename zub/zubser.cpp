#include "zubser.h"

#include "zubapp.h"
#include "zubframe.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t kTicksAtUnixEpoch = 621355968000000000;  // 1970-01-01 in 100-ns ticks
constexpr int64_t kTickMask = (int64_t(1) << 62) - 1;      // the top two bits are a kind flag
// Time stamps outside 1990-01-01 .. 2200-01-01 are not a recording's.
constexpr int64_t kTicksPerDay = 864000000000;
constexpr int64_t kFirstPlausibleTicks = kTicksAtUnixEpoch + 7305 * kTicksPerDay;
constexpr int64_t kLastPlausibleTicks = kTicksAtUnixEpoch + 84006 * kTicksPerDay;

int32_t ReadInt32(const uint8_t* p)
{
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}

int64_t ReadInt64(const uint8_t* p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return static_cast<int64_t>(value);
}

// Text up to the first zero byte, at most `size` bytes.
std::string ReadText(const uint8_t* p, size_t size)
{
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, size));
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// One sample reduced to 8 bits. Two-byte samples are little-endian, shifted right by
// (depth - 8) when LSB-aligned or by 8 when in the high bits, saturated at 255.
template <int Bytes>
inline uint8_t Sample(const uint8_t* p, int shift)
{
    if constexpr (Bytes == 1) {
        (void)shift;
        return *p;
    } else {
        const unsigned value = (unsigned(p[0]) | unsigned(p[1]) << 8) >> shift;
        return static_cast<uint8_t>(std::min(value, 255u));
    }
}

template <int Bytes>
void ConvertMonoRow(const uint8_t* src, uint8_t* dst, int32_t width, int shift)
{
    if constexpr (Bytes == 1 && std::endian::native == std::endian::little) {
        // One 4-byte store per pixel (v, v, v, 0): the next pixel overwrites the fourth
        // byte, so only the last pixel of the row is written byte by byte.
        for (int32_t x = 0; x + 1 < width; ++x, ++src, dst += 3) {
            const uint32_t triple = *src * 0x010101u;
            std::memcpy(dst, &triple, 4);
        }
        if (width > 0)
            dst[0] = dst[1] = dst[2] = *src;
        return;
    }
    for (int32_t x = 0; x < width; ++x, src += Bytes, dst += 3) {
        const uint8_t value = Sample<Bytes>(src, shift);
        dst[0] = value;
        dst[1] = value;
        dst[2] = value;
    }
}

// Three interleaved samples per pixel, written as blue, green, red.
template <int Bytes, bool FileIsRgb>
void ConvertColorRow(const uint8_t* src, uint8_t* dst, int32_t width, int shift)
{
    constexpr int blue = (FileIsRgb ? 2 : 0) * Bytes;
    constexpr int red = (FileIsRgb ? 0 : 2) * Bytes;
    for (int32_t x = 0; x < width; ++x, src += 3 * Bytes, dst += 3) {
        dst[0] = Sample<Bytes>(src + blue, shift);
        dst[1] = Sample<Bytes>(src + Bytes, shift);
        dst[2] = Sample<Bytes>(src + red, shift);
    }
}

// A neighbour off the frame is mirrored inside it, which keeps its filter colour; a frame
// too small to hold one gives the nearest sample instead.
int MirrorIndex(int index, int size)
{
    if (index < 0)
        index = -index;
    if (index >= size)
        index = 2 * (size - 1) - index;
    return std::clamp(index, 0, size - 1);
}

// The neighbour sums of one mosaic row, each made over the whole row in a loop of its own (the
// compiler vectorises those), then read per pixel. Sized once per frame, reused row after row.
class CMosaicSums
{
public:
    CMosaicSums(int32_t width, int32_t height, int64_t rowBytes, int shift)
        : m_width(width), m_height(height), m_rowBytes(rowBytes), m_shift(shift),
          m_samples(3 * static_cast<size_t>(width)), m_vertical(static_cast<size_t>(width)),
          m_horizontal(static_cast<size_t>(width)), m_diagonal(static_cast<size_t>(width))
    {
    }

    // Sums row `row` of the raw frame with the rows above and below it (mirrored at the edges).
    template <int Bytes>
    void Prepare(const uint8_t* raw, int row)
    {
        const uint8_t* above = SamplesOf<Bytes>(raw, MirrorIndex(row - 1, m_height), 0);
        m_row = SamplesOf<Bytes>(raw, row, 1);
        const uint8_t* below = SamplesOf<Bytes>(raw, MirrorIndex(row + 1, m_height), 2);
        uint16_t* vertical = m_vertical.data();
        for (int32_t x = 0; x < m_width; ++x)
            vertical[x] = static_cast<uint16_t>(above[x] + below[x]);
        SumSides(m_row, m_horizontal.data());
        SumSides(vertical, m_diagonal.data());
    }

    // Blue, green and red of every pixel of the prepared row, handed to `sink(x, b, g, r)`.
    // A pixel under the row's own filter (red or blue) takes green from its four side
    // neighbours and the other rows' colour from its four diagonal ones; a green pixel takes
    // the row's colour from left and right, the other one from above and below.
    template <class Sink>
    void Emit(int row, const CZubSer::SMosaic& mosaic, Sink&& sink) const
    {
        const bool redRow = (row & 1) == mosaic.iRedY;
        const bool ownFirst = (redRow ? mosaic.iRedX : 1 - mosaic.iRedX) == 0;
        if (redRow)
            ownFirst ? EmitRow<true, true>(sink) : EmitRow<true, false>(sink);
        else
            ownFirst ? EmitRow<false, true>(sink) : EmitRow<false, false>(sink);
    }

private:
    // The row's layout fixed at compile time, so that the loop asks nothing per pixel.
    template <bool RedRow, bool OwnFirst, class Sink>
    void EmitRow(Sink sink) const
    {
        const uint8_t* samples = m_row;
        const uint16_t* vertical = m_vertical.data();
        const uint16_t* horizontal = m_horizontal.data();
        const uint16_t* diagonal = m_diagonal.data();
        const auto put = [&](int32_t x, unsigned own, unsigned green, unsigned cross) {
            if constexpr (RedRow)
                sink(x, cross, green, own);
            else
                sink(x, own, green, cross);
        };
        const auto ownSite = [&](int32_t x) {
            put(x, samples[x], (horizontal[x] + vertical[x] + 2u) >> 2, (diagonal[x] + 2u) >> 2);
        };
        const auto greenSite = [&](int32_t x) { put(x, (horizontal[x] + 1u) >> 1, samples[x], (vertical[x] + 1u) >> 1); };
        int32_t x = 0;
        for (; x + 1 < m_width; x += 2) {
            if constexpr (OwnFirst) {
                ownSite(x);
                greenSite(x + 1);
            } else {
                greenSite(x);
                ownSite(x + 1);
            }
        }
        if (x < m_width)
            OwnFirst ? ownSite(x) : greenSite(x);
    }

    // Row `row` as 8-bit samples: the file's own bytes, or two-byte samples reduced into `slot`.
    template <int Bytes>
    const uint8_t* SamplesOf(const uint8_t* raw, int row, int slot)
    {
        const uint8_t* src = raw + row * m_rowBytes;
        if constexpr (Bytes == 1)
            return src;
        uint8_t* dst = m_samples.data() + static_cast<size_t>(slot) * static_cast<size_t>(m_width);
        for (int32_t x = 0; x < m_width; ++x)
            dst[x] = Sample<Bytes>(src + Bytes * x, m_shift);
        return dst;
    }

    // sums[x] = values[x - 1] + values[x + 1], mirrored at the row's ends.
    template <class T>
    void SumSides(const T* values, uint16_t* sums) const
    {
        const int32_t last = m_width - 1;
        sums[0] = static_cast<uint16_t>(values[MirrorIndex(-1, m_width)] + values[MirrorIndex(1, m_width)]);
        for (int32_t x = 1; x < last; ++x)
            sums[x] = static_cast<uint16_t>(values[x - 1] + values[x + 1]);
        if (last > 0)
            sums[last] = static_cast<uint16_t>(values[last - 1] + values[MirrorIndex(last + 1, m_width)]);
    }

    int32_t m_width;
    int32_t m_height;
    int64_t m_rowBytes;
    int m_shift;
    const uint8_t* m_row = nullptr;
    std::vector<uint8_t> m_samples;  // above, row and below, for two-byte samples
    std::vector<uint16_t> m_vertical;
    std::vector<uint16_t> m_horizontal;
    std::vector<uint16_t> m_diagonal;
};

CZubSer::SMosaic MosaicOf(int32_t colorId)
{
    switch (colorId) {
    case CZubSer::kColorBayerGrbg:
        return {1, 0};
    case CZubSer::kColorBayerGbrg:
        return {0, 1};
    case CZubSer::kColorBayerBggr:
        return {1, 1};
    default:
        return {0, 0};
    }
}

using SReduction = CZubSer::SReduction;

// One byte per pixel: two pixels per look-up in a table of pairs (the byte order of the load
// and of the store agree, so the table is right on either kind of machine).
void ReduceMono8Row(const uint8_t* src, uint8_t* dst, int32_t width, int, const SReduction& r)
{
    const uint16_t* pairs = r.pairs.data();
    int32_t x = 0;
    for (; x + 2 <= width; x += 2)
    {
        uint16_t two;
        std::memcpy(&two, src + x, 2);
        std::memcpy(dst + x, &pairs[two], 2);
    }
    if (x < width)
        dst[x] = r.aMono[src[x]];
}

void CopyMono8Row(const uint8_t* src, uint8_t* dst, int32_t width, int, const SReduction&)
{
    std::memcpy(dst, src, static_cast<size_t>(width));
}

// Two bytes per pixel: the stored little-endian word looked up whole.
void ReduceMono16Row(const uint8_t* src, uint8_t* dst, int32_t width, int, const SReduction& r)
{
    const uint8_t* words = r.words.data();
    for (int32_t x = 0; x < width; ++x, src += 2)
        dst[x] = words[src[0] | src[1] << 8];
}

// Three samples per pixel: the gray tables on blue, green and red, or one of them.
template <int Bytes, bool FileIsRgb>
void ReduceColorRow(const uint8_t* src, uint8_t* dst, int32_t width, int shift, const SReduction& r)
{
    constexpr int blue = (FileIsRgb ? 2 : 0) * Bytes;
    constexpr int red = (FileIsRgb ? 0 : 2) * Bytes;
    if (r.iChannel == 0)
    {
        for (int32_t x = 0; x < width; ++x, src += 3 * Bytes)
            dst[x] = static_cast<uint8_t>(r.aBlue[Sample<Bytes>(src + blue, shift)] +
                                          r.aGreen[Sample<Bytes>(src + Bytes, shift)] +
                                          r.aRed[Sample<Bytes>(src + red, shift)]);
        return;
    }
    const int offset = r.iChannel == 1 ? red : r.iChannel == 2 ? Bytes : blue;
    for (int32_t x = 0; x < width; ++x, src += 3 * Bytes)
        dst[x] = Sample<Bytes>(src + offset, shift);
}

// Days since 1970-01-01 to a proleptic Gregorian date (era-based, no time zone involved).
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day)
{
    days += 719468;
    const int64_t era = FloorDiv(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // March = 0
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

CZubSer::CFile& CZubSer::CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void CZubSer::CFile::Reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CZubSer::CFile::ReadAt(void* buffer, size_t size, int64_t offset) const
{
    if (m_fd < 0 || offset < 0)
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(m_fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

bool CZubSer::Open(const std::string& path)
{
    Close();
    ClearFacts();
    // Non-blocking so that a FIFO cannot hang the open; only regular files are read.
    CFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Fd(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    uint8_t header[kHeaderSize];
    if (!file.ReadAt(header, sizeof header, 0))
        return false;
    DecodeHeader(header);
    if (!PrepareLayout()) {
        ClearFacts();
        return false;
    }
    ReportColorReadAsMono(path);
    CountFrames(info.st_size);
    m_file = std::move(file);
    ChooseSampleLayout();
    ReadTimeStamps(info.st_size);
    m_csPath = path;
    return true;
}

void CZubSer::Close()
{
    m_file.Reset();
    m_bPassEnded = false;
}

void CZubSer::ClearFacts()
{
    FileID.fill(0);
    LuID = ColorID = LittleEndian = 0;
    ImageWidth = ImageHeight = PixelDepthPerPlane = m_iBytesPerPixel = FrameCount = 0;
    m_iHeaderFrameCount = 0;
    Observer.clear();
    Instrument.clear();
    Telescope.clear();
    DateTime.clear();
    DateTime_UTC.clear();
    m_bih = BITMAPINFOHEADER{};
    m_iCurrent = m_iNextRead = m_iCurrentLeft = 0;
    m_bPassEnded = false;
    m_pFrame.clear();
    m_csPath.clear();
    m_iFrameBytes = m_iRowBytes = 0;
    m_iShift = 0;
    m_convertRow = nullptr;
    m_mosaic = SMosaic{};
    m_raw.clear();
    m_ticks.clear();
}

void CZubSer::DecodeHeader(const uint8_t* header)
{
    std::memcpy(FileID.data(), header, FileID.size());
    LuID = ReadInt32(header + 14);
    ColorID = ReadInt32(header + 18);
    LittleEndian = ReadInt32(header + 22);
    ImageWidth = ReadInt32(header + 26);
    ImageHeight = ReadInt32(header + 30);
    PixelDepthPerPlane = ReadInt32(header + 34);
    FrameCount = ReadInt32(header + 38);
    m_iHeaderFrameCount = FrameCount;
    Observer = ReadText(header + 42, 40);
    Instrument = ReadText(header + 82, 40);
    Telescope = ReadText(header + 122, 40);
    DateTime = ReadText(header + 162, 8);
    DateTime_UTC = ReadText(header + 170, 8);
}

// Chooses the sample format and the row converter once per file, and fills m_bih.
bool CZubSer::PrepareLayout()
{
    if (ImageWidth <= 0 || ImageHeight <= 0)
        return false;
    const bool twoBytes = PixelDepthPerPlane > 8;
    const bool threeSamples = ColorID == kColorRgb || ColorID == kColorBgr;
    const int bytesPerSample = twoBytes ? 2 : 1;
    m_iBytesPerPixel = bytesPerSample * (threeSamples ? 3 : 1);
    m_iShift = (PixelDepthPerPlane > 8 && PixelDepthPerPlane < 16) ? PixelDepthPerPlane - 8 : 8;

    const int64_t stride = ZubStride24(ImageWidth);
    m_iRowBytes = int64_t(ImageWidth) * m_iBytesPerPixel;
    // Compared by division so that the products cannot overflow.
    if (m_iRowBytes > kMaxFrameBytes / ImageHeight || stride > kMaxFrameBytes / ImageHeight)
        return false;
    m_iFrameBytes = m_iRowBytes * ImageHeight;

    if (IsMosaic())
        m_mosaic = MosaicOf(ColorID);
    if (!threeSamples)
        m_convertRow = twoBytes ? ConvertMonoRow<2> : ConvertMonoRow<1>;
    else if (ColorID == kColorRgb)
        m_convertRow = twoBytes ? ConvertColorRow<2, true> : ConvertColorRow<1, true>;
    else
        m_convertRow = twoBytes ? ConvertColorRow<2, false> : ConvertColorRow<1, false>;

    m_bih.biSize = sizeof(BITMAPINFOHEADER);
    m_bih.biWidth = ImageWidth;
    m_bih.biHeight = ImageHeight;
    m_bih.biPlanes = 1;
    m_bih.biBitCount = 24;
    m_bih.biSizeImage = static_cast<uint32_t>(stride * ImageHeight);
    return true;
}

// Colour ids this reader cannot interpolate (complementary-colour mosaics, unknown values)
// give a gray picture; said once per file, not at every pass's open.
void CZubSer::ReportColorReadAsMono(const std::string& path)
{
    if (ColorID == kColorMono || HasColor() || path == m_csReportedPath)
        return;
    m_csReportedPath = path;
    ZubApp().m_log.Log("SER colour id %i is not supported: read as mono.", static_cast<int>(ColorID));
}

std::string CZubSer::ColorText() const
{
    switch (ColorID) {
    case kColorRgb:
        return "RGB";
    case kColorBgr:
        return "BGR";
    case kColorBayerRggb:
        return "Bayer RGGB";
    case kColorBayerGrbg:
        return "Bayer GRBG";
    case kColorBayerGbrg:
        return "Bayer GBRG";
    case kColorBayerBggr:
        return "Bayer BGGR";
    default:
        return "mono";
    }
}

// A crashed capture leaves FrameCount 0 or too large: count the whole frames present.
// Buffers are sized only when there is a frame to read, never for a header alone.
void CZubSer::CountFrames(int64_t fileSize)
{
    const int64_t present = std::max<int64_t>(0, fileSize - kHeaderSize) / m_iFrameBytes;
    const int64_t count = FrameCount > 0 ? std::min<int64_t>(FrameCount, present) : present;
    FrameCount = static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
    if (FrameCount > 0) {
        m_raw.resize(static_cast<size_t>(m_iFrameBytes));
        m_pFrame.assign(m_bih.biSizeImage, 0);
    }
}

// Writers disagree on where 9..15-bit samples sit in their 16-bit word. A sample above
// 2^depth - 1 can only be high-bit data, which is then reduced like 16-bit data. The same
// frames are looked at on every open, so every pass over the file converts alike.
void CZubSer::ChooseSampleLayout()
{
    if (PixelDepthPerPlane <= 8 || PixelDepthPerPlane >= 16 || FrameCount == 0)
        return;
    int previous = -1;
    for (int probe = 0; probe < kLayoutProbes; ++probe) {
        const int index = static_cast<int>(int64_t(FrameCount) * probe / kLayoutProbes);
        if (index == previous || !m_file.ReadAt(m_raw.data(), m_raw.size(), FrameOffset(index)))
            continue;
        previous = index;
        uint8_t highBytes = 0;
        for (size_t i = 1; i < m_raw.size(); i += 2)
            highBytes |= m_raw[i];
        if (highBytes >> (PixelDepthPerPlane - 8)) {
            m_iShift = 8;
            return;
        }
    }
}

// After a cut-off file's last whole frame come the leftovers of the next one, not a
// trailer: stamps are read only when the header's count was kept.
void CZubSer::ReadTimeStamps(int64_t fileSize)
{
    const int64_t start = FrameOffset(FrameCount);
    if (FrameCount == 0 || FrameCount != m_iHeaderFrameCount || FrameCount > kMaxTimeStamps ||
        fileSize - start < FrameCount * 8)
        return;
    std::vector<uint8_t> trailer(static_cast<size_t>(FrameCount) * 8);
    if (!m_file.ReadAt(trailer.data(), trailer.size(), start))
        return;
    m_ticks.resize(static_cast<size_t>(FrameCount));
    for (size_t i = 0; i < m_ticks.size(); ++i)
        m_ticks[i] = ReadInt64(trailer.data() + 8 * i) & kTickMask;
    if (!PlausibleTicks())
        m_ticks.clear();
}

bool CZubSer::PlausibleTicks() const
{
    int64_t previous = kFirstPlausibleTicks;
    for (const int64_t ticks : m_ticks) {
        if (ticks < previous || ticks >= kLastPlausibleTicks)
            return false;
        previous = ticks;
    }
    return true;
}

std::string CZubSer::MissingFramesNote() const
{
    if (m_iHeaderFrameCount <= FrameCount)
        return "";
    return "SER file is cut off: the header says " + std::to_string(m_iHeaderFrameCount) +
           " frames, the file holds " + std::to_string(FrameCount) + ".";
}

bool CZubSer::ReadNextFrame()
{
    if (!m_file.IsOpen())
        return false;
    const bool moved = m_iCurrent != m_iCurrentLeft;
    if (m_bPassEnded && !moved)
        return false;
    const int index = moved ? m_iCurrent : m_iNextRead;
    if (index < 0 || index >= FrameCount || !ReadAndConvert(index)) {
        m_bPassEnded = true;
        m_iCurrentLeft = m_iCurrent;
        return false;
    }
    m_bPassEnded = false;
    m_iNextRead = index + 1;
    m_iCurrentLeft = ++m_iCurrent;
    return true;
}

bool CZubSer::ReadFrame(int index)
{
    if (!m_file.IsOpen() || index < 0 || index >= FrameCount || !ReadAndConvert(index))
        return false;
    m_bPassEnded = false;
    m_iCurrent = m_iCurrentLeft = index;
    m_iNextRead = index + 1;
    return true;
}

void CZubSer::Rewind()
{
    m_bPassEnded = false;
    m_iCurrent = m_iCurrentLeft = m_iNextRead = 0;
}

bool CZubSer::ReadAndConvert(int index)
{
    if (!ReadRawFrame(index, m_raw.data()))
        return false;
    ConvertRawFrame(m_raw.data(), m_pFrame.data());
    return true;
}

bool CZubSer::ReadRawRows(int index, int first, int end, uint8_t* raw) const
{
    if (IsMosaic() && first < end) {
        first = std::max(first, 1) - 1;  // no overflow at either end
        end = std::min(end, ImageHeight - 1) + 1;
    }
    first = std::max(first, 0);
    end = std::min(end, ImageHeight);
    if (index < 0 || index >= FrameCount)
        return false;
    return first >= end || m_file.ReadAt(raw + first * m_iRowBytes, static_cast<size_t>((end - first) * m_iRowBytes),
                                         FrameOffset(index) + first * m_iRowBytes);
}

void CZubSer::ConvertRawRows(const uint8_t* raw, int first, int end, uint8_t* bgr) const
{
    if (IsMosaic()) {
        ConvertMosaicRows(raw, first, end, bgr);
        return;
    }
    const int64_t stride = ZubStride24(ImageWidth);
    for (int32_t row = std::max(first, 0); row < std::min(end, ImageHeight); ++row)
        m_convertRow(raw + row * m_iRowBytes, bgr + row * stride, ImageWidth, m_iShift);
}

template <class RowAction>
void CZubSer::ForEachMosaicRow(const uint8_t* raw, int first, int end, RowAction&& action) const
{
    if (first >= end)
        return;
    CMosaicSums sums(ImageWidth, ImageHeight, m_iRowBytes, m_iShift);
    const bool twoBytes = PixelDepthPerPlane > 8;
    for (int row = first; row < end; ++row) {
        if (twoBytes)
            sums.Prepare<2>(raw, row);
        else
            sums.Prepare<1>(raw, row);
        action(row, sums);
    }
}

void CZubSer::ConvertMosaicRows(const uint8_t* raw, int first, int end, uint8_t* bgr) const
{
    const int64_t stride = ZubStride24(ImageWidth);
    ForEachMosaicRow(raw, std::max(first, 0), std::min(end, ImageHeight), [&](int row, const auto& sums) {
        uint8_t* dst = bgr + row * stride;
        sums.Emit(row, m_mosaic, [dst, last = ImageWidth - 1](int32_t x, unsigned blue, unsigned green, unsigned red) {
            // One 4-byte store a pixel: the next pixel overwrites the fourth byte; the row's
            // last pixel, whose fourth byte is not the row's, is written byte by byte.
            if (std::endian::native == std::endian::little && x < last) {
                const uint32_t pixel = blue | green << 8 | red << 16;
                std::memcpy(dst + 3 * x, &pixel, 4);
                return;
            }
            dst[3 * x] = static_cast<uint8_t>(blue);
            dst[3 * x + 1] = static_cast<uint8_t>(green);
            dst[3 * x + 2] = static_cast<uint8_t>(red);
        });
    });
}

bool CZubSer::PrepareReduction(const CZubFrame& tables, int channel, SReduction& r) const
{
    r.iChannel = -1;
    if (channel < 0 || channel > 3)
        return false;
    r.iChannel = channel;
    r.aRed = tables.m_aLutRed;
    r.aGreen = tables.m_aLutGreen;
    r.aBlue = tables.m_aLutBlue;
    for (size_t i = 0; i < 256; ++i)
        r.aMono[i] = channel == 0 ? static_cast<uint8_t>(r.aBlue[i] + r.aGreen[i] + r.aRed[i]) : static_cast<uint8_t>(i);
    r.pairs.clear();
    r.words.clear();
    if (HasColor())
        return true;
    if (PixelDepthPerPlane > 8)
    {
        r.words.resize(65536);
        uint8_t word[2];
        for (unsigned w = 0; w < 65536; ++w)
        {
            word[0] = static_cast<uint8_t>(w);
            word[1] = static_cast<uint8_t>(w >> 8);
            r.words[w] = r.aMono[Sample<2>(word, m_iShift)];
        }
    }
    else if (channel == 0)
    {
        // Indexed by two pixels as a 2-byte load reads them, holding both answers as a
        // 2-byte store writes them, whatever the machine's byte order.
        r.pairs.resize(65536);
        for (unsigned first = 0; first < 256; ++first)
            for (unsigned second = 0; second < 256; ++second)
            {
                const uint8_t pixels[2] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
                const uint8_t answers[2] = {r.aMono[first], r.aMono[second]};
                uint16_t index;
                std::memcpy(&index, pixels, 2);
                std::memcpy(&r.pairs[index], answers, 2);
            }
    }
    return true;
}

bool CZubSer::ReduceRawFrame(const uint8_t* raw, CZubFrame& mono, const SReduction& r) const
{
    if (r.iChannel < 0 || mono.m_iBits != FRAME_MONO8 || mono.m_iWidth != ImageWidth ||
        mono.m_iHeight != ImageHeight || !mono.HasBuffer())
        return false;
    if (IsMosaic())
        return ReduceMosaicFrame(raw, mono, r);
    using Reducer = void (*)(const uint8_t*, uint8_t*, int32_t, int, const SReduction&);
    const bool twoBytes = PixelDepthPerPlane > 8;
    Reducer reduce = twoBytes ? ReduceMono16Row : r.iChannel == 0 ? ReduceMono8Row : CopyMono8Row;
    if (ColorID == kColorRgb)
        reduce = twoBytes ? ReduceColorRow<2, true> : ReduceColorRow<1, true>;
    else if (ColorID == kColorBgr)
        reduce = twoBytes ? ReduceColorRow<2, false> : ReduceColorRow<1, false>;
    else if ((twoBytes ? r.words.size() : r.iChannel == 0 ? r.pairs.size() : 65536) != 65536)
        return false;  // prepared for another file
    for (int32_t row = 0; row < ImageHeight; ++row)
        reduce(raw + row * m_iRowBytes, mono.GetRow(row), ImageWidth, m_iShift, r);
    return true;
}

// The gray tables or the channel applied to each interpolated pixel as ReduceColorRow applies
// them to a 24-bit row: the values of the 24-bit way, without a 24-bit frame.
bool CZubSer::ReduceMosaicFrame(const uint8_t* raw, CZubFrame& mono, const SReduction& r) const
{
    ForEachMosaicRow(raw, 0, ImageHeight, [&](int row, const auto& sums) {
        uint8_t* dst = mono.GetRow(row);
        if (r.iChannel == 0)
            sums.Emit(row, m_mosaic, [dst, &r](int32_t x, unsigned blue, unsigned green, unsigned red) {
                dst[x] = static_cast<uint8_t>(r.aBlue[blue] + r.aGreen[green] + r.aRed[red]);
            });
        else
            sums.Emit(row, m_mosaic, [dst, channel = r.iChannel](int32_t x, unsigned blue, unsigned green, unsigned red) {
                dst[x] = static_cast<uint8_t>(channel == 1 ? red : channel == 2 ? green : blue);
            });
    });
    return true;
}

int64_t CZubSer::GetFrameTicks(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_ticks.size())
        return 0;
    return m_ticks[static_cast<size_t>(index)];
}

bool CZubSer::GetFrameUtc(int index, int64_t& unixMicros) const
{
    const int64_t ticks = GetFrameTicks(index);
    if (ticks == 0)
        return false;
    unixMicros = FloorDiv(ticks - kTicksAtUnixEpoch, 10);
    return true;
}

std::string CZubSer::FormatFrameUtc(int index) const
{
    int64_t micros = 0;
    if (!GetFrameUtc(index, micros))
        return "";
    const int64_t millis = FloorDiv(micros, 1000);
    const int64_t seconds = FloorDiv(millis, 1000);
    const int64_t days = FloorDiv(seconds, 86400);
    const int64_t secondOfDay = seconds - days * 86400;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d.%03d",
                  static_cast<long long>(year), month, day, static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60),
                  static_cast<int>(millis - seconds * 1000));
    return text;
}
