#include "zubserreadahead.h"

#include <algorithm>
#include <new>

bool CZubSerReadAhead::Start(const CZubSer& ser, int channel, Plan plan, bool bThread)
{
    Stop();
    // As many slots as kRingBytes hold (at least two to overlap; one without the thread).
    const size_t pixels = static_cast<size_t>(std::max(ser.ImageWidth, 0)) * static_cast<size_t>(std::max(ser.ImageHeight, 0));
    const size_t slotBytes = static_cast<size_t>(ser.RawFrameBytes()) + 4 * pixels + 1;
    m_nSlots = bThread ? std::clamp<size_t>(m_nRingBytes / slotBytes, 2, kSlots) : 1;
    try
    {
        for (size_t i = 0; i < kSlots; ++i)
            PrepareSlot(m_slots[i], ser, i < m_nSlots);
    }
    catch (const std::bad_alloc&)
    {
        for (SFrame& slot : m_slots)
            slot = SFrame{};
        return false;
    }
    m_pSer = &ser;
    m_plan = std::move(plan);
    // An unknown channel prepares nothing: every frame then takes the 24-bit way.
    ser.PrepareReduction(m_slots[0].mono, channel, m_reduction);
    m_iHead = 0;
    m_nFilled = 0;
    m_bHeld = false;
    m_bDone = false;
    m_bStop = false;
    m_bHere = !bThread;
    m_iNextIndex = 0;
    if (bThread)
        m_thread = std::thread(&CZubSerReadAhead::ReadLoop, this);
    return true;
}

// Shapes only change with the file: a used slot keeps its buffers from pass to pass.
void CZubSerReadAhead::PrepareSlot(SFrame& slot, const CZubSer& ser, bool bUsed)
{
    if (!bUsed)
    {
        slot = SFrame{};
        return;
    }
    slot.raw.resize(static_cast<size_t>(ser.RawFrameBytes()));
    if (slot.video.m_iWidth != ser.ImageWidth || slot.video.m_iHeight != ser.ImageHeight)
        slot.video.Create(ser.ImageWidth, ser.ImageHeight, FRAME_COLOR_RGB24);
    if (slot.mono.m_iWidth != ser.ImageWidth || slot.mono.m_iHeight != ser.ImageHeight)
        slot.mono.Create(ser.ImageWidth, ser.ImageHeight, FRAME_MONO8);
}

size_t CZubSerReadAhead::WakeReaderAtFilled() const
{
    return m_nSlots - std::min(kWakeReaderAt, m_nSlots - 1);
}

CZubSerReadAhead::SFrame* CZubSerReadAhead::ReadHere()
{
    if (!m_pSer || m_iNextIndex >= m_pSer->FrameCount || !ReadInto(m_slots[0], m_iNextIndex))
        return nullptr;
    ++m_iNextIndex;
    m_bHeld = true;
    return &m_slots[0];
}

CZubSerReadAhead::SFrame* CZubSerReadAhead::Next()
{
    if (m_bHeld)
        Release();
    if (m_bHere)
        return ReadHere();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_thread.joinable())
        return nullptr;
    if (m_nFilled == 0 && !m_bDone)
    {
        m_bCallerWaits = true;
        m_changed.wait(lock, [this] { return m_nFilled > 0 || m_bDone; });
        m_bCallerWaits = false;
    }
    if (m_nFilled == 0)
        return nullptr;
    m_bHeld = true;
    return &m_slots[m_iHead];
}

void CZubSerReadAhead::Release()
{
    if (m_bHere)
    {
        m_bHeld = false;
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bHeld)
        return;
    m_bHeld = false;
    m_iHead = (m_iHead + 1) % m_nSlots;
    --m_nFilled;
    // The reader, when it waits for room, is woken once several slots are free: fewer
    // switches between the threads than one per frame.
    if (m_bReaderWaits && m_nFilled <= WakeReaderAtFilled())
        m_changed.notify_all();
}

void CZubSerReadAhead::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
    m_bHeld = false;
    m_nFilled = 0;
    m_pSer = nullptr;
    m_bHere = false;
}

void CZubSerReadAhead::ReadLoop()
{
    const int frames = m_pSer->FrameCount;
    for (int index = 0; index < frames; ++index)
    {
        SFrame* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_nFilled == m_nSlots && !m_bStop)
            {
                m_bReaderWaits = true;
                m_changed.wait(lock, [this] { return m_nFilled <= WakeReaderAtFilled() || m_bStop; });
                m_bReaderWaits = false;
            }
            if (m_bStop)
                break;
            slot = &m_slots[(m_iHead + m_nFilled) % m_nSlots];
        }
        if (!ReadInto(*slot, index))
            break;  // a file cut short: the pass ends with what was read
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nFilled;
        if (m_bCallerWaits)
            m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bDone = true;
    m_changed.notify_all();
}

bool CZubSerReadAhead::ReadInto(SFrame& frame, int index)
{
    SNeed need = m_plan ? m_plan(index + 1) : SNeed{};
    if (!need.bVideo && m_reduction.iChannel < 0)
        need = {true, 0, m_pSer->ImageHeight};  // a channel the reduction does not know: the 24-bit way decides
    if (!need.bVideo)
        need = {false, 0, m_pSer->ImageHeight};
    if (!m_pSer->ReadRawRows(index, need.iFirstRow, need.iEndRow, frame.raw.data()))
        return false;
    frame.iIndex = index;
    frame.bVideo = need.bVideo;
    frame.iFirstRow = need.iFirstRow;
    frame.iEndRow = need.iEndRow;
    if (frame.bVideo)
        m_pSer->ConvertRawRows(frame.raw.data(), need.iFirstRow, need.iEndRow, frame.video.m_pRGB);
    else if (m_pSer->ReduceRawFrame(frame.raw.data(), frame.mono, m_reduction))
        frame.ptCenterOfMass = frame.mono.GetCenterOfMass();
    return true;
}
