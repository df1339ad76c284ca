#include "zubdataframes.h"

#include "zubapp.h"

#include "zubreplacefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string ZubFramesListState(const CZubCandidate& r)
{
    std::string state;
    if (r.m_iKivState != 0 || r.m_iZubState != 0)
        state = "Candidate: ";
    if (r.m_iKivState == ZUB_STATE_CANDIDATE)
        state += "Detected";
    else if (r.m_iKivState == ZUB_STATE_CLEARED)
        state += "Cleared";
    return state;
}

std::string ZubFramesListLine(const CZubCandidate& r)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "Frame %4i  planet size: %3i:%3i  CM: %3i:%3i  Candidate pixel: %3i:%3i (%3i) CRC: %i  %s\n",
                  r.m_iFrame, r.m_sizePlanet.cx, r.m_sizePlanet.cy, r.m_ptCM.x, r.m_ptCM.y, r.m_ptKiv.x,
                  r.m_ptKiv.y, r.m_iKivValue, r.m_iCRC, ZubFramesListState(r).c_str());
    return line;
}

std::vector<std::string> ZubFramesList(const CZubCandidate* records, int64_t count)
{
    if (!records || count <= 0)
        return {"No data.", "Process a file to see the frame's data."};
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        lines.push_back(ZubFramesListLine(records[i]));
    return lines;
}

std::string ZubFramesCsvHeader()
{
    return "Frame number;Planet size X;Planet size Y;CM X;CM Y;Candidate pix-max X;"
           "Candidate pix-max Y;Candidate pix-max;Candidate Candidate;CRC;\n";
}

std::string ZubFramesCsvLine(const CZubCandidate& r)
{
    char line[512];
    std::snprintf(line, sizeof line, "%6i;%3i;%3i;%3i;%3i;%3i;%3i;%3i;%s;%i\n", r.m_iFrame,
                  r.m_sizePlanet.cx, r.m_sizePlanet.cy, r.m_ptCM.x, r.m_ptCM.y, r.m_ptKiv.x, r.m_ptKiv.y,
                  r.m_iKivValue, ZubStateText(r.m_iKivState), r.m_iCRC);
    return line;
}

bool ZubWriteFramesCsv(const std::string& path, const CZubCandidate* records, int64_t count,
                       std::string* pError, std::string* pReason)
{
    // Written whole or not at all: a full disk keeps the earlier file.
    CZubReplacingFile file;
    std::string reason;
    const bool bOpen = file.Open(path, reason);
    bool ok = bOpen && std::fputs(ZubFramesCsvHeader().c_str(), file.Stream()) >= 0;
    for (int64_t i = 0; ok && records && i < count; ++i)
        ok = std::fputs(ZubFramesCsvLine(records[i]).c_str(), file.Stream()) >= 0;
    if (ok && file.Commit(reason))
        return true;
    if (reason.empty())
        reason = std::strerror(errno);
    if (pError)
        *pError = std::string("Can't ") + (bOpen ? "write" : "open") + " file " + path + ".";
    if (pReason)
        *pReason = reason;
    return false;
}
