// The sources of a pass: the SER loop on the UI thread, the media decoder, the frame callback
// both deliver to, and the end of a pass.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include "zubapp.h"
#include "zubview.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

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
    m_readAhead.Stop();  // the reader is reopened below
    if (!m_pSer->Open(m_csPathName))
    {
        // Without frames the pass would wait for ever.
        AbortRun("Cannot open SER file.");
        return;
    }
    m_serPlan = SerFramePlan();
    if (!m_readAhead.Start(*m_pSer, m_nChannel, m_serPlan, m_bReadAheadThread))
    {
        m_pSer->Close();
        AbortRun("Not enough memory to read the SER file.");
        return;
    }
    m_bSerPassOpen = true;
    Log().Log("Start processing SER file.");
    if (m_pView)
        m_pView->SetTimer(CZubView::kSerStartTimer, m_pView->m_nSerStartDelayMs);
}

void CZubDoc::StopSource()
{
    if (!m_bSer)
    {
        StopMediaSource();
        return;
    }
    Log().Log("Stop processing SER file.");
    CloseSerPass();
}

void CZubDoc::CloseSerPass()
{
    m_readAhead.Stop();
    m_pSer->Close();
    m_bSerPassOpen = false;
}

CZubSerReadAhead::Plan CZubDoc::SerFramePlan() const
{
    using SNeed = CZubSerReadAhead::SNeed;
    const SZubParams& p = Params();
    const int phase = m_nPhase;
    const int saved = p.SaveIntermediateFrames ? p.SaveAllFrameNumber : 0;
    const bool bSimulated = p.Simulation && (phase == PHASE_IMPACT || phase == PHASE_RESULTS);
    const int64_t firstSimulated = p.FrameInitial;
    const int64_t endSimulated = firstSimulated + p.FrameDuration;
    const SNeed whole{true, 0, m_bih.biHeight};
    // The picture whole for the frame saved as "frame-avi.bmp" and for the frames the
    // simulation paints into; the other frames reduced, or in the results pass the rows of
    // the candidates' patches.
    auto special = [=](int n) {
        return (saved != 0 && n == saved) || (bSimulated && firstSimulated <= n && n < endSimulated);
    };
    if (phase != PHASE_RESULTS)
        return [=](int n) { return special(n) ? whole : SNeed{}; };
    auto rows = std::make_shared<const std::vector<SNeed>>(ResultsRows());
    return [=](int n) { return special(n) || n < 1 || n > static_cast<int>(rows->size()) ? whole : (*rows)[n - 1]; };
}

std::vector<CZubSerReadAhead::SNeed> CZubDoc::ResultsRows() const
{
    const int height = m_bih.biHeight;
    std::vector<CZubSerReadAhead::SNeed> rows(m_pFrameData.size(), {true, 0, 0});
    const int half = CZubImpact::kPatchSide / 2;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const int n = static_cast<int>(i) + 1;
        CZubSerReadAhead::SNeed& need = rows[i];
        for (int slot = 0; slot < CandidateCount(); ++slot)
        {
            const CZubImpact& impact = m_pCandidates->m_aImpacts[static_cast<size_t>(slot)];
            if (impact.m_iFrame == n)
            {
                need = {true, 0, height};  // its frame of detection is kept whole
                break;
            }
            if (!impact.HasArrays())
                continue;
            // The rows CollectPatch copies: from cy - 16 up to cy + 16, within the frame.
            const int cy = m_pFrameData[i].m_ptCM.y + impact.m_ptRel.y;
            const int first = std::max(cy - half, 0);
            const int end = std::min(cy + half, height - 1);
            if (end <= first)
                continue;
            need.iFirstRow = need.iEndRow > need.iFirstRow ? std::min(need.iFirstRow, first) : first;
            need.iEndRow = std::max(need.iEndRow, end);
        }
    }
    return rows;
}

void CZubDoc::ProcessSerFile()
{
    IZubMessageLoop* loop = ZubGetMessageLoop();
    while (CZubSerReadAhead::SFrame* frame = m_readAhead.Next())
    {
        OnSerFrame(*frame);
        m_readAhead.Release();
        if (loop && !loop->PumpPending())
            return;  // the quit message stays queued, so the application still ends
    }
    // A frame could not be read (the file shrank or failed since it was opened): the phase
    // ends with the frames it saw.
    if (m_bSerPassOpen && m_nPhase != PHASE_IDLE)
    {
        Log().Log("Frame: %i cannot be read. End of pass.", m_nFrame + 1);
        EndCurrentPhase();
    }
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
    m_bMonoCurrent = m_bMonoCmKnown = false;
    return HandleFrame(n);
}

int CZubDoc::OnSerFrame(CZubSerReadAhead::SFrame& frame)
{
    const int n = ++m_nFrame;
    if (!m_bRunning)
    {
        EndCurrentPhase();
        return 0;
    }
    const CZubSerReadAhead::SNeed need = m_serPlan ? m_serPlan(n) : CZubSerReadAhead::SNeed{};
    const bool bVideo = frame.bVideo || need.bVideo;
    CZubFrame& mine = bVideo ? m_frameVideo : m_frameMono;
    CZubFrame& delivered = bVideo ? frame.video : frame.mono;
    if (delivered.m_iWidth != mine.m_iWidth || delivered.m_iHeight != mine.m_iHeight ||
        delivered.m_iBits != mine.m_iBits || !delivered.HasBuffer())
    {
        Log().Log("Frame: %i unexpected size. Skipped.", n);
        return 0;
    }
    // Frame numbers follow the file's frames unless a frame was slipped in: what the plan
    // wants is then read here.
    const CZubSerReadAhead::SNeed got{frame.bVideo, frame.iFirstRow, frame.iEndRow};
    if (need.bVideo && !got.Covers(need))
    {
        if (!m_pSer->ReadRawRows(frame.iIndex, need.iFirstRow, need.iEndRow, frame.raw.data()))
        {
            Log().Log("Frame: %i cannot be read. Skipped.", n);
            return 0;
        }
        m_pSer->ConvertRawRows(frame.raw.data(), need.iFirstRow, need.iEndRow, delivered.m_pRGB);
    }
    std::swap(mine, delivered);
    m_bMonoCurrent = m_bMonoCmKnown = !bVideo;
    m_ptMonoCm = frame.ptCenterOfMass;
    return HandleFrame(n);
}

int CZubDoc::HandleFrame(int n)
{
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
        m_csCreationTime = facts.csCreationTime;
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
