// The mean-frame phase: the mean of the first ROI crops and the planet's mask.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include <algorithm>

using namespace zubdoc;

void CZubDoc::SetUpAvgFrames()
{
    const SZubParams& p = Params();
    CZubLog& log = Log();
    if (p.DarkAllFrames)
    {
        log.Log("Avg. image: Process all frames.");
        m_nAvgFrames = static_cast<int>(std::min<int64_t>(m_llFrames, kMaxAvgFrames + 1));
    }
    else
    {
        log.Log("Avg. image: Process %i frames.", p.DarkFrames);
        if (static_cast<int64_t>(p.DarkFrames) >= m_llFrames)
        {
            m_nAvgFrames = static_cast<int>(std::min<int64_t>(m_llFrames, INT32_MAX));
            log.Log("Avg. image: Frames in file < frames requested.");
            log.Log("Avg. image: Process all frames!!!");
        }
        else
        {
            m_nAvgFrames = std::max(1, p.DarkFrames);
        }
    }
    if (m_nAvgFrames > kMaxAvgFrames)
    {
        m_nAvgFrames = kMaxAvgFrames;
        log.Log("Avg. image: Limited to 255 frames.");
    }
}

int CZubDoc::AvgFrame()
{
    const int n = m_nFrame;
    const bool bMeanShaped = m_frameMean.m_iBits == FRAME_MONO16 &&
                             m_frameMean.m_iWidth == m_sizeRoi.cx && m_frameMean.m_iHeight == m_sizeRoi.cy;
    if (n == 1 || !bMeanShaped)
        m_frameMean.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO16);
    if (n <= m_nAvgFrames)
    {
        ConvertWholeFrame();
        const SZubPoint cm = MeasureCenter(n, true);
        SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
        CropRoi(cm);
        Record(n)->m_ptCM = cm;
        SaveIntermediate(n, m_frameRoi, "frame-monochrome.bmp");
        m_frameMean.AddToAverage(m_frameRoi);
        m_spotDetector.AddMeanFrame(n, m_frameRoi, {cm.x - m_sizeRoi.cx / 2, cm.y - m_sizeRoi.cy / 2},
                                    {m_frameMono.m_iWidth, m_frameMono.m_iHeight});
        Log().LogTrace("Fase-II AVG Add frame: %i", n);
        SendToView(WM_FRAME_COUNTERS);
    }
    if (n == m_nAvgFrames)
        EndCurrentPhase();
    return 0;
}

void CZubDoc::EndAvgPhase()
{
    const SZubParams& p = Params();
    if (m_frameMean.m_iBits != FRAME_MONO16 || m_frameMean.m_iAvgCount == 0)
    {
        Log().Log("No frames averaged.");
        AbortRun(nullptr);
        return;
    }
    m_frameMean.DivideAverage();
    m_bMeanReady = true;
    Log().Log("Fase-II Calculate average frame.");
    if (p.SaveAvgFrame)
    {
        Log().Log("Save average frame 'frame-avg.bmp'.");
        m_frameMean.SaveBmp("frame-avg.bmp", RowsBottomUp());
    }
    if (p.Mask)
    {
        m_frameMask.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO8);
        m_frameMean.MakeMask(m_frameMask);
        m_frameMask.ReduceMask(p.MaskPixels);
        m_bMaskReady = true;
        if (p.SaveIntermediateFrames)
            m_frameMask.SaveMaskBmp("frame-KIV-mask.bmp", RowsBottomUp());
    }
    m_spotDetector.Prepare();
    Log().LogView("End fase: Compute AVG.");
    Log().Log("----------------------");
    Log().LogView("Init fase: Find IMPACT.");
    m_nPhase = PHASE_IMPACT;
    StartSource();
}
