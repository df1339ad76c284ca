#include "zubpng.h"

#include "zubreplacefile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
struct SCodecCloser
{
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SFrameFree
{
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct SPacketFree
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::string ErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
}  // namespace

bool ZubWritePng(const std::string& path, const uint8_t* pixels, int width, int height, int channels,
                 std::string& error)
{
    if (!pixels || width <= 0 || height <= 0 || (channels != 1 && channels != 3))
    {
        error = "no picture to write";
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    std::unique_ptr<AVCodecContext, SCodecCloser> context(codec ? avcodec_alloc_context3(codec) : nullptr);
    std::unique_ptr<AVFrame, SFrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, SPacketFree> packet(av_packet_alloc());
    if (!context || !frame || !packet)
    {
        error = "no PNG encoder";
        return false;
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = channels == 3 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_GRAY8;
    context->time_base = {1, 1};
    frame->width = width;
    frame->height = height;
    frame->format = context->pix_fmt;
    int result = avcodec_open2(context.get(), codec, nullptr);
    if (result >= 0)
        result = av_frame_get_buffer(frame.get(), 0);
    if (result < 0)
    {
        error = "PNG encoder: " + ErrorText(result);
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    for (int y = 0; y < height; ++y)
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0], pixels + rowBytes * y, rowBytes);

    // Written whole or not at all: a full disk leaves no cut picture, and an earlier one stays.
    CZubReplacingFile file;
    std::string reason;
    if (!file.Open(path, reason))
    {
        error = "cannot create " + path + ": " + reason;
        return false;
    }
    result = avcodec_send_frame(context.get(), frame.get());
    if (result >= 0)
        result = avcodec_send_frame(context.get(), nullptr);
    bool ok = result >= 0;
    while (ok && (result = avcodec_receive_packet(context.get(), packet.get())) >= 0)
    {
        const size_t size = static_cast<size_t>(packet->size);
        ok = std::fwrite(packet->data, 1, size, file.Stream()) == size;
        av_packet_unref(packet.get());
    }
    if (result < 0 && result != AVERROR_EOF)
        ok = false;
    if (result < 0 && result != AVERROR_EOF)
    {
        error = "cannot write " + path + ": " + ErrorText(result);
        return false;
    }
    if (ok && file.Commit(reason))
        return true;
    error = "cannot write " + path + ": " + (reason.empty() ? std::strerror(errno) : reason);
    return false;
}
