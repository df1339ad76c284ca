// Detection over the records, duplicate rejection, and the results pass that collects the
// candidates' patches and photometry.
#include "zubdoc.h"
#include "zubdocinternal.h"
#include "zubview.h"

#include "zubapp.h"
#include "zubkiv.h"

#include <algorithm>

using namespace zubdoc;

int CZubDoc::GetResults()
{
    const SZubParams& p = Params();
    const int count = static_cast<int>(std::min<int64_t>(m_nProcessed, RecordCount()));
    if (p.LogProcess && p.LogDetails)
    {
        const char* stars = "**********************************************************************";
        Log().LogDetail("%s", stars);
        Log().LogDetail("Dump DataFrames");
        for (int i = 0; i < count; ++i)
            Log().LogDetailText(ZubRecordDumpLine(m_pFrameData[static_cast<size_t>(i)]));
        Log().LogDetail("%s", stars);
    }
    {
        CZubKiv kiv;
        kiv.Detect(m_pFrameData.data(), count, m_pView);
    }
    m_spotDetector.Detect(m_pFrameData.data(), count);
    ClearDuplicates(m_pFrameData.data(), count);
    ListDetections(count);
    // A gray video gives gray patches, the simulated spot included.
    if (!m_pCandidates->Allocate(count, m_bSer && m_pSer && !m_pSer->HasColor()))
        Log().Log("Could not keep the candidates' data: %s", m_pCandidates->StorageError().c_str());
    return m_pCandidates->m_iCount;
}

std::vector<bool> CZubDoc::StrongestDetections(int count) const
{
    // One entry per detection (a record's KIV state, then its ZUB state), in frame order.
    struct SDetection
    {
        size_t index;
        float score;
    };
    std::vector<SDetection> detections;
    for (int i = 0; i < count; ++i)
    {
        const CZubCandidate& record = m_pFrameData[static_cast<size_t>(i)];
        for (const int algorithm : {1, 2})
        {
            const int32_t state = algorithm == 1 ? record.m_iKivState : record.m_iZubState;
            if (state == ZUB_STATE_CANDIDATE)
                detections.push_back({2 * static_cast<size_t>(i) + (algorithm - 1),
                                      m_spotDetector.DetectionScore(record, algorithm)});
        }
    }
    std::vector<bool> kept(2 * static_cast<size_t>(count), false);
    // Equal scores (no noise model) keep the earlier ones, as a list filled in frame order would.
    std::stable_sort(detections.begin(), detections.end(),
                     [](const SDetection& a, const SDetection& b) { return a.score > b.score; });
    const size_t room = CZubCandidateList::kMaxCandidates;
    for (size_t k = 0; k < std::min(room, detections.size()); ++k)
        kept[detections[k].index] = true;
    return kept;
}

void CZubDoc::ListDetections(int count)
{
    // When the detections do not fit, the strongest are listed: a noisy minute early in a
    // video must not hide a flash after it.
    const std::vector<bool> kept = StrongestDetections(count);
    int nLeftOut = 0;
    for (int i = 0; i < count; ++i)
    {
        CZubCandidate record = m_pFrameData[static_cast<size_t>(i)];
        const bool bKiv = record.m_iKivState == ZUB_STATE_CANDIDATE;
        const bool bZub = record.m_iZubState == ZUB_STATE_CANDIDATE;
        if (!bKiv && !bZub)
            continue;
        const size_t at = 2 * static_cast<size_t>(i);
        if (bKiv && !kept[at])
            record.m_iKivState = ZUB_STATE_NONE;
        if (bZub && !kept[at + 1])
            record.m_iZubState = ZUB_STATE_NONE;
        nLeftOut += (bKiv && !kept[at]) + (bZub && !kept[at + 1]);
        // The record itself keeps its states; the list refuses what it has no room for.
        const bool bListed = record.m_iKivState == ZUB_STATE_CANDIDATE || record.m_iZubState == ZUB_STATE_CANDIDATE;
        if (!bListed || !m_pCandidates->Add(record))
            Log().Log("TOO MANY CANDIDATES");
    }
    if (nLeftOut > 0)
        Log().Log("Not listed: %i weaker detections.", nLeftOut);
}

