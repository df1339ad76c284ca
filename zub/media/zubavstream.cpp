#include "zubavstream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

// What one stream reads of a memory video: its own position in the shared bytes.
struct SZubAvMemory
{
    std::shared_ptr<const std::string> bytes;
    int64_t pos = 0;
    AVIOContext* io = nullptr;
};

namespace
{
constexpr int64_t kMaxFrameBytes = int64_t(1) << 30;
constexpr double kTicksPerSecond = 1e7;  // 100-ns units
constexpr int kMemoryIoBytes = 4096;
const char kMemoryPrefix[] = "mem:";

struct SMemoryVideos
{
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const std::string>> byName;
    uint64_t next = 0;
};

SMemoryVideos& MemoryVideos()
{
    static SMemoryVideos videos;
    return videos;
}

std::shared_ptr<const std::string> FindMemoryVideo(const std::string& path)
{
    if (path.rfind(kMemoryPrefix, 0) != 0)
        return nullptr;
    SMemoryVideos& videos = MemoryVideos();
    std::lock_guard<std::mutex> lock(videos.mutex);
    const auto found = videos.byName.find(path);
    return found == videos.byName.end() ? nullptr : found->second;
}

int ReadMemory(void* opaque, uint8_t* buffer, int size)
{
    SZubAvMemory& m = *static_cast<SZubAvMemory*>(opaque);
    const int64_t left = static_cast<int64_t>(m.bytes->size()) - m.pos;
    if (left <= 0 || size <= 0)
        return AVERROR_EOF;  // never 0: FFmpeg would take it for a stalled stream
    const int n = static_cast<int>(std::min<int64_t>(size, left));
    std::memcpy(buffer, m.bytes->data() + m.pos, static_cast<size_t>(n));
    m.pos += n;
    return n;
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence)
{
    SZubAvMemory& m = *static_cast<SZubAvMemory*>(opaque);
    const int64_t size = static_cast<int64_t>(m.bytes->size());
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE)
    {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = m.pos;
        break;
    case SEEK_END:
        base = size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    // Past the end is allowed, as in a file; before the start or out of 64 bits is not.
    if (offset < -base || offset > INT64_MAX - base)
        return AVERROR(EINVAL);
    m.pos = base + offset;
    return m.pos;
}

// A memory video stands alone: whatever it names (playlists, references, image sequences)
// is not opened.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

// The format context of a memory video, reading through `memory`; null when out of memory.
AVFormatContext* MemoryInput(std::shared_ptr<const std::string> bytes,
                             std::unique_ptr<SZubAvMemory, SZubAvFree>& memory)
{
    memory.reset(new SZubAvMemory{std::move(bytes)});
    auto* buffer = static_cast<unsigned char*>(av_malloc(kMemoryIoBytes));
    memory->io = buffer ? avio_alloc_context(buffer, kMemoryIoBytes, 0, memory.get(), ReadMemory, nullptr, SeekMemory)
                        : nullptr;
    if (!memory->io)
    {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context)
        return nullptr;
    context->pb = memory->io;
    context->io_open = RefuseNestedOpen;
    return context;
}
}  // namespace

std::string ZubAvAddMemoryVideo(const void* data, size_t size)
{
    auto bytes = std::make_shared<const std::string>(static_cast<const char*>(data), size);
    SMemoryVideos& videos = MemoryVideos();
    std::lock_guard<std::mutex> lock(videos.mutex);
    std::string name = kMemoryPrefix + std::to_string(++videos.next);
    videos.byName[name] = std::move(bytes);
    return name;
}

void ZubAvRemoveMemoryVideo(const std::string& name)
{
    SMemoryVideos& videos = MemoryVideos();
    std::lock_guard<std::mutex> lock(videos.mutex);
    videos.byName.erase(name);
}

void SZubAvFree::operator()(AVFormatContext* p) const
{
    avformat_close_input(&p);
}
void SZubAvFree::operator()(AVCodecContext* p) const
{
    avcodec_free_context(&p);
}
void SZubAvFree::operator()(AVPacket* p) const
{
    av_packet_free(&p);
}
void SZubAvFree::operator()(AVFrame* p) const
{
    av_frame_free(&p);
}
void SZubAvFree::operator()(SwsContext* p) const
{
    sws_freeContext(p);
}
void SZubAvFree::operator()(SZubAvMemory* p) const
{
    if (p->io)
        av_freep(&p->io->buffer);  // FFmpeg may have replaced the buffer it was given: this one is current
    avio_context_free(&p->io);
    delete p;
}

std::string ZubAvErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void ZubAvQuietLogs()
{
    av_log_set_level(AV_LOG_QUIET);  // some decoders call a damaged frame "fatal"
}

