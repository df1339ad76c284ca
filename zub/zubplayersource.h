// The frames the player shows for a video that is not a SER file: pulled one at a time, in
// presentation order, with seeking. The FFmpeg implementation lives in zub/media. Calls are
// synchronous and never throw; one caller at a time.
#pragma once

#include "zubtypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the container says of an opened video, read without decoding it all.
struct SZubPlayerFacts
{
    BITMAPINFOHEADER bih{};       // of every frame: 24-bit, bottom line first, rows padded to 4 bytes
    int64_t llDuration = 0;       // 100-ns units; 0 when unknown
    int64_t llTimePerFrame = 0;   // 100-ns units; 0 when unknown
    int64_t llFrames = 0;         // the container's count, else estimated from the duration; 0 when unknown
};

struct SZubPlayerFrame
{
    std::vector<uint8_t> pixels;  // bih.biSizeImage bytes, laid out as the facts' bih says
    int64_t llTime = -1;          // presentation time from the stream's start, 100-ns units; -1 when unknown
    int64_t llIndex = -1;         // 0 for the first frame; -1 when unknown
};

enum class EZubPlayerRead
{
    Frame,
    EndOfStream,
    Error,
};

class IZubPlayerSource
{
public:
    virtual ~IZubPlayerSource() = default;
    // Opens the file's best video stream, positioned at its first frame. False with the
    // reason in `error` when it is missing, unreadable or holds no decodable video.
    virtual bool Open(const std::string& path, SZubPlayerFacts& facts, std::string& error) = 0;
    // The next frame into `frame` (its buffer is reused). At the end of the stream, every
    // call answers EndOfStream; when the file could not be read to its end, `error` says why.
    virtual EZubPlayerRead ReadFrame(SZubPlayerFrame& frame, std::string& error) = 0;
    // After these, the next frame read is the first one at or after the time (100-ns units
    // from the stream's start) or the index; past the last frame, the end of the stream.
    virtual bool SeekTime(int64_t llTime, std::string& error) = 0;
    virtual bool SeekFrame(int64_t llIndex, std::string& error) = 0;
};

using ZubPlayerFactory = std::function<std::unique_ptr<IZubPlayerSource>()>;
