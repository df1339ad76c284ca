// The ROI phase, and the measurements every phase makes on a frame: reduction to
// monochrome, centre of mass, planet size, the ROI crop.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include "zubapp.h"

#include <algorithm>

using namespace zubdoc;

bool CZubDoc::SetUpRoi()
{
    const SZubParams& p = Params();
    CZubLog& log = Log();
    if (p.ROIAutomatic != 0)
    {
        log.Log("ROI: Use automatic process.");
        log.Log("ROI: Process %i frames.", p.ROIAutoNumFrames);
        if (static_cast<int64_t>(p.ROIAutoNumFrames) >= m_llFrames)
        {
            m_nRoiFrames = static_cast<int>(m_llFrames);
            log.Log("ROI: Frames in file < frames requested.");
            log.Log("ROI: Process all frames!!!");
        }
        else
        {
            // A phase of no frame would never end.
            m_nRoiFrames = std::max(1, p.ROIAutoNumFrames);
        }
        log.Log("ROI: Factor bright %7.3f dinamic range.", p.ROIFactorBright);
        log.Log("ROI: Factor size   %7.3f x planet size.", p.ROIFactorSize);
        log.Log("ROI: Filter to smooth planet profile: %i.", p.PlanetSizeFilter);
        m_nPhase = PHASE_ROI;
        return true;
    }
    log.Log("ROI: Use fixed size.");
    log.Log("ROI: Size %i x %i.", p.ROIManualWidth, p.ROIManualHeight);
    const bool bTooBig = m_bih.biWidth < p.ROIManualWidth || m_bih.biHeight < p.ROIManualHeight;
    const bool bEmpty = p.ROIManualWidth < 1 || p.ROIManualHeight < 1;
    if (bTooBig || bEmpty)
    {
        log.Log("********************************");
        log.Log(bTooBig ? "Manual ROI bigger than frame." : "Manual ROI smaller than 1 x 1.");
        log.Log("STOP process.");
        log.Log("********************************");
        ZubMessageBox(bTooBig ? "Selected: Fixed ROI size.\nbigger than frame size."
                              : "Selected: Fixed ROI size.\nsmaller than 1 x 1.");
        return false;
    }
    m_nPhase = PHASE_AVG;
    return true;
}

void CZubDoc::ConvertWholeFrame()
{
    if (m_bMonoCurrent)
        return;
    m_frameVideo.ConvertAvi2Frame(m_frameMono, {0, 0}, {0, 0}, m_nChannel);
    m_bMonoCurrent = true;
    m_bMonoCmKnown = false;
}

bool CZubDoc::CropRoi(SZubPoint cm)
{
    // Copied from the monochrome frame just made: the same pixels, converted once.
    return m_frameVideo.ConvertAvi2Frame(m_frameRoi, cm, m_sizeRoi, m_nChannel, &m_frameMono);
}

SZubPoint CZubDoc::MeasureCenter(int n, bool bLog)
{
    // Measured by the SER reader's thread when it reduced the frame.
    SZubPoint cm = m_bMonoCmKnown ? m_ptMonoCm : m_frameMono.GetCenterOfMass();
    if (IsOutside(cm, m_frameMono.m_iWidth, m_frameMono.m_iHeight))
    {
        cm = m_frameMono.GetCenter();
        if (bLog)
            Log().Log("Frame: %i CM ERROR. CM moved to image center.", n);
    }
    return cm;
}

SZubSize CZubDoc::MeasurePlanet(int n, SZubPoint cm)
{
    SZubSize size = m_frameMono.GetPlanetSize(cm.x, cm.y);
    if (m_frameMono.m_iWidth < size.cx || m_frameMono.m_iHeight < size.cy)
    {
        size = {m_frameMono.m_iWidth, m_frameMono.m_iHeight};
        Log().Log("Frame: %i Size planet ERROR. Same as image.", n);
    }
    return size;
}

void CZubDoc::SaveIntermediate(int n, const CZubFrame& frame, const char* name) const
{
    if (Params().SaveIntermediateFrames && n == Params().SaveAllFrameNumber)
        frame.SaveBmp(name, RowsBottomUp());
}

int CZubDoc::RoiFrame()
{
    const int n = m_nFrame;
    if (n == 1)
        SendToView(WM_FRAME_CLEAR);
    if (n <= m_nRoiFrames)
    {
        SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
        ConvertWholeFrame();
        SaveIntermediate(n, m_frameMono, "frame-monochrome.bmp");
        const SZubPoint cm = MeasureCenter(n, true);
        const SZubSize size = MeasurePlanet(n, cm);
        CZubCandidate& record = *Record(n);
        record.m_ptCM = cm;
        record.m_sizePlanet = size;
        Log().LogTrace("ROI frame: %i planet size: %ix%i", n, size.cx, size.cy);
        SendToView(WM_FRAME_COUNTERS);
    }
    if (n == m_nRoiFrames)
        EndCurrentPhase();
    return 0;
}

void CZubDoc::EndRoiPhase()
{
    Log().LogView("End fase: Compute ROI.");
    Log().Log("----------------------");
    int64_t sumCx = 0;
    int64_t sumCy = 0;
    for (int n = 1; n <= m_nRoiFrames; ++n)
    {
        if (const CZubCandidate* record = Record(n))
        {
            sumCx += record->m_sizePlanet.cx;
            sumCy += record->m_sizePlanet.cy;
        }
    }
    const SZubSize mean{static_cast<int32_t>(sumCx / m_nRoiFrames), static_cast<int32_t>(sumCy / m_nRoiFrames)};
    SizeRoi(mean);
    m_frameRoi.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO8);
    Log().LogView("Calculated ROI: %ix%i", m_sizeRoi.cx, m_sizeRoi.cy);
    Log().LogView("Init fase: Compute AVG.");
    m_nPhase = PHASE_AVG;
    StartSource();
}

void CZubDoc::SizeRoi(SZubSize meanPlanet)
{
    // Without a planet size, or with a factor that leaves nothing of it: search the whole frame.
    if (meanPlanet.cx < 1 || meanPlanet.cy < 1)
    {
        m_sizeRoi = {m_bih.biWidth, m_bih.biHeight};
        Log().Log("ROI: No planet size measured. ROI = whole frame.");
        return;
    }
    m_sizeRoi = CZubFrame::ScaleSize(meanPlanet);
    if (m_sizeRoi.cx < 1 || m_sizeRoi.cy < 1)
    {
        m_sizeRoi = {m_bih.biWidth, m_bih.biHeight};
        Log().Log("ROI: Factor size %.3f gives an empty ROI. ROI = whole frame.", Params().ROIFactorSize);
        return;
    }
    const int maxCx = kMaxRoiPerFrameSide * m_bih.biWidth;
    const int maxCy = kMaxRoiPerFrameSide * m_bih.biHeight;
    if (m_sizeRoi.cx > maxCx || m_sizeRoi.cy > maxCy)
    {
        m_sizeRoi = {std::min(m_sizeRoi.cx, maxCx), std::min(m_sizeRoi.cy, maxCy)};
        Log().Log("ROI: Size limited to %ix%i.", m_sizeRoi.cx, m_sizeRoi.cy);
    }
}
