// The FFmpeg decoder behind zubmedia.h: every video FFmpeg reads becomes 24-bit
// blue-green-red frames, bottom line first, rows padded to 4 bytes, delivered one by one
// from a decoding thread.
#pragma once

#include "zubavstream.h"
#include "zubmedia.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CZubFfmpegSource : public IZubMediaSource
{
public:
    CZubFfmpegSource();
    ~CZubFfmpegSource() override;
    CZubFfmpegSource(const CZubFfmpegSource&) = delete;
    CZubFfmpegSource& operator=(const CZubFfmpegSource&) = delete;

    bool Connect(const std::string& path, SZubMediaFacts* facts) override;
    bool Run(ZubFrameCallback onFrame, CZubWnd* notify) override;
    void Stop() override;
    bool TakeEndOfStream() override;

    static ZubMediaFactory Factory();

private:
    EZubAvOpen Open(const std::string& path);
    void ReadFacts(SZubMediaFacts& facts);
    static int64_t CountFramesOf(const std::string& path);
    static int64_t CountPacketsOf(const std::string& path);
    // Decodes every frame of the stream into the state's frame, calling `deliver` for each,
    // until the end, an error or a stop. False when FFmpeg reported an error.
    bool DecodeAll(const std::function<void()>& deliver);
    bool ReceiveFrames(const std::function<void()>& deliver);

    // Decoding and processing overlap: one thread decodes and converts into a ring of
    // slots, the other hands them to the callback in order.
    struct SSlot
    {
        std::vector<uint8_t> pixels;  // m_bih.biSizeImage bytes, and slack for the scaler
        double time = 0.0;
    };
    static constexpr size_t kSlots = 4;
    SSlot* WaitForFreeSlot();
    void DecodeThread();
    void DeliverThread(ZubFrameCallback onFrame, CZubWnd* notify);

    std::unique_ptr<CZubAvStream> m_state;
    std::string m_path;
    BITMAPINFOHEADER m_bih{};

    std::array<SSlot, kSlots> m_slots;
    size_t m_iHead = 0;    // the next slot to deliver
    size_t m_nFilled = 0;  // slots decoded and not yet delivered
    bool m_bDecodeDone = false;
    std::mutex m_ringMutex;
    std::condition_variable m_ringChanged;
    std::thread m_decodeThread;
    std::thread m_deliverThread;
    std::atomic<bool> m_bStop{false};

    std::mutex m_eventMutex;
    bool m_bEndOfStream = false;
};
