// Positions. A stream whose container gives a start time is "timed": a frame's time is its
// timestamp from that start and, when the stream has a frame rate, its index is that time on
// the frame-rate grid. Otherwise (elementary streams) positions are counted from the first
// frame, and reaching one means decoding from the start.
//
// Seeking a timed stream. The demuxer goes to the keyframe at or before the target; the
// frames the decoder gives before that keyframe are discarded (after a jump they may refer
// to frames that were never decoded: the leading B-frames of an open group of pictures).
// When that keyframe turns out to lie after the target, the demuxer is asked again from
// further back (1 s, then doubling, finally the start). From the keyframe on, frames are
// decoded and discarded up to the first one at or after the target. The frame found is thus
// decoded from the same keyframe as when decoding from the start, and is bit-exact whenever
// the codec's keyframes are clean entry points (intra-only codecs, MPEG-1/2/4 Part 2, the
// Windows Media codecs); a decoder that marks no keyframes is always decoded from the start.
#include "zubffmpegplayer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>

namespace
{
constexpr AVRational kTicks = {1, 10000000};   // 100-ns units
constexpr int64_t kFarAway = int64_t(1) << 40;  // past the end of any video, in ticks or frames

bool IsKeyFrame(const AVFrame& frame)
{
#ifdef AV_FRAME_FLAG_KEY
    return (frame.flags & AV_FRAME_FLAG_KEY) != 0;
#else
    return frame.key_frame != 0;
#endif
}
}  // namespace

ZubPlayerFactory CZubFfmpegPlayer::Factory()
{
    ZubAvQuietLogs();
    return [] { return std::make_unique<CZubFfmpegPlayer>(); };
}

bool CZubFfmpegPlayer::Open(const std::string& path, SZubPlayerFacts& facts, std::string& error)
{
    m_stream.reset();
    m_path = path;
    if (!Rewind(error))
        return false;
    facts.bih = m_stream->bih;
    facts.llDuration = m_stream->Duration();
    facts.llTimePerFrame = m_stream->TimePerFrame();
    facts.llFrames = m_stream->FramesInHeader();
    if (facts.llFrames == 0)
        facts.llFrames = m_stream->FramesFromDuration();
    return true;
}

bool CZubFfmpegPlayer::Rewind(std::string& error)
{
    auto stream = std::make_unique<CZubAvStream>();
    if (stream->Open(m_path, error) != EZubAvOpen::Ok)
        return false;
    m_stream = std::move(stream);
    const AVStream* s = m_stream->Stream();
    m_bTimed = s->start_time != AV_NOPTS_VALUE;
    m_llStart = m_bTimed ? s->start_time : 0;
    m_bDraining = false;
    m_endReason.clear();
    m_llNextCount = 0;
    m_bPending = false;
    m_position = {};
    return true;
}

bool CZubFfmpegPlayer::HasRate() const
{
    const AVRational rate = m_stream->Stream()->avg_frame_rate;
    return rate.num > 0 && rate.den > 0;
}

CZubFfmpegPlayer::SPosition CZubFfmpegPlayer::PositionOfFrame()
{
    const AVFrame& frame = *m_stream->frame;
    const AVStream& stream = *m_stream->Stream();
    SPosition p;
    p.bKey = IsKeyFrame(frame);
    const int64_t counted = m_llNextCount >= 0 ? m_llNextCount++ : -1;
    const int64_t timestamp = frame.best_effort_timestamp;
    if (m_bTimed && timestamp != AV_NOPTS_VALUE)
    {
        p.llTime = av_rescale_q(timestamp - m_llStart, stream.time_base, kTicks);
        p.llIndex = HasRate() ? av_rescale_q(timestamp - m_llStart, stream.time_base, av_inv_q(stream.avg_frame_rate))
                              : counted;
        return p;
    }
    // Counted, or a frame the demuxer gave no time (after a seek, the last frames of a
    // program stream): the one after the previous frame.
    p.llIndex = m_bTimed && m_position.llIndex >= 0 ? m_position.llIndex + 1 : counted;
    p.llTime = TimeOfIndex(p.llIndex);
    return p;
}

int64_t CZubFfmpegPlayer::TimeOfIndex(int64_t llIndex) const
{
    return llIndex >= 0 && HasRate() ? av_rescale_q(llIndex, av_inv_q(m_stream->Stream()->avg_frame_rate), kTicks)
                                     : -1;
}

CZubFfmpegPlayer::EDecode CZubFfmpegPlayer::DecodeNext(std::string& error)
{
    CZubAvStream& s = *m_stream;
    for (;;)
    {
        const int received = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (received >= 0)
        {
            m_position = PositionOfFrame();
            return EDecode::Frame;
        }
        if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && m_bDraining))
            return EDecode::End;
        if (received != AVERROR(EAGAIN))
        {
            error = "Video decoding error: " + ZubAvErrorText(received);
            return EDecode::Error;
        }
        const int read = av_read_frame(s.format.get(), s.packet.get());
        if (read < 0)
        {
            // A damaged or cut file: what can be decoded stands, the stream ends here.
            if (read != AVERROR_EOF)
                m_endReason = "Video reading error: " + ZubAvErrorText(read);
            m_bDraining = true;
            avcodec_send_packet(s.codec.get(), nullptr);
            continue;
        }
        const int sent = s.packet->stream_index == s.iStream ? avcodec_send_packet(s.codec.get(), s.packet.get()) : 0;
        av_packet_unref(s.packet.get());
        // A damaged packet is skipped; the decoder goes on with the next one.
        if (sent < 0 && sent != AVERROR_INVALIDDATA)
        {
            error = "Video decoding error: " + ZubAvErrorText(sent);
            return EDecode::Error;
        }
    }
}

