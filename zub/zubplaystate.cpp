#include "zubplaystate.h"

#include "zubser.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace
{
const BITMAPINFOHEADER kNoHeader{};

std::string SerOpenFailure(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return "No such file";
    if (!std::ifstream(path, std::ios::binary).good())
        return "The file cannot be read";
    return "Not a SER video this program can read";
}

// value * numerator / denominator without overflow; denominator > 0.
int64_t MulDiv(int64_t value, int64_t numerator, int64_t denominator)
{
    return static_cast<int64_t>(static_cast<__int128>(value) * numerator / denominator);
}
}  // namespace

CZubPlayState::CZubPlayState() = default;
CZubPlayState::~CZubPlayState() = default;

bool CZubPlayState::Open(const std::string& path, bool bSer, int64_t llAvgTimePerFrame,
                         const ZubPlayerFactory& factory, std::string& message)
{
    m_pSer.reset();
    m_pSource.reset();
    m_csPath = path;
    m_bSer = bSer;
    m_bOpen = false;
    m_eState = EZubPlayState::Stopped;
    m_bTrackAllowed = m_bDragging = m_bSeekable = false;
    m_llTimePerFrame = m_llDuration = 0;
    m_llShown = m_llShownTime = -1;
    m_llDecoded = 0;
    std::string reason;
    if (!(bSer ? OpenSer(reason) : OpenMedia(factory, llAvgTimePerFrame, reason)))
    {
        m_pSer.reset();
        m_pSource.reset();
        message = "Cannot play " + path + ": " + reason;
        return false;
    }
    m_bOpen = true;
    return true;
}

bool CZubPlayState::OpenSer(std::string& reason)
{
    m_pSer = std::make_unique<CZubSer>();
    if (!m_pSer->Open(m_csPath))
    {
        reason = SerOpenFailure(m_csPath);
        return false;
    }
    if (m_pSer->FrameCount <= 0 || !ShowSerFrame(0))
    {
        reason = "The file holds no whole frame";
        return false;
    }
    m_llTimePerFrame = SerTimePerFrame();
    m_bSeekable = true;
    return true;
}

int64_t CZubPlayState::SerTimePerFrame() const
{
    const int last = m_pSer->FrameCount - 1;
    if (!m_pSer->HasTimeStamps() || last < 1)
        return 0;
    const int64_t span = m_pSer->GetFrameTicks(last) - m_pSer->GetFrameTicks(0);
    const int64_t perFrame = span / last;
    return perFrame > 0 && perFrame <= kMaxTimePerFrame ? perFrame : 0;
}

bool CZubPlayState::OpenMedia(const ZubPlayerFactory& factory, int64_t llAvgTimePerFrame, std::string& reason)
{
    if (!factory)
    {
        reason = "This build plays SER files only";
        return false;
    }
    m_pSource = factory();
    m_facts = {};
    if (!m_pSource || !m_pSource->Open(m_csPath, m_facts, reason))
    {
        if (reason.empty())
            reason = "The video cannot be opened";
        return false;
    }
    const int64_t perFrame = m_facts.llTimePerFrame > 0 ? m_facts.llTimePerFrame : llAvgTimePerFrame;
    m_llTimePerFrame = perFrame > 0 && perFrame <= kMaxTimePerFrame ? perFrame : 0;
    m_llDuration = m_facts.llDuration;
    if (m_llDuration <= 0 && m_facts.llFrames > 0 && m_llTimePerFrame > 0
        && m_facts.llFrames < INT64_MAX / m_llTimePerFrame)
        m_llDuration = m_facts.llFrames * m_llTimePerFrame;
    std::string error;
    if (ReadMedia(error) != EZubPlayerRead::Frame)
    {
        reason = error.empty() ? "The video holds no frame" : error;
        return false;
    }
    // Without a duration or the frames' times the position can be neither shown nor set.
    m_bSeekable = m_llDuration > 0 && m_llShownTime >= 0;
    return true;
}

bool CZubPlayState::ShowSerFrame(int index)
{
    if (!m_pSer->ReadFrame(index))
    {
        ReportFailure("frame " + std::to_string(index + 1) + " cannot be read");
        return false;
    }
    m_llShown = index;
    m_llNextSer = index + 1;
    ++m_serial;
    return true;
}

EZubPlayerRead CZubPlayState::ReadMedia(std::string& error)
{
    const EZubPlayerRead read = m_pSource->ReadFrame(m_frame, error);
    if (read != EZubPlayerRead::Frame)
        return read;
    if (m_frame.pixels.size() < m_facts.bih.biSizeImage)
    {
        error = "A frame is smaller than the video's frame size";
        return EZubPlayerRead::Error;
    }
    m_llShown = m_frame.llIndex;
    m_llShownTime = m_frame.llTime;
    ++m_llDecoded;
    ++m_serial;
    return read;
}

bool CZubPlayState::SeekMedia(int64_t llValue, bool bByIndex)
{
    std::string error;
    if (bByIndex ? m_pSource->SeekFrame(llValue, error) : m_pSource->SeekTime(llValue, error))
        return true;
    ReportFailure(error);
    return false;
}

bool CZubPlayState::Rewind()
{
    if (m_bSer)
    {
        m_llNextSer = 0;
        return true;
    }
    if (!SeekMedia(0, true))
        return false;
    m_llDecoded = 0;
    return true;
}

void CZubPlayState::ShowFirstFrame()
{
    if (m_bSer)
    {
        ShowSerFrame(0);
        return;
    }
    std::string error;
    if (Rewind() && ReadMedia(error) == EZubPlayerRead::Error)
        ReportFailure(error);
}

