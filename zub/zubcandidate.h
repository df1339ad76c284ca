// The per-frame data record: what the phases measured and found for one video frame.
#pragma once

#include "zubtypes.h"

#include <cstdint>

// Detection states of m_iKivState and m_iZubState.
enum : int32_t
{
    ZUB_STATE_NONE = 0,
    ZUB_STATE_CANDIDATE = 1,
    ZUB_STATE_CLEARED = 2,
};

class CZubCandidate
{
public:
    CZubCandidate() = default;
    void Reset() { *this = CZubCandidate(); }

    int32_t m_iFrame = 0;  // 1-based; 0 until the impact phase filled the record
    int32_t m_iChannel = 0;
    SZubSize m_sizeRoi;
    SZubPoint m_ptCM;
    SZubSize m_sizePlanet;
    int32_t m_iKivState = ZUB_STATE_NONE;
    int32_t m_iZubState = ZUB_STATE_NONE;
    SZubPoint m_ptKiv;  // ROI coordinates
    int32_t m_iKivValue = 0;
    SZubPoint m_ptZub;
    int32_t m_iZubValue = 0;
    int32_t m_iCRC = 0;
    int32_t m_iLevel = 0;
};