int CZubDoc::ClearDuplicates(CZubCandidate* records, int count)
{
    const SZubParams& p = Params();
    const int window = p.RejectDuplicities;
    const int radius = p.RadiusSearch;
    Log().Log("Clear duplicates");
    Log().Log("Radius search: %i", radius);
    Log().Log("Check for duplicates...");
    for (int k = count - 1; k >= 3; --k)
    {
        CZubCandidate& later = records[k];
        const int64_t lowest = std::max<int64_t>(1, int64_t{k} - 1 - window);
        for (int i = k - 1; i >= lowest + 1; --i)
        {
            const CZubCandidate& earlier = records[i];
            if (later.m_iKivState == ZUB_STATE_CANDIDATE && earlier.m_iKivState == ZUB_STATE_CANDIDATE &&
                IsNear(later.m_ptKiv.x, later.m_ptKiv.y, earlier.m_ptKiv.x, earlier.m_ptKiv.y, radius))
                later.m_iKivState = ZUB_STATE_CLEARED;
            if (later.m_iZubState == ZUB_STATE_CANDIDATE && earlier.m_iZubState == ZUB_STATE_CANDIDATE &&
                IsNear(later.m_ptZub.x, later.m_ptZub.y, earlier.m_ptZub.x, earlier.m_ptZub.y, radius))
                later.m_iZubState = ZUB_STATE_CLEARED;
        }
    }
    int nLeft = 0;
    for (int k = 0; k < count; ++k)
        nLeft += (records[k].m_iKivState == ZUB_STATE_CANDIDATE) + (records[k].m_iZubState == ZUB_STATE_CANDIDATE);
    Log().Log("Finally detect %i candidates.", nLeft);
    return nLeft;
}

bool CZubDoc::IsNear(int x1, int y1, int x2, int y2, int r)
{
    return ZubIsNear({x1, y1}, {x2, y2}, r);
}

int CZubDoc::ResultsFrame()
{
    const int n = m_nFrame;
    const SZubParams& p = Params();
    if (!(p.LimitProcessFrames && n >= static_cast<int64_t>(p.ProcessFrames) + 1))
    {
        const CZubCandidate& record = *Record(n);
        m_pCandidates->CollectPatches(record, m_frameVideo);
        m_pCandidates->ComputePhotometry(n);
        // Each detection in full-frame coordinates, at the place its own detector found.
        const int x0 = record.m_ptCM.x - record.m_sizeRoi.cx / 2;
        const int y0 = record.m_ptCM.y - record.m_sizeRoi.cy / 2;
        if (record.m_iKivState == ZUB_STATE_CANDIDATE)
            m_pCandidates->SetFrame(n, m_frameVideo, x0 + record.m_ptKiv.x, y0 + record.m_ptKiv.y, 1);
        if (record.m_iZubState == ZUB_STATE_CANDIDATE)
            m_pCandidates->SetFrame(n, m_frameVideo, x0 + record.m_ptZub.x, y0 + record.m_ptZub.y, 2);
        SendToView(WM_FRAME_COUNTERS);
        Log().LogTrace("RESULTS frame: %4i", n);
        if (n != m_llFrames)
            return 0;
    }
    EndCurrentPhase();
    return 0;
}

void CZubDoc::EndResultsPhase()
{
    Log().LogView("End fase: RESULTS.");
    Log().Log("----------------------");
    m_bRunning = false;
    if (!m_pCandidates->FinishPatches())
        Log().Log("Could not keep the candidates' data: %s", m_pCandidates->StorageError().c_str());
    const IZubShell* shell = ZubApp().GetShell();
    if (shell && !shell->HasWindows())
        return;  // a front end without windows lists the candidates itself
    if (Params().ShowResults && !ZubApp().m_bSilent)
        PostToView(WM_COMMAND, ID_VIEW_RESULTS);
    else
        Log().Log("Select 'View'/'Show results' for view candidates.");
}
