// The impact phase: every frame cropped around its centre, compared with the mean frame,
// its brightest pixel recorded; the simulated impact painted in.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include "zubapp.h"
#include "zubkiv.h"

using namespace zubdoc;

int CZubDoc::ProcessFrame()
{
    const int n = m_nFrame;
    const SZubParams& p = Params();
    if (p.LimitProcessFrames && n >= static_cast<int64_t>(p.ProcessFrames) + 1)
    {
        EndCurrentPhase();
        return 0;
    }
    Log().LogTrace("PROCESS frame: %4i", n);
    ++m_nProcessed;

    ConvertWholeFrame();
    const SZubPoint cm = MeasureCenter(n, true);
    SZubSize size = MeasurePlanet(n, cm);
    SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
    if (!CropRoi(cm))
        ++m_nRoiErrors;
    SaveIntermediate(n, m_frameRoi, "frame-monochrome.bmp");
    if (m_sizeRoi.cx < size.cx || m_sizeRoi.cy < size.cy)
    {
        size = m_sizeRoi;
        Log().Log("Frame: %i Size planet bigger than ROI. Adjust to ROI.", n);
    }

    CZubCandidate& record = *Record(n);
    StartRecord(n, cm, size, record);
    if (p.ShowHisto)
        m_frameRoi.ComputeHistogram();

    FindBrightestPixel(n, record);
    m_spotDetector.ProcessFrame(record, m_frameRoi, {m_frameMono.m_iWidth, m_frameMono.m_iHeight});
    SendToView(ZubApp().m_bSilent ? WM_FRAME_COUNTERS : WM_FRAME_SHOW);
    if (n == m_llFrames)
        EndCurrentPhase();
    return 0;
}

void CZubDoc::StartRecord(int n, SZubPoint cm, SZubSize size, CZubCandidate& record) const
{
    record.Reset();
    record.m_iFrame = n;
    record.m_sizeRoi = m_sizeRoi;
    record.m_iChannel = m_nChannel;
    record.m_ptCM = cm;
    record.m_sizePlanet = size;
}

void CZubDoc::FindBrightestPixel(int n, CZubCandidate& record)
{
    const SZubParams& p = Params();
    // The mask of an earlier run may still be there: only this run's counts.
    const CZubFrame* mask = p.Mask && m_bMaskReady ? &m_frameMask : nullptr;
    CZubFrame& diff = m_frameDiff;
    diff.CopyFrom(m_frameRoi);
    if (p.SubstractAvg && m_bMeanReady)
    {
        if (mask)
            diff.SubtractAverageMasked(m_frameMean, *mask);
        else
            diff.SubtractAverage(m_frameMean);
    }
    record.m_iLevel = diff.GetMean(mask);
    if (p.SaveIntermediateFrames && n == p.SaveAllFrameNumber)
        diff.SaveBmpFormatted("frame-subs-avg%i.bmp", n, RowsBottomUp());
    if (p.LogDetailsFrames && p.LogDetailsFramesFrom <= n && n <= p.LogDetailsFramesTo)
    {
        Log().LogDetail("Frame to find for bright pixel");
        Log().LogDetail("Frame: %i", n);
        diff.SaveBmpFormatted("frame%i.bmp", n, RowsBottomUp());
        if (p.LogImagesCsv)
            diff.SaveCsv("Frame%i.csv", n);
    }
    if (mask)
        diff.GetMaxPixelMasked(record, *mask);
    else
        diff.GetMaxPixel(record);
    Log().LogTrace("KIV PROCESS frame: %4i PixMax at: (%3i-%3i) %3i", n, record.m_ptKiv.x,
                   record.m_ptKiv.y, record.m_iKivValue);
}

void CZubDoc::SimulationHook(int n, CZubCandidate& record)
{
    if (Params().WriteConsole)
        Log().Log("SIMULATE IMPACT frame: %4i ", n);
    if (record.m_iFrame == 0)
    {
        // The impact phase has not measured this frame yet: locate the planet on red.
        SZubPoint cm;
        SZubSize size;
        m_bMonoCurrent = m_bMonoCmKnown = false;  // the red reduction below is not the run's
        if (m_frameVideo.ConvertAvi2Frame(m_frameMono, {0, 0}, {0, 0}, 1))
        {
            cm = MeasureCenter(n, false);
            size = m_frameMono.GetPlanetSize(cm.x, cm.y);
        }
        else
        {
            cm = m_frameMono.GetCenter();
            Log().Log("SIMULATION: Cannot convert frame to monochrome.");
        }
        StartRecord(n, cm, size, record);
    }
    m_pZub->Simulate(n, m_frameVideo, record, RowsBottomUp());
    if (Params().SaveIntermediateFrames && n == Params().SaveAllFrameNumber)
        m_frameVideo.SaveBmpFormatted("frame-simulation%03i.bmp", n, RowsBottomUp());
}

void CZubDoc::EndImpactPhase()
{
    Log().LogView("End fase: Find IMPACT.");
    Log().Log("----------------------");
    const int nCandidates = GetResults();
    if (m_nRoiErrors > 0)
    {
        Log().Log("**********************************");
        Log().Log("ERRORS in conversion to monochrome");
        Log().Log("ROI outside frame in %i Frames.", m_nRoiErrors);
    }
    Log().Log("**********************************");
    if (nCandidates > 0)
    {
        Log().LogView("FOUND %i CANDIDATES", nCandidates);
        Log().Log("**********************************");
        Log().LogView("Init fase: Get RESULTS.");
        m_nPhase = PHASE_RESULTS;
        StartSource();
        return;
    }
    Log().LogView("NOT FOUND CANDIDATES");
    Log().Log("**********************************");
    m_bRunning = false;
}
