#include "zubavstream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

namespace
{
constexpr int64_t kMaxFrameBytes = int64_t(1) << 30;
constexpr double kTicksPerSecond = 1e7;  // 100-ns units
}  // namespace

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

std::string ZubAvErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void ZubAvQuietLogs()
{
    av_log_set_level(AV_LOG_FATAL);
}

CZubAvStream::CZubAvStream() : packet(av_packet_alloc()), frame(av_frame_alloc()) {}

EZubAvOpen CZubAvStream::Open(const std::string& path, std::string& reason)
{
    if (!packet || !frame)
    {
        reason = "Out of memory";
        return EZubAvOpen::Unsupported;
    }
    AVFormatContext* opened = nullptr;
    int result = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
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
    codec->thread_count = 0;  // as many threads as the machine has
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
