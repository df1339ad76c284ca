// One opened video stream and its decoder, shared by the processing source and the player
// source: opening, the facts the container gives, and the conversion of a decoded frame to
// 24-bit blue-green-red rows, bottom line first, padded to 4 bytes. Kept free of FFmpeg's
// headers so that the sources' own headers stay so too.
#pragma once

#include "zubtypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVStream;
struct SwsContext;
struct SZubAvMemory;

// Frees each FFmpeg object the way FFmpeg wants it freed.
struct SZubAvFree
{
    void operator()(AVFormatContext* p) const;
    void operator()(AVCodecContext* p) const;
    void operator()(AVPacket* p) const;
    void operator()(AVFrame* p) const;
    void operator()(SwsContext* p) const;
    void operator()(SZubAvMemory* p) const;
};

enum class EZubAvOpen
{
    Ok,
    Unsupported,
    NoVideo,
};

// FFmpeg's text for one of its error codes.
std::string ZubAvErrorText(int error);
// Videos held in memory, for tests and fuzzing without temporary files: until removed, every
// open of the returned name ("mem:<n>") reads a copy of these bytes, as a file's.
std::string ZubAvAddMemoryVideo(const void* data, size_t size);
void ZubAvRemoveMemoryVideo(const std::string& name);

// FFmpeg's own chatter (deprecated pixel formats and the like) is not for our users; every
// failure that matters is reported by the sources.
void ZubAvQuietLogs();
// Threads each decoder may use; 0, the default, is as many as the machine has. One makes
// decoding deterministic and cheap to open, as fuzzing wants.
void ZubAvSetDecoderThreads(int count);

class CZubAvStream
{
public:
    CZubAvStream();

    // Opens the file's best video stream and its decoder (threaded). On failure `reason`
    // says why, in a few words.
    EZubAvOpen Open(const std::string& path, std::string& reason);

    const AVStream* Stream() const;
    int64_t TimePerFrame() const;  // 100-ns units from the average frame rate; 0 when unknown
    int64_t Duration() const;      // 100-ns units; 0 when unknown
    int64_t FramesInHeader() const;      // the container's frame count; 0 when it has none
    int64_t FramesFromDuration() const;  // duration / time per frame, rounded; 0 when unknown
    std::string CreationTime() const;    // the container's or the stream's; "" when none

    // The decoded `frame` as 24-bit rows, bottom line first, into `pixels`, which must hold
    // bih.biSizeImage + kScalerSlack bytes: the scaler may write a little past a row's end.
    bool ConvertFrame(uint8_t* pixels);
    static constexpr size_t kScalerSlack = 256;

    std::unique_ptr<SZubAvMemory, SZubAvFree> memory;  // a memory video's input; outlives `format`
    std::unique_ptr<AVFormatContext, SZubAvFree> format;
    std::unique_ptr<AVCodecContext, SZubAvFree> codec;
    std::unique_ptr<AVPacket, SZubAvFree> packet;
    std::unique_ptr<AVFrame, SZubAvFree> frame;
    std::unique_ptr<SwsContext, SZubAvFree> scale;
    int iStream = -1;
    BITMAPINFOHEADER bih{};  // of the converted frames
};
