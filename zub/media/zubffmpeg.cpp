#include "zubffmpeg.h"

#include "zubapp.h"
#include "zubwnd.h"

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
constexpr size_t kScalerSlack = 256;

struct SFormatCloser
{
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct SCodecCloser
{
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SPacketFree
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SFrameFree
{
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct SScaleFree
{
    void operator()(SwsContext* p) const { sws_freeContext(p); }
};

std::string ErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

CZubLog& Log()
{
    return ZubApp().m_log;
}

void Fail(const char* logLine, const char* message)
{
    Log().Log("%s", logLine);
    ZubMessageBox(message);
}
}  // namespace

struct CZubFfmpegSource::SState
{
    std::unique_ptr<AVFormatContext, SFormatCloser> format;
    std::unique_ptr<AVCodecContext, SCodecCloser> codec;
    std::unique_ptr<AVPacket, SPacketFree> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, SFrameFree> frame{av_frame_alloc()};
    std::unique_ptr<SwsContext, SScaleFree> scale;
    int iStream = -1;
};

CZubFfmpegSource::CZubFfmpegSource() : m_state(std::make_unique<SState>()) {}

CZubFfmpegSource::~CZubFfmpegSource()
{
    Stop();
}

ZubMediaFactory CZubFfmpegSource::Factory()
{
    // FFmpeg's own chatter (deprecated pixel formats and the like) is not for our users;
    // every failure that matters is logged by this source.
    av_log_set_level(AV_LOG_FATAL);
    return [] { return std::make_unique<CZubFfmpegSource>(); };
}

CZubFfmpegSource::EOpen CZubFfmpegSource::Open(const std::string& path)
{
    SState& s = *m_state;
    AVFormatContext* format = nullptr;
    if (!s.packet || !s.frame || avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return EOpen::Unsupported;
    s.format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0)
        return EOpen::Unsupported;
    const AVCodec* decoder = nullptr;
    s.iStream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    const AVCodecParameters* par = s.iStream >= 0 ? format->streams[s.iStream]->codecpar : nullptr;
    if (!par || par->width <= 0 || par->height <= 0)
        return EOpen::NoVideo;
    if (!decoder || ZubStride24(par->width) * par->height > kMaxFrameBytes)
        return EOpen::Unsupported;
    s.codec.reset(avcodec_alloc_context3(decoder));
    if (!s.codec || avcodec_parameters_to_context(s.codec.get(), par) < 0)
        return EOpen::Unsupported;
    s.codec->thread_count = 0;  // as many threads as the machine has
    s.codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(s.codec.get(), decoder, nullptr) < 0)
        return EOpen::Unsupported;

    m_bih = {};
    m_bih.biSize = sizeof(BITMAPINFOHEADER);
    m_bih.biWidth = par->width;
    m_bih.biHeight = par->height;
    m_bih.biPlanes = 1;
    m_bih.biBitCount = 24;
    m_bih.biSizeImage = static_cast<uint32_t>(ZubStride24(par->width) * par->height);
    return EOpen::Ok;
}

bool CZubFfmpegSource::Connect(const std::string& path, SZubMediaFacts* facts)
{
    m_path = path;
    switch (Open(path))
    {
    case EOpen::Unsupported:
        Fail("Unsupported media type!!!", "Unsupported media type!");
        return false;
    case EOpen::NoVideo:
        Fail("No video stream found!!!", "No video stream found!");
        return false;
    case EOpen::Ok:
        break;
    }
    // The scaler may write a little past the end of a row; the slack keeps that inside.
    for (SSlot& slot : m_slots)
        slot.pixels.assign(m_bih.biSizeImage + kScalerSlack, 0);
    if (facts)
        ReadFacts(*facts);
    return true;
}

void CZubFfmpegSource::ReadFacts(SZubMediaFacts& facts)
{
    const AVStream* stream = m_state->format->streams[m_state->iStream];
    facts.bih = m_bih;
    facts.csSubtype = "vids";
    const AVRational rate = stream->avg_frame_rate;
    facts.llAvgTimePerFrame =
        rate.num > 0 && rate.den > 0 ? std::llround(kTicksPerSecond * rate.den / rate.num) : 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        facts.llDuration = std::llround(stream->duration * av_q2d(stream->time_base) * kTicksPerSecond);
    else if (m_state->format->duration > 0)
        facts.llDuration = m_state->format->duration * 10;  // microseconds to 100 ns
    if (stream->nb_frames > 0)
    {
        facts.llFrames = stream->nb_frames;
        return;
    }
    if (facts.llDuration > 0 && facts.llAvgTimePerFrame > 0)
        facts.llFrames = static_cast<int64_t>(static_cast<double>(facts.llDuration) / facts.llAvgTimePerFrame + 0.5);
    // An estimate from the duration can fall short (small frames sharing the last packet);
    // frames past the count would get no record, so the video's packets are counted too.
    facts.llFrames = std::max(facts.llFrames, CountPacketsOf(m_path));
    if (facts.llFrames == 0)
        facts.llFrames = CountFramesOf(m_path);  // neither a count nor a rate: decode once
}

int64_t CZubFfmpegSource::CountFramesOf(const std::string& path)
{
    CZubFfmpegSource counter;
    if (counter.Open(path) != EOpen::Ok)
        return 0;
    int64_t frames = 0;
    counter.DecodeAll([&frames] { ++frames; });
    return frames;
}

int64_t CZubFfmpegSource::CountPacketsOf(const std::string& path)
{
    CZubFfmpegSource counter;
    if (counter.Open(path) != EOpen::Ok)
        return 0;
    SState& s = *counter.m_state;
    int64_t packets = 0;
    while (av_read_frame(s.format.get(), s.packet.get()) >= 0)
    {
        packets += s.packet->stream_index == s.iStream;
        av_packet_unref(s.packet.get());
    }
    return packets;
}

bool CZubFfmpegSource::ReceiveFrames(const std::function<void()>& deliver)
{
    SState& s = *m_state;
    for (;;)
    {
        const int result = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
        {
            Log().Log("Video decoding error: %s", ErrorText(result).c_str());
            return false;
        }
        if (!m_bStop)
            deliver();
        av_frame_unref(s.frame.get());
    }
}

bool CZubFfmpegSource::DecodeAll(const std::function<void()>& deliver)
{
    SState& s = *m_state;
    while (!m_bStop)
    {
        const int result = av_read_frame(s.format.get(), s.packet.get());
        if (result == AVERROR_EOF)
            break;
        if (result < 0)
        {
            // A damaged or cut file: what was decoded stands, the stream ends here.
            Log().Log("Video reading error: %s", ErrorText(result).c_str());
            break;
        }
        bool ok = true;
        if (s.packet->stream_index == s.iStream)
        {
            const int sent = avcodec_send_packet(s.codec.get(), s.packet.get());
            // A damaged packet is skipped; the decoder goes on with the next one.
            ok = (sent >= 0 || sent == AVERROR_INVALIDDATA) && ReceiveFrames(deliver);
        }
        av_packet_unref(s.packet.get());
        if (!ok)
            return false;
    }
    if (m_bStop)
        return true;
    avcodec_send_packet(s.codec.get(), nullptr);  // drain the frames still in the decoder
    return ReceiveFrames(deliver);
}

bool CZubFfmpegSource::ConvertFrame(uint8_t* pixels)
{
    SState& s = *m_state;
    const AVFrame* frame = s.frame.get();
    s.scale.reset(sws_getCachedContext(s.scale.release(), frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), m_bih.biWidth,
                                       m_bih.biHeight, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr,
                                       nullptr));
    if (!s.scale)
        return false;
    // Bottom line first, as a 24-bit bitmap with positive height stores it.
    const int stride = static_cast<int>(ZubStride24(m_bih.biWidth));
    uint8_t* dst[4] = {pixels + static_cast<size_t>(m_bih.biHeight - 1) * stride, nullptr, nullptr, nullptr};
    const int dstStride[4] = {-stride, 0, 0, 0};
    return sws_scale(s.scale.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride) > 0;
}

