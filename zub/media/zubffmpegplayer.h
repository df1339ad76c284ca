// The FFmpeg player source behind zubplayersource.h: frames decoded on demand, converted as
// the processing source converts them, and seeks that land exactly where decoding from the
// first frame would have arrived.
#pragma once

#include "zubavstream.h"
#include "zubplayersource.h"

#include <cstdint>
#include <memory>
#include <string>

class CZubFfmpegPlayer : public IZubPlayerSource
{
public:
    bool Open(const std::string& path, SZubPlayerFacts& facts, std::string& error) override;
    EZubPlayerRead ReadFrame(SZubPlayerFrame& frame, std::string& error) override;
    bool SeekTime(int64_t llTime, std::string& error) override;
    bool SeekFrame(int64_t llIndex, std::string& error) override;

    static ZubPlayerFactory Factory();

private:
    // Where a decoded frame stands in the stream.
    struct SPosition
    {
        int64_t llTime = -1;
        int64_t llIndex = -1;
        bool bKey = false;
    };
    // Where a seek goes: a time or a frame index.
    struct STarget
    {
        bool bByIndex = false;
        int64_t llValue = 0;
        bool Reached(const SPosition& p) const { return (bByIndex ? p.llIndex : p.llTime) >= llValue; }
        bool Passed(const SPosition& p) const { return (bByIndex ? p.llIndex : p.llTime) > llValue; }
    };
    enum class EDecode
    {
        Frame,
        End,
        Error,
    };
    enum class ELanding
    {
        AtOrBefore,  // the first keyframe decoded after the seek is at or before the target
        TooLate,
        CannotSeek,
        Error,
    };

    // Opens the file afresh: the exact state of its first frame.
    bool Rewind(std::string& error);
    // Decodes the next frame into the stream's frame and sets m_position.
    EDecode DecodeNext(std::string& error);
    SPosition PositionOfFrame();
    int64_t TimeOfIndex(int64_t llIndex) const;  // on the frame-rate grid; -1 when unknown
    bool HasRate() const;

    bool Seek(const STarget& target, std::string& error);
    bool SeekByTimestamp(const STarget& target, std::string& error);
    bool SeekByCounting(int64_t llIndex, std::string& error);
    ELanding LandOnKeyframe(int64_t timestamp, const STarget& target, std::string& error);
    int64_t TimestampOf(const STarget& target) const;
    // Decodes up to the first frame that reaches the target and holds it for the next read;
    // `bHolding`: the frame held now is a candidate too.
    bool DecodeUntil(const STarget& target, bool bHolding, std::string& error);

    std::unique_ptr<CZubAvStream> m_stream;
    std::string m_path;
    bool m_bTimed = false;       // frames carry timestamps from a known start
    int64_t m_llStart = 0;       // that start, in the stream's time base
    bool m_bDraining = false;    // the file is read to its end; the decoder hands out what it holds
    std::string m_endReason;     // why the file could not be read to its end
    int64_t m_llNextCount = -1;  // index of the next decoded frame, counted from the first; -1 unknown
    bool m_bPending = false;     // a seek decoded the next frame to read already
    SPosition m_position;        // of the frame the stream holds
};
