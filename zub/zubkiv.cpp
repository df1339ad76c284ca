#include "zubkiv.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubwnd.h"

#include <algorithm>
#include <cstdlib>

namespace
{
CZubLog& Log()
{
    return ZubApp().m_log;
}

bool DetailOn()
{
    const SZubParams& p = ZubApp().m_params;
    return p.LogProcess && p.LogDetails;
}
}  // namespace

bool KivData::IsNearPoint(const KivData& other, int radius) const
{
    return std::abs(m_ptPixMax.x - other.m_ptPixMax.x) < radius &&
           std::abs(m_ptPixMax.y - other.m_ptPixMax.y) < radius;
}

void KivData::Dump() const
{
    Log().LogDetail("KivData: %4i val: %4i (%3i,%3i)", m_iFrame, m_iPixMax, m_ptPixMax.x, m_ptPixMax.y);
}

CZubKiv::CZubKiv()
{
    const int requested = ZubApp().m_params.ListSize;
    m_iSize = std::clamp(requested, 1, kCapacity);
    if (m_iSize != requested)
        Log().Log("KIV: ListSize %i out of range, using %i.", requested, m_iSize);
}

void CZubKiv::CreateList(const CZubCandidate* first)
{
    for (int k = 0; k < m_iSize; ++k)
    {
        const CZubCandidate& record = first[k];
        KivData& entry = m_pData[static_cast<size_t>(k)];
        entry.m_iFrame = record.m_iFrame;
        entry.m_iPixMax = record.m_iKivValue - record.m_iLevel;
        entry.m_ptPixMax = record.m_ptKiv;
    }
    DumpList("CZubKiv::CreateList - DUMP List KivData");
}

void CZubKiv::SortList()
{
    std::stable_sort(m_pData.begin(), m_pData.begin() + m_iSize,
                     [](const KivData& a, const KivData& b) { return a.m_iPixMax > b.m_iPixMax; });
    DumpList("CZubKiv::SortList - DUMP ORDERED List KivData");
}

void CZubKiv::DumpList(const char* title) const
{
    if (!DetailOn())
        return;
    Log().LogDetail("%s", title);
    for (int k = 0; k < m_iSize; ++k)
        m_pData[static_cast<size_t>(k)].Dump();
}

bool CZubKiv::SearchImpact(CZubCandidate* first, int radiusSearch, int minDetection, int minIncrBright)
{
    const KivData& examined = m_pData[0];
    const bool bDetail = DetailOn();
    if (bDetail)
    {
        Log().LogDetail("CZubKiv::SearchImpact");
        Log().LogDetail("ptrData->m_iPixMax: %i IncBright: %i", examined.m_iPixMax, minIncrBright);
        Log().LogDetail("Compare with frame: %i", examined.m_iFrame);
    }
    if (examined.m_iPixMax < minIncrBright)
        return false;
    if (bDetail)
        Log().LogDetail("CZubKiv::SearchImpact - IncBright > limit");

    int nNear = 1;
    for (int k = 1; k < m_iSize; ++k)
    {
        const KivData& entry = m_pData[static_cast<size_t>(k)];
        if (entry.IsNearPoint(examined, radiusSearch))
        {
            ++nNear;
            if (bDetail)
                Log().LogDetail("IsNearPoint with frame: %i", entry.m_iFrame);
        }
    }
    if (bDetail && nNear > 1)
        Log().LogDetail("Found %i elements near", nNear);
    if (nNear < minDetection)
        return false;

    Log().LogTrace("Found CANDIDATE in frame: %i", examined.m_iFrame);
    for (int k = 0; k < m_iSize; ++k)
    {
        CZubCandidate& record = first[k];
        if (record.m_iFrame != examined.m_iFrame)
            continue;
        if (record.m_iKivState == ZUB_STATE_CANDIDATE)
            return false;
        record.m_iKivState = ZUB_STATE_CANDIDATE;
        return true;
    }
    return false;
}

int CZubKiv::Detect(CZubCandidate* records, int nRecords, CZubWnd* view)
{
    const SZubParams& p = ZubApp().m_params;
    Log().LogView("Detect algorithm: KIV");
    Log().LogView("Size list: %i", m_iSize);
    Log().LogView("Min. incr. bright: %i", p.MinIncrBright);
    Log().LogView("Radius search: %i", p.RadiusSearch);
    Log().LogView("Min. elements in radius: %i", p.MinDetection);
    Log().LogView("Processing frames by KIV algorithm...");

    int nFound = 0;
    for (int i = 0; i < nRecords - m_iSize + 1; ++i)
    {
        Log().LogTrace("Process frame: %i", records[i].m_iFrame);
        if (view)
            view->SendMessage(WM_LIST_INDEX, static_cast<WPARAM>(i), 0);
        CreateList(records + i);
        SortList();
        if (SearchImpact(records + i, p.RadiusSearch, p.MinDetection, p.MinIncrBright))
            ++nFound;
    }
    Log().LogView("Found %i candidates.", nFound);
    Log().LogView("Detection Ended.");
    return nFound;
}