EZubPlayerRead CZubFfmpegPlayer::ReadFrame(SZubPlayerFrame& frame, std::string& error)
{
    if (!m_stream)
    {
        error = "No video is open";
        return EZubPlayerRead::Error;
    }
    if (!m_bPending)
    {
        switch (DecodeNext(error))
        {
        case EDecode::Frame:
            break;
        case EDecode::End:
            error = m_endReason;
            return EZubPlayerRead::EndOfStream;
        case EDecode::Error:
            return EZubPlayerRead::Error;
        }
    }
    m_bPending = false;
    const size_t bytes = m_stream->bih.biSizeImage;
    frame.pixels.resize(bytes + CZubAvStream::kScalerSlack);
    const bool bConverted = m_stream->ConvertFrame(frame.pixels.data());
    frame.pixels.resize(bytes);  // keeps the capacity for the next frame
    if (!bConverted)
    {
        error = "Video conversion error";
        return EZubPlayerRead::Error;
    }
    frame.llTime = m_position.llTime;
    frame.llIndex = m_position.llIndex;
    return EZubPlayerRead::Frame;
}

bool CZubFfmpegPlayer::SeekTime(int64_t llTime, std::string& error)
{
    return Seek({false, std::clamp<int64_t>(llTime, 0, kFarAway)}, error);
}

bool CZubFfmpegPlayer::SeekFrame(int64_t llIndex, std::string& error)
{
    return Seek({true, std::clamp<int64_t>(llIndex, 0, kFarAway)}, error);
}

bool CZubFfmpegPlayer::Seek(const STarget& target, std::string& error)
{
    if (!m_stream)
    {
        error = "No video is open";
        return false;
    }
    if (m_bTimed && (!target.bByIndex || HasRate()))
        return SeekByTimestamp(target, error);
    if (target.bByIndex)
        return SeekByCounting(target.llValue, error);
    if (HasRate())  // the first frame at or after the time
    {
        int64_t index = av_rescale_q_rnd(target.llValue, kTicks, av_inv_q(m_stream->Stream()->avg_frame_rate),
                                         AV_ROUND_DOWN);
        index += TimeOfIndex(index) < target.llValue;
        return SeekByCounting(index, error);
    }
    if (target.llValue == 0)
        return SeekByCounting(0, error);
    error = "This video has neither time stamps nor a frame rate: it can be sought by frame only";
    return false;
}

bool CZubFfmpegPlayer::SeekByCounting(int64_t llIndex, std::string& error)
{
    const int64_t next = m_bPending ? m_position.llIndex : m_llNextCount;
    const bool bRewind = next < 0 || next > llIndex;
    if (bRewind && !Rewind(error))
        return false;
    return DecodeUntil({true, llIndex}, !bRewind && m_bPending, error);
}

bool CZubFfmpegPlayer::SeekByTimestamp(const STarget& target, std::string& error)
{
    const AVStream& stream = *m_stream->Stream();
    const int64_t second = std::max<int64_t>(av_rescale_q(1, AVRational{1, 1}, stream.time_base), 1);
    const int64_t goal = TimestampOf(target);
    for (int64_t back = 0;; back = std::max(2 * back, second))
    {
        const int64_t timestamp = goal - back;
        if (timestamp <= m_llStart)
            break;
        const ELanding landing = LandOnKeyframe(timestamp, target, error);
        if (landing == ELanding::AtOrBefore)
            return DecodeUntil(target, true, error);
        if (landing == ELanding::Error)
            return false;
        if (landing == ELanding::CannotSeek)
            break;
    }
    return Rewind(error) && DecodeUntil(target, false, error);
}

int64_t CZubFfmpegPlayer::TimestampOf(const STarget& target) const
{
    const AVStream& stream = *m_stream->Stream();
    const AVRational unit = target.bByIndex ? av_inv_q(stream.avg_frame_rate) : kTicks;
    const int64_t offset = av_rescale_q_rnd(target.llValue, unit, stream.time_base, AV_ROUND_DOWN);
    return offset < 0 ? INT64_MAX / 4 : m_llStart + offset;  // FFmpeg's overflow: far past the end
}

CZubFfmpegPlayer::ELanding CZubFfmpegPlayer::LandOnKeyframe(int64_t timestamp, const STarget& target,
                                                             std::string& error)
{
    CZubAvStream& s = *m_stream;
    if (av_seek_frame(s.format.get(), s.iStream, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
        return ELanding::CannotSeek;
    avcodec_flush_buffers(s.codec.get());
    m_position = {};
    m_bDraining = false;
    m_endReason.clear();
    m_llNextCount = -1;
    m_bPending = false;
    for (;;)
    {
        switch (DecodeNext(error))
        {
        case EDecode::Frame:
            if (m_position.bKey)
                return target.Passed(m_position) ? ELanding::TooLate : ELanding::AtOrBefore;
            break;
        case EDecode::End:  // no keyframe up to the end: look further back
            return ELanding::TooLate;
        case EDecode::Error:
            return ELanding::Error;
        }
    }
}

bool CZubFfmpegPlayer::DecodeUntil(const STarget& target, bool bHolding, std::string& error)
{
    m_bPending = false;
    if (bHolding && target.Reached(m_position))
    {
        m_bPending = true;
        return true;
    }
    for (;;)
    {
        switch (DecodeNext(error))
        {
        case EDecode::Frame:
            if (target.Reached(m_position))
            {
                m_bPending = true;
                return true;
            }
            break;
        case EDecode::End:  // past the last frame: the next read reports the end
            return true;
        case EDecode::Error:
            return false;
        }
    }
}
