// The sources of a pass: the SER loop on the UI thread, the media decoder, the frame callback
// both deliver to, and the end of a pass.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include "zubapp.h"
#include "zubview.h"

using namespace zubdoc;

void CZubDoc::StartSource()
{
    m_nFrame = 0;
    if (!m_bSer)
    {
        if (!StartMediaSource())
            AbortRun("Cannot start video decoding.");
        return;
    }
    if (!m_pSer->Open(m_csPathName))
    {
        // Without frames the pass would wait for ever.
        AbortRun("Cannot open SER file.");
        return;
    }
    m_bSerPassOpen = true;
    Log().Log("Start processing SER file.");
    if (m_pView)
        m_pView->SetTimer(CZubView::kSerStartTimer, CZubView::kSerStartDelayMs);
}

void CZubDoc::StopSource()
{
    if (!m_bSer)
    {
        StopMediaSource();
        return;
    }
    Log().Log("Stop processing SER file.");
    m_pSer->Close();
    m_bSerPassOpen = false;
}

void CZubDoc::ProcessSerFile()
{
    IZubMessageLoop* loop = ZubGetMessageLoop();
    while (m_pSer->ReadNextFrame())
    {
        OnVideoFrame(0.0, m_pSer->m_pFrame.data(), static_cast<long>(m_pSer->m_pFrame.size()));
        if (loop && !loop->PumpPending())
            return;  // the quit message stays queued, so the application still ends
    }
    // The file ran out before the phase saw its last frame (a truncated file).
    if (m_bSerPassOpen && m_nPhase != PHASE_IDLE)
        EndCurrentPhase();
}

int CZubDoc::OnVideoFrame(double sampleTime, const uint8_t* buffer, long length)
{
    (void)sampleTime;
    const int n = ++m_nFrame;
    if (!m_bRunning)
    {
        EndCurrentPhase();
        return 0;
    }
    if (length < 0 || static_cast<uint64_t>(length) != m_bih.biSizeImage ||
        static_cast<size_t>(length) != m_frameVideo.GetBufferSize() || !buffer)
    {
        Log().Log("Frame: %i unexpected size. Skipped.", n);
        return 0;
    }
    m_frameVideo.SetPixels(buffer);
    CZubCandidate* record = Record(n);
    if (!record)
        return 0;  // more frames than the video announced: nothing to record

    const int phase = m_nPhase;
    const SZubParams& p = Params();
    if (p.Simulation && (phase == PHASE_IMPACT || phase == PHASE_RESULTS) && p.FrameInitial <= n &&
        n < int64_t{p.FrameInitial} + p.FrameDuration)
        SimulationHook(n, *record);

    switch (phase)
    {
    case PHASE_ROI:
        return RoiFrame();
    case PHASE_AVG:
        return AvgFrame();
    case PHASE_IMPACT:
        return ProcessFrame();
    case PHASE_RESULTS:
        return ResultsFrame();
    default:
        return 0;
    }
}

void CZubDoc::EndCurrentPhase()
{
    const int phase = m_nPhase.exchange(PHASE_IDLE);
    if (const UINT msg = EndMessageOf(phase))
        PostToView(msg, static_cast<WPARAM>(m_nRunId));
}

void CZubDoc::AbortRun(const char* reason)
{
    if (reason)
        Log().Log("%s", reason);
    Log().LogView("Process aborted!!!");
    m_bRunning = false;
    m_nPhase = PHASE_IDLE;
}

void CZubDoc::PostToView(UINT msg, WPARAM wParam)
{
    if (m_pView)
        m_pView->PostMessage(msg, wParam);
}

void CZubDoc::SendToView(UINT msg, WPARAM wParam)
{
    if (m_pView)
        m_pView->SendMessage(msg, wParam);
}

bool CZubDoc::ConnectVideo(bool bReadFacts)
{
    if (m_bSer)
        return true;
    Log().Log("Connecting video driver...");
    if (!m_mediaFactory)
    {
        Log().Log("Unsupported media type!!!");
        ZubMessageBox("Unsupported media type!");
        return false;
    }
    m_pMedia = m_mediaFactory();
    SZubMediaFacts facts;
    if (!m_pMedia || !m_pMedia->Connect(m_csPathName, bReadFacts ? &facts : nullptr))
    {
        m_pMedia.reset();
        return false;
    }
    if (bReadFacts)
    {
        m_bih = facts.bih;
        m_csSubtype = facts.csSubtype;
        m_llDuration = facts.llDuration;
        m_llAvgTimePerFrame = facts.llAvgTimePerFrame;
        m_llFrames = facts.llFrames;
    }
    Log().Log("Connected.");
    return true;
}

bool CZubDoc::DisconnectVideo()
{
    if (m_bSer)
        return true;
    Log().Log("Disconnecting video driver...");
    if (m_pMedia)
        m_pMedia->Stop();
    m_pMedia.reset();
    Log().Log("Disconnected.");
    return true;
}

bool CZubDoc::StartMediaSource()
{
    if (!ConnectVideo(false))
        return false;
    Log().Log("Start processing AVI.");
    if (!m_pMedia->Run([this](double t, const uint8_t* b, long l) { return OnVideoFrame(t, b, l); }, m_pView))
    {
        DisconnectVideo();
        return false;
    }
    m_nGraphState = 2;
    return true;
}

void CZubDoc::StopMediaSource()
{
    if (m_nGraphState == 0)
        return;
    if (m_pMedia)
        m_pMedia->Stop();
    m_nGraphState = 1;
    Log().Log("Stop processing AVI.");
    DisconnectVideo();
}

bool CZubDoc::HandleGraphEvents()
{
    if (!m_pMedia || !m_pMedia->TakeEndOfStream())
        return false;
    m_pMedia->Stop();
    PostToView(WM_COMMAND, ID_STOP_SOURCE);
    return true;
}
