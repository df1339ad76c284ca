// What the document's sources share: the application's log and parameters, the limits of a
// run, and small helpers. Included by the zubdoc*.cpp files only.
#pragma once

#include "zubapp.h"
#include "zubdoc.h"

#include <string>

namespace zubdoc
{
inline constexpr int kMaxAvgFrames = 255;  // more additions overflow the 16-bit sums
// A larger ROI holds nothing but padding; the bound keeps a wild factor from exhausting memory.
inline constexpr int kMaxRoiPerFrameSide = 4;

inline CZubLog& Log()
{
    return ZubApp().m_log;
}

inline const SZubParams& Params()
{
    return ZubApp().m_params;
}

inline UINT EndMessageOf(int phase)
{
    switch (phase)
    {
    case PHASE_ROI:
        return WM_END_ROI;
    case PHASE_AVG:
        return WM_END_AVG;
    case PHASE_IMPACT:
        return WM_END_IMPACT;
    case PHASE_RESULTS:
        return WM_END_RESULTS;
    default:
        return 0;
    }
}

inline bool EndsWith(const std::string& s, const char* suffix)
{
    const std::string tail(suffix);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

inline bool IsOutside(SZubPoint p, int width, int height)
{
    return p.x < 0 || p.x > width || p.y < 0 || p.y > height;
}
}  // namespace zubdoc