bool CZubFfmpegSource::Run(ZubFrameCallback onFrame, CZubWnd* notify)
{
    if (!m_state->codec || m_decodeThread.joinable() || m_deliverThread.joinable())
        return false;
    m_bStop = false;
    m_bDecodeDone = false;
    m_iHead = 0;
    m_nFilled = 0;
    m_decodeThread = std::thread(&CZubFfmpegSource::DecodeThread, this);
    m_deliverThread = std::thread(&CZubFfmpegSource::DeliverThread, this, std::move(onFrame), notify);
    return true;
}

CZubFfmpegSource::SSlot* CZubFfmpegSource::WaitForFreeSlot()
{
    std::unique_lock<std::mutex> lock(m_ringMutex);
    m_ringChanged.wait(lock, [this] { return m_nFilled < kSlots || m_bStop; });
    return m_bStop ? nullptr : &m_slots[(m_iHead + m_nFilled) % kSlots];
}

void CZubFfmpegSource::DecodeThread()
{
    bool bConvertFailed = false;
    DecodeAll([&] {
        SSlot* slot = WaitForFreeSlot();
        if (!slot)
            return;
        if (!ConvertFrame(slot->pixels.data()))
        {
            if (!bConvertFailed)
                Log().Log("Video conversion error: frame skipped.");
            bConvertFailed = true;
            return;
        }
        const AVFrame* frame = m_state->frame.get();
        const AVStream* stream = m_state->format->streams[m_state->iStream];
        slot->time = frame->best_effort_timestamp != AV_NOPTS_VALUE
                         ? frame->best_effort_timestamp * av_q2d(stream->time_base)
                         : 0.0;
        std::lock_guard<std::mutex> lock(m_ringMutex);
        ++m_nFilled;
        m_ringChanged.notify_all();
    });
    std::lock_guard<std::mutex> lock(m_ringMutex);
    m_bDecodeDone = true;
    m_ringChanged.notify_all();
}

