// Reads the frames of one SER pass ahead of the UI thread: a thread of its own reads each
// frame from the file and converts it, in file order, into a small ring, while the UI thread
// processes the frame before. A frame that needs the 24-bit picture (saved, painted into,
// cut into patches) is converted to it, or to the rows of it that are needed; any other
// goes straight to the 8-bit reduction the phases measure, without the 24-bit detour, and
// has its centre of mass measured there too.
//
// The reading thread never waits on the UI thread (it sends, posts and logs nothing), so
// Stop, which wakes and joins it, returns at once from anywhere on the UI thread.
#pragma once

#include "zubframe.h"
#include "zubser.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CZubSerReadAhead
{
public:
    // What a frame must come as: the 8-bit reduction, or rows iFirstRow .. iEndRow - 1 of the
    // 24-bit picture (the other rows of `video` then hold nothing of this frame).
    struct SNeed
    {
        bool bVideo = false;
        int iFirstRow = 0;
        int iEndRow = 0;
        bool Covers(const SNeed& other) const
        {
            return bVideo && other.bVideo && iFirstRow <= other.iFirstRow && iEndRow >= other.iEndRow;
        }
    };
    struct SFrame
    {
        int iIndex = 0;       // 0-based frame of the file
        bool bVideo = false;  // the 24-bit picture in `video`; else the 8-bit reduction in `mono`
        int iFirstRow = 0;    // the rows of `video` read and converted
        int iEndRow = 0;
        CZubFrame video;
        CZubFrame mono;
        SZubPoint ptCenterOfMass;  // of `mono`, measured by the reader too
        std::vector<uint8_t> raw;  // the frame as the file stores it
    };
    // What frame number n (1-based) must come as.
    using Plan = std::function<SNeed(int frameNumber)>;

    static constexpr size_t kSlots = 6;  // at most
    static constexpr size_t kRingBytes = size_t{64} << 20;  // the slots' buffers, unless two take more
    static constexpr size_t kWakeReaderAt = 3;  // free slots
    size_t m_nRingBytes = kRingBytes;           // a test seam

    CZubSerReadAhead() = default;
    ~CZubSerReadAhead() { Stop(); }
    CZubSerReadAhead(const CZubSerReadAhead&) = delete;
    CZubSerReadAhead& operator=(const CZubSerReadAhead&) = delete;

    // Starts reading the open `ser` from its first frame, reducing with `channel`, each frame
    // as `plan` says (none: the reduction); a pass still reading is stopped first. `ser` must
    // stay open until Stop. Without bThread the frames are read in Next, on the caller's
    // thread: better when every core already runs a pass of its own. False (nothing read)
    // when the frames' buffers cannot be allocated.
    bool Start(const CZubSer& ser, int channel, Plan plan, bool bThread = true);
    // The next frame in file order, waiting for it; null at the end of the file, after a
    // failed read, and when no pass reads. The frame stays valid until Release (or the next
    // Next) and may be changed by the caller: the reader overwrites all of it.
    SFrame* Next();
    // Hands the frame Next gave back to the reader.
    void Release();
    // Stops the reading thread and waits for it; the frames not taken are dropped.
    void Stop();

private:
    void ReadLoop();
    bool ReadInto(SFrame& frame, int index);
    SFrame* ReadHere();
    static void PrepareSlot(SFrame& slot, const CZubSer& ser, bool bUsed);
    size_t WakeReaderAtFilled() const;

    const CZubSer* m_pSer = nullptr;
    CZubSer::SReduction m_reduction;
    Plan m_plan;
    std::array<SFrame, kSlots> m_slots;
    size_t m_nSlots = kSlots;  // in use this pass
    size_t m_iHead = 0;    // the next slot to hand out
    size_t m_nFilled = 0;  // slots read and not yet released
    bool m_bHeld = false;  // the head slot is with the caller
    bool m_bDone = false;  // the reader has put its last frame
    bool m_bStop = false;
    bool m_bCallerWaits = false;  // in Next, for the reader
    bool m_bReaderWaits = false;  // for room in the ring
    bool m_bHere = false;         // no thread: Next reads into the first slot
    int m_iNextIndex = 0;         // the frame Next reads then
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};
