// The decoder the document uses for every video that is not a SER file. The FFmpeg
// implementation lives in zub/media; a build without it processes SER files only.
#pragma once

#include "zubtypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CZubWnd;

// Facts of a connected video.
struct SZubMediaFacts
{
    BITMAPINFOHEADER bih{};
    int64_t llAvgTimePerFrame = 0;  // 100-ns units; 0 when unknown
    int64_t llDuration = 0;         // 100-ns units
    int64_t llFrames = 0;
    std::string csSubtype;          // "vids"
    std::string csCreationTime;     // the container's, ISO 8601 in UTC; empty when it has none
};

// Receives every decoded frame: 24-bit rows padded to 4 bytes as the facts' bih says.
using ZubFrameCallback = std::function<int(double sampleTime, const uint8_t* buffer, long length)>;

// One decoding pass over a file (a "graph"): built, run once from the first frame, stopped.
class IZubMediaSource
{
public:
    virtual ~IZubMediaSource() = default;
    // Opens the file and its best video stream and, when `facts` is given, reads them (which
    // may mean decoding the stream once to count its frames). On failure it logs the reason
    // ("...!!!"), shows it in a message box ("...!") and returns false.
    virtual bool Connect(const std::string& path, SZubMediaFacts* facts) = 0;
    // Decodes on its own thread, handing every frame to `onFrame`. At the end of the stream
    // it queues the end event and posts WM_GRAPH_NOTIFY to `notify`.
    virtual bool Run(ZubFrameCallback onFrame, CZubWnd* notify) = 0;
    // Stops decoding and waits for the decoding thread, serving the sends it waits in.
    virtual void Stop() = 0;
    // Drains the queued events; true when the end of the stream was among them.
    virtual bool TakeEndOfStream() = 0;
};

using ZubMediaFactory = std::function<std::unique_ptr<IZubMediaSource>()>;