void CZubFfmpegSource::DeliverThread(ZubFrameCallback onFrame, CZubWnd* notify)
{
    for (;;)
    {
        SSlot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_ringMutex);
            m_ringChanged.wait(lock, [this] { return m_nFilled > 0 || m_bDecodeDone || m_bStop; });
            if (m_bStop)
                return;
            if (m_nFilled == 0)
                break;  // decoded and delivered to the end
            slot = &m_slots[m_iHead];
        }
        onFrame(slot->time, slot->pixels.data(), static_cast<long>(m_bih.biSizeImage));
        std::lock_guard<std::mutex> lock(m_ringMutex);
        m_iHead = (m_iHead + 1) % kSlots;
        --m_nFilled;
        m_ringChanged.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(m_eventMutex);
        m_bEndOfStream = true;
    }
    if (notify)
        notify->PostMessage(WM_GRAPH_NOTIFY);
}

void CZubFfmpegSource::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_ringMutex);
        m_bStop = true;
        m_ringChanged.notify_all();
    }
    IZubMessageLoop* loop = ZubGetMessageLoop();
    for (std::thread* thread : {&m_deliverThread, &m_decodeThread})
    {
        if (!thread->joinable())
            continue;
        // Either thread may be waiting in a send to the UI thread (a log line, a display).
        if (loop)
            loop->JoinServingSends(*thread);
        else
            thread->join();
    }
}

bool CZubFfmpegSource::TakeEndOfStream()
{
    std::lock_guard<std::mutex> lock(m_eventMutex);
    const bool bEnded = m_bEndOfStream;
    m_bEndOfStream = false;
    return bEnded;
}