void CZubPlayState::Play()
{
    if (!m_bOpen || m_eState == EZubPlayState::Playing)
        return;
    if (m_eState == EZubPlayState::Stopped && !Rewind())
        return;
    m_eState = EZubPlayState::Playing;
    m_bTrackAllowed = true;
}

void CZubPlayState::PauseResume()
{
    if (!m_bOpen || m_eState == EZubPlayState::Stopped)
        return;
    const bool bPause = m_eState == EZubPlayState::Playing;
    m_eState = bPause ? EZubPlayState::Paused : EZubPlayState::Playing;
    // A playing SER file follows its loop, not the trackbar.
    if (m_bSer)
        m_bTrackAllowed = bPause;
}

void CZubPlayState::Stop()
{
    if (!m_bOpen || m_eState == EZubPlayState::Stopped)
        return;
    EndPlay();
    ShowFirstFrame();
}

void CZubPlayState::EndPlay()
{
    m_eState = EZubPlayState::Stopped;
    m_bDragging = false;
    m_bTrackAllowed = true;
}

void CZubPlayState::Step()
{
    if (!IsAdvancing())
        return;
    if (m_bSer)
    {
        if (m_llNextSer >= m_pSer->FrameCount || !ShowSerFrame(static_cast<int>(m_llNextSer)))
            EndPlay();
        return;
    }
    std::string error;
    if (ReadMedia(error) == EZubPlayerRead::Frame)
        return;
    EndPlay();
    if (!error.empty())  // a file that cannot be read to its end
        ReportFailure(error);
}

void CZubPlayState::TrackBegin()
{
    if (!TrackUsable() || m_bDragging)
        return;
    m_bDragging = true;
    m_bSought = false;
    m_eBeforeDrag = m_eState;
}

void CZubPlayState::TrackTo(int position)
{
    if (!TrackUsable())
        return;
    if (m_bSer)
    {
        ShowSerFrame(std::clamp(position, 0, m_pSer->FrameCount - 1));
        m_eState = EZubPlayState::Paused;
        return;
    }
    int64_t target = MulDiv(m_llDuration, std::clamp(position, 0, kMediaTrackMax), kMediaTrackMax);
    if (m_llTimePerFrame > 0)  // the trackbar's end is the last frame, not past it
        target = std::max<int64_t>(0, std::min(target, m_llDuration - m_llTimePerFrame));
    std::string error;
    if (SeekMedia(target, false) && ReadMedia(error) == EZubPlayerRead::Error)
        ReportFailure(error);
    m_bSought = true;
}

void CZubPlayState::TrackEnd()
{
    if (!m_bDragging)
        return;
    m_bDragging = false;
    if (!m_bSer && m_eBeforeDrag == EZubPlayState::Stopped && m_bSought)
        m_eState = EZubPlayState::Paused;  // on from the frame sought, not from the first
    else if (!m_bSer)
        m_eState = m_eBeforeDrag;
}

int CZubPlayState::FrameIntervalMs() const
{
    return m_llTimePerFrame > 0 ? static_cast<int>(std::max<int64_t>(1, (m_llTimePerFrame + 5000) / 10000)) : 0;
}

SZubPlayControls CZubPlayState::Controls() const
{
    SZubPlayControls c;
    if (!m_bOpen)
        return c;
    c.bPlay = true;
    c.bPause = c.bStop = m_eState != EZubPlayState::Stopped;
    c.bTrackbar = TrackUsable();
    c.csPauseText = m_eState == EZubPlayState::Paused ? "Resume" : "Pause";
    c.csCounter = Counter();
    if (m_bSeekable)
        c.iTrackMax = m_bSer ? m_pSer->FrameCount - 1 : kMediaTrackMax;
    c.iTrackPos = TrackPosition();
    return c;
}

std::string CZubPlayState::Counter() const
{
    if (m_llShown >= 0)
        return std::to_string(m_llShown + 1);
    if (m_llShownTime >= 0 && m_llTimePerFrame > 0)
        return std::to_string(m_llShownTime / m_llTimePerFrame + 1);
    return std::to_string(m_llDecoded);
}

int CZubPlayState::TrackPosition() const
{
    if (!m_bSeekable)
        return 0;
    if (m_bSer)
        return static_cast<int>(std::max<int64_t>(0, m_llShown));
    const int64_t time = std::clamp<int64_t>(m_llShownTime, 0, m_llDuration);
    return static_cast<int>(MulDiv(time, kMediaTrackMax, m_llDuration));
}

const BITMAPINFOHEADER& CZubPlayState::Header() const
{
    if (m_pSer)
        return m_pSer->m_bih;
    return m_pSource ? m_facts.bih : kNoHeader;
}

const uint8_t* CZubPlayState::Pixels() const
{
    if (m_pSer)
        return m_pSer->m_pFrame.data();
    return m_pSource ? m_frame.pixels.data() : nullptr;
}

size_t CZubPlayState::PixelBytes() const
{
    if (m_pSer)
        return m_pSer->m_pFrame.size();
    return m_pSource ? m_frame.pixels.size() : 0;
}

void CZubPlayState::ReportFailure(const std::string& reason)
{
    if (m_csMessage.empty())
        m_csMessage = "Cannot play " + m_csPath + ": " + reason;
}

std::string CZubPlayState::TakeMessage()
{
    std::string message;
    message.swap(m_csMessage);
    return message;
}

SZubPoint CZubPlayState::PlayerPosition(SZubSize screen, SZubSize player)
{
    return {100, std::max(0, screen.cy - player.cy - 100)};
}

SZubPoint CZubPlayState::PicturePosition(SZubPoint player, SZubSize picture)
{
    return {player.x, std::max(0, player.y - picture.cy)};
}
