#include "zubserreadahead.h"

void CZubSerReadAhead::Start(const CZubSer& ser, int channel, Plan plan, bool bThread)
{
    Stop();
    m_pSer = &ser;
    m_plan = std::move(plan);
    for (SFrame& slot : m_slots)
    {
        slot.raw.resize(static_cast<size_t>(ser.RawFrameBytes()));
        // Shapes only change with the file: the buffers are kept from pass to pass.
        if (slot.video.m_iWidth != ser.ImageWidth || slot.video.m_iHeight != ser.ImageHeight)
            slot.video.Create(ser.ImageWidth, ser.ImageHeight, FRAME_COLOR_RGB24);
        if (slot.mono.m_iWidth != ser.ImageWidth || slot.mono.m_iHeight != ser.ImageHeight)
            slot.mono.Create(ser.ImageWidth, ser.ImageHeight, FRAME_MONO8);
    }
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
    m_iHead = (m_iHead + 1) % kSlots;
    --m_nFilled;
    // The reader, when it waits for room, is woken once several slots are free: fewer
    // switches between the threads than one per frame.
    if (m_bReaderWaits && m_nFilled <= kSlots - kWakeReaderAt)
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
            if (m_nFilled == kSlots && !m_bStop)
            {
                m_bReaderWaits = true;
                m_changed.wait(lock, [this] { return m_nFilled <= kSlots - kWakeReaderAt || m_bStop; });
                m_bReaderWaits = false;
            }
            if (m_bStop)
                break;
            slot = &m_slots[(m_iHead + m_nFilled) % kSlots];
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
