#include "zubview.h"

#include "zubapp.h"
#include "zubdoc.h"
#include "zubpictures.h"

CZubView::CZubView(CZubDoc& doc) : m_doc(doc)
{
    ZubApp().m_log.SetView(this);
    m_doc.SetView(this);
}

CZubView::~CZubView()
{
    if (ZubApp().m_log.GetView() == this)
        ZubApp().m_log.SetView(nullptr);
    if (m_doc.m_pView == this)
        m_doc.SetView(nullptr);
}

LRESULT CZubView::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    HandleMessage(msg, wParam, lParam);
    CheckRunState();
    return 0;
}

void CZubView::CheckRunState()
{
    const SZubRunState state = m_doc.RunState();
    if (state == m_lastRunState)
        return;
    m_lastRunState = state;
    OnRunStateChanged();
}

void CZubView::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_FRAME_CLEAR:
        m_frameImage.Create(0, 0, FRAME_MONO8);
        m_bHistoEmpty = true;
        OnImageCleared();
        break;
    case WM_FRAME_SHOW:
        ShowFrame();
        break;
    case WM_FRAME_COUNTERS:
        ShowCounters();
        OnFieldsChanged(false, false);
        break;
    case WM_LIST_INDEX:
        m_nFrameNumber = static_cast<int>(wParam);
        OnFieldsChanged(false, false);
        break;
    case WM_PHASES_ARM:
        ArmPhases();
        break;
    case WM_END_ROI:
        EndPhase(m_bArmedRoi, &CZubDoc::EndRoiPhase, wParam);
        break;
    case WM_END_AVG:
        EndPhase(m_bArmedAvg, &CZubDoc::EndAvgPhase, wParam);
        break;
    case WM_END_IMPACT:
        EndPhase(m_bArmedImpact, &CZubDoc::EndImpactPhase, wParam);
        break;
    case WM_END_RESULTS:
        EndPhase(m_bArmedResults, &CZubDoc::EndResultsPhase, wParam);
        break;
    case WM_LOG_VIEW:
    {
        const char* text = reinterpret_cast<const char*>(lParam);
        m_csLog += "\r\n";
        m_csLog += text;
        OnLogLine(text);
        OnLogChanged();
        break;
    }
    case WM_LOG_CONSOLE:
        if (IZubShell* shell = ZubApp().GetShell())
            shell->ConsoleLine(reinterpret_cast<const char*>(lParam));
        break;
    case WM_GRAPH_NOTIFY:
        if (m_doc.HandleGraphEvents())
            m_doc.EndCurrentPhase();
        break;
    case WM_TIMER:
        if (wParam == kSerStartTimer)
        {
            KillTimer(kSerStartTimer);
            m_doc.ProcessSerFile();
        }
        break;
    case WM_COMMAND:
        if (!m_doc.OnCommand(static_cast<UINT>(wParam)))
            OnOtherCommand(static_cast<UINT>(wParam));
        break;
    default:
        break;
    }
}

void CZubView::ShowCounters()
{
    m_nFrameNumber = m_doc.m_nFrame;
    m_nFrames = m_doc.m_llFrames;
    m_csFileName = m_doc.m_csPathName;
    if (const CZubCandidate* record = m_doc.Record(m_nFrameNumber))
    {
        m_ptCM = ZubPictureCentre(m_doc, record->m_ptCM);
        m_sizePlanet = record->m_sizePlanet;
    }
}

void CZubView::ShowFrame()
{
    ShowCounters();
    m_frameImage.CopyFrom(m_doc.m_frameRoi);
    if (const CZubCandidate* record = m_doc.Record(m_nFrameNumber))
        m_record = *record;
    m_bHistoEmpty = !(m_doc.m_nPhase == PHASE_IMPACT && ZubApp().m_params.ShowHisto);
    if (!m_bHistoEmpty)
        m_aHisto = m_doc.m_frameRoi.m_aHisto;
    OnFieldsChanged(true, m_nFrameNumber == 1);
}

void CZubView::ArmPhases()
{
    m_bArmedRoi = m_bArmedAvg = m_bArmedImpact = m_bArmedResults = true;
}

void CZubView::EndPhase(bool& bArmed, void (CZubDoc::*endWork)(), WPARAM runId)
{
    if (!bArmed || runId != static_cast<WPARAM>(m_doc.m_nRunId))
        return;  // acted on already in this run, or left over from an earlier run
    bArmed = false;
    m_doc.StopSource();
    if (!m_doc.m_bRunning)
        return;  // stopped by the user: the run ends here
    (m_doc.*endWork)();
}
