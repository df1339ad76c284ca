// What the frame's sources share: the caller-contract check and buffer sizes. Included by
// the zubframe*.cpp files only.
#pragma once

#include "zubframe.h"

#include <cassert>
#include <cstddef>

namespace zubframe
{
inline constexpr size_t kInitialColumnSize = 2048;

// Checks a caller contract: aborts in debug builds, lets the operation skip its work otherwise.
inline bool Require(bool condition)
{
    assert(condition);
    return condition;
}

inline size_t BufferBytes(int width, int height, int bits)
{
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    switch (bits)
    {
    case FRAME_MONO8:
        return w * h;
    case FRAME_MONO16:
        return 2 * w * h;
    case FRAME_COLOR_RGB24:
        return static_cast<size_t>(ZubStride24(width)) * h;
    default:
        return 0;
    }
}
}  // namespace zubframe
