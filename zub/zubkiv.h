// The KIV impact detector: a window of ListSize consecutive frame records slides over the
// run; in each window the frame with the largest brightness increase becomes a candidate
// when the increase is large enough and enough frames of the window have their brightest
// pixel near its own. It reads and marks the per-frame records only, never pixels.
#pragma once

#include "zubtypes.h"

#include <array>

class CZubCandidate;
class CZubWnd;

// One entry of the comparison list.
struct KivData
{
    int m_iFrame = 0;
    int m_iPixMax = 0;  // brightness increase: the record's value minus its level
    SZubPoint m_ptPixMax;

    // Both coordinate differences strictly below radius.
    bool IsNearPoint(const KivData& other, int radius) const;
    void Dump() const;
};

class CZubKiv
{
public:
    static constexpr int kCapacity = 100;

    // Takes ListSize from the parameters, clamped into 1 .. kCapacity (logged when it was not).
    CZubKiv();

    // Fills the list from m_iSize consecutive records starting at `first`.
    void CreateList(const CZubCandidate* first);
    // By brightness increase, largest first; equal increases keep their frame order.
    void SortList();
    // Examines entry 0; true when it marked a new candidate in the window's records.
    bool SearchImpact(CZubCandidate* first, int radiusSearch, int minDetection, int minIncrBright);
    // Runs every window over the records; the number of new candidates. `view` receives
    // WM_LIST_INDEX as progress.
    int Detect(CZubCandidate* records, int nRecords, CZubWnd* view);

    std::array<KivData, kCapacity> m_pData{};
    int m_iSize = 0;

private:
    void DumpList(const char* title) const;
};
