#include "zubdialogs.h"

#include "zubapp.h"
#include "zubcandidate.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

bool ZubParseDialogInt(const std::string& text, int& value)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const size_t last = text.find_last_not_of(" \t") + 1;
    const char* begin = text.data() + first;
    const char* end = text.data() + last;
    if (*begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    int number = 0;
    const auto result = std::from_chars(begin, end, number);
    if (result.ec != std::errc() || result.ptr != end)
        return false;
    value = number;
    return true;
}

int ZubSpinStep(int value, int steps, int step, int lo, int hi)
{
    const long long moved = static_cast<long long>(value) + static_cast<long long>(steps) * step;
    return static_cast<int>(std::clamp<long long>(moved, lo, hi));
}

const char* ZubLimitDarkFrames(int& value)
{
    if (value < 256)
        return nullptr;
    value = 255;
    return "Limited to 255 frames.";
}

const char* ZubLimitListSize(int& value)
{
    if (value <= 100)
        return nullptr;
    value = 100;
    return "List size <= 100 elements.";
}

int ZubListSizeAtOk(int value)
{
    return std::min(value, 100);
}

const char* ZubCheckFactorBright(double factor)
{
    return factor > 1.0 ? "Value >1.0 will take full frame." : nullptr;
}

const char* ZubCheckFactorSize(double factor)
{
    return factor < 1.0 ? "Value <1.0 will clip the planet." : nullptr;
}

SZubOptionsEnabling ZubOptionsEnabling(bool bRoiAutomatic, bool bDarkAllFrames, bool bSimulation)
{
    return {bRoiAutomatic, !bRoiAutomatic, !bDarkAllFrames, bSimulation};
}

SZubTestEnabling ZubTestEnabling(bool bLimitFrames, bool bIntermediateFrames, bool bLogProcess,
                                 bool bLogDetailsFrames)
{
    return {bLimitFrames, bIntermediateFrames, bLogProcess, bLogProcess && bLogDetailsFrames};
}

const char* ZubCheckLogFilename(const std::string& name, bool bLogProcess)
{
    if (!bLogProcess || name.find_first_not_of(" \t") != std::string::npos)
        return nullptr;
    return "Must be not empty.";
}

bool ZubLogFileChanged(const SZubParams& before, const SZubParams& after)
{
    return before.LogFilename != after.LogFilename || before.LogProcess != after.LogProcess;
}

int ZubStripFrameIndex(int center, int thumbnail, int nFrames)
{
    const long long index = static_cast<long long>(center) + thumbnail - (kZubStripThumbnails / 2 + 1);
    return index >= 0 && index < nFrames ? static_cast<int>(index) : -1;
}

int ZubSlotFrames(const CZubImpact& impact, int nProcessed)
{
    return impact.HasArrays() ? std::clamp(nProcessed, 0, impact.m_iFrames) : 0;
}

int ZubPreviousCandidate(int index, int count)
{
    if (count <= 0)
        return 0;
    return (index <= 0 || index > count ? count : index) - 1;
}

int ZubNextCandidate(int index, int count)
{
    return index + 1 >= count || index < 0 ? 0 : index + 1;
}

std::vector<int> ZubProfileSeries(const CZubImpact& impact, int nProcessed)
{
    std::vector<int> series(static_cast<size_t>(std::max(nProcessed, 0)));
    for (int i = 0; i < static_cast<int>(series.size()); ++i)
        series[static_cast<size_t>(i)] = impact.PhotometryAt(i);
    return series;
}

std::vector<int> ZubProfileColumns(const std::vector<int>& series, int columns)
{
    std::vector<int> points(static_cast<size_t>(std::max(columns, 0)));
    const size_t count = series.size();
    if (count == 0)
        return points;
    if (count <= points.size())
    {
        for (size_t i = 0; i < points.size(); ++i)
            points[i] = series[static_cast<size_t>(static_cast<double>(i) * (static_cast<double>(count) / columns))];
        return points;
    }
    std::vector<int> sorted = series;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(count / 2), sorted.end());
    const int64_t median = sorted[count / 2];
    for (size_t c = 0; c < points.size(); ++c)
    {
        const size_t first = c * count / points.size();
        const size_t last = std::max(first + 1, (c + 1) * count / points.size());
        int farthest = series[first];
        for (size_t i = first + 1; i < last; ++i)
            if (std::llabs(series[i] - median) > std::llabs(farthest - median))
                farthest = series[i];
        points[c] = farthest;
    }
    return points;
}

std::string ZubCandidateEntry(int index, const CZubImpact& impact)
{
    char entry[64];
    std::snprintf(entry, sizeof entry, "%02i-%s", index + 1, ZubAlgorithmText(impact.m_iAlgorithm));
    return entry;
}
