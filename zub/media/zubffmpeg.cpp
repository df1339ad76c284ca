#include "zubffmpeg.h"

#include "zubapp.h"
#include "zubwnd.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>

namespace
{
constexpr size_t kScalerSlack = CZubAvStream::kScalerSlack;

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

CZubFfmpegSource::CZubFfmpegSource() : m_state(std::make_unique<CZubAvStream>()) {}

CZubFfmpegSource::~CZubFfmpegSource()
{
    Stop();
}

ZubMediaFactory CZubFfmpegSource::Factory()
{
    ZubAvQuietLogs();
    return [] { return std::make_unique<CZubFfmpegSource>(); };
}

EZubAvOpen CZubFfmpegSource::Open(const std::string& path)
{
    std::string reason;  // the messages below say it for this source
    const EZubAvOpen result = m_state->Open(path, reason);
    m_bih = m_state->bih;
    return result;
}

bool CZubFfmpegSource::Connect(const std::string& path, SZubMediaFacts* facts)
{
    m_path = path;
    switch (Open(path))
    {
    case EZubAvOpen::Unsupported:
        Fail("Unsupported media type!!!", "Unsupported media type!");
        return false;
    case EZubAvOpen::NoVideo:
        Fail("No video stream found!!!", "No video stream found!");
        return false;
    case EZubAvOpen::Ok:
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
    facts.bih = m_bih;
    facts.csSubtype = "vids";
    facts.llAvgTimePerFrame = m_state->TimePerFrame();
    facts.llDuration = m_state->Duration();
    facts.llFrames = m_state->FramesInHeader();
    facts.csCreationTime = m_state->CreationTime();
    if (facts.llFrames > 0)
        return;
    // An estimate from the duration can fall short (small frames sharing the last packet);
    // frames past the count would get no record, so the video's packets are counted too.
    facts.llFrames = std::max(m_state->FramesFromDuration(), CountPacketsOf(m_path));
    if (facts.llFrames == 0)
        facts.llFrames = CountFramesOf(m_path);  // neither a count nor a rate: decode once
}

int64_t CZubFfmpegSource::CountFramesOf(const std::string& path)
{
    CZubFfmpegSource counter;
    if (counter.Open(path) != EZubAvOpen::Ok)
        return 0;
    int64_t frames = 0;
    counter.DecodeAll([&frames] { ++frames; });
    return frames;
}

int64_t CZubFfmpegSource::CountPacketsOf(const std::string& path)
{
    CZubFfmpegSource counter;
    if (counter.Open(path) != EZubAvOpen::Ok)
        return 0;
    CZubAvStream& s = *counter.m_state;
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
    CZubAvStream& s = *m_state;
    for (;;)
    {
        const int result = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
        {
            Log().Log("Video decoding error: %s", ZubAvErrorText(result).c_str());
            return false;
        }
        if (!m_bStop)
            deliver();
        av_frame_unref(s.frame.get());
    }
}

bool CZubFfmpegSource::DecodeAll(const std::function<void()>& deliver)
{
    CZubAvStream& s = *m_state;
    while (!m_bStop)
    {
        const int result = av_read_frame(s.format.get(), s.packet.get());
        if (result == AVERROR_EOF)
            break;
        if (result < 0)
        {
            // A damaged or cut file: what was decoded stands, the stream ends here.
            Log().Log("Video reading error: %s", ZubAvErrorText(result).c_str());
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
        if (!m_state->ConvertFrame(slot->pixels.data()))
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