namespace
{
std::atomic<int> g_decoderThreads{0};
}

void ZubAvSetDecoderThreads(int count)
{
    g_decoderThreads = count;
}

CZubAvStream::CZubAvStream() : packet(av_packet_alloc()), frame(av_frame_alloc()) {}

EZubAvOpen CZubAvStream::Open(const std::string& path, std::string& reason)
{
    if (!packet || !frame)
    {
        reason = "Out of memory";
        return EZubAvOpen::Unsupported;
    }
    format.reset();
    memory.reset();  // after the format that reads through it
    AVFormatContext* opened = nullptr;
    int result = 0;
    if (auto bytes = FindMemoryVideo(path))
        result = (opened = MemoryInput(std::move(bytes), memory)) ? 0 : AVERROR(ENOMEM);
    if (result >= 0)
        result = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);  // frees `opened` on failure
    format.reset(opened);
    if (result >= 0)
        result = avformat_find_stream_info(opened, nullptr);
    if (result < 0)
    {
        reason = ZubAvErrorText(result);
        return EZubAvOpen::Unsupported;
    }
    const AVCodec* decoder = nullptr;
    iStream = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    const AVCodecParameters* par = iStream >= 0 ? opened->streams[iStream]->codecpar : nullptr;
    if (!par || par->width <= 0 || par->height <= 0)
    {
        reason = "No video stream found";
        return EZubAvOpen::NoVideo;
    }
    if (!decoder)
    {
        reason = std::string("No decoder for ") + avcodec_get_name(par->codec_id);
        return EZubAvOpen::Unsupported;
    }
    if (ZubStride24(par->width) * par->height > kMaxFrameBytes)
    {
        reason = "Frames too large";
        return EZubAvOpen::Unsupported;
    }
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec || (result = avcodec_parameters_to_context(codec.get(), par)) < 0)
    {
        reason = codec ? ZubAvErrorText(result) : "Out of memory";
        return EZubAvOpen::Unsupported;
    }
    codec->thread_count = g_decoderThreads;  // 0: as many as the machine has
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if ((result = avcodec_open2(codec.get(), decoder, nullptr)) < 0)
    {
        reason = ZubAvErrorText(result);
        return EZubAvOpen::Unsupported;
    }

    bih = {};
    bih.biSize = sizeof(BITMAPINFOHEADER);
    bih.biWidth = par->width;
    bih.biHeight = par->height;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = static_cast<uint32_t>(ZubStride24(par->width) * par->height);
    return EZubAvOpen::Ok;
}

const AVStream* CZubAvStream::Stream() const
{
    return format && iStream >= 0 ? format->streams[iStream] : nullptr;
}

int64_t CZubAvStream::TimePerFrame() const
{
    const AVRational rate = Stream()->avg_frame_rate;
    return rate.num > 0 && rate.den > 0 ? std::llround(kTicksPerSecond * rate.den / rate.num) : 0;
}

int64_t CZubAvStream::Duration() const
{
    const AVStream* stream = Stream();
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return std::llround(stream->duration * av_q2d(stream->time_base) * kTicksPerSecond);
    if (format->duration > 0)
        return format->duration * 10;  // microseconds to 100 ns
    return 0;
}

std::string CZubAvStream::CreationTime() const
{
    for (const AVDictionary* metadata : {format->metadata, Stream()->metadata})
        if (const AVDictionaryEntry* entry = av_dict_get(metadata, "creation_time", nullptr, 0); entry && entry->value)
            return entry->value;
    return {};
}

int64_t CZubAvStream::FramesInHeader() const
{
    return std::max<int64_t>(Stream()->nb_frames, 0);
}

int64_t CZubAvStream::FramesFromDuration() const
{
    const int64_t duration = Duration();
    const int64_t timePerFrame = TimePerFrame();
    return duration > 0 && timePerFrame > 0
               ? static_cast<int64_t>(static_cast<double>(duration) / timePerFrame + 0.5)
               : 0;
}

bool CZubAvStream::ConvertFrame(uint8_t* pixels)
{
    const AVFrame* f = frame.get();
    scale.reset(sws_getCachedContext(scale.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                     bih.biWidth, bih.biHeight, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr,
                                     nullptr));
    if (!scale)
        return false;
    // Bottom line first, as a 24-bit bitmap with positive height stores it.
    const int stride = static_cast<int>(ZubStride24(bih.biWidth));
    uint8_t* dst[4] = {pixels + static_cast<size_t>(bih.biHeight - 1) * stride, nullptr, nullptr, nullptr};
    const int dstStride[4] = {-stride, 0, 0, 0};
    return sws_scale(scale.get(), f->data, f->linesize, 0, f->height, dst, dstStride) > 0;
}
