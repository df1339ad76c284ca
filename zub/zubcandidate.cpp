#include "zubcandidate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

const char* ZubStateText(int32_t state)
{
    switch (state)
    {
    case ZUB_STATE_CANDIDATE:
        return "CANDIDATE";
    case ZUB_STATE_CLEARED:
        return "CLEARED";
    default:
        return "";
    }
}

const char* ZubAlgorithmText(int algorithm)
{
    switch (algorithm)
    {
    case 1:
        return "KIV";
    case 2:
        return "ZUB";
    default:
        return "???";
    }
}

std::string ZubRecordDumpLine(const CZubCandidate& r)
{
    char line[256];
    std::snprintf(line, sizeof line, "Frame: %4i KIV: %3i,%3i (%3i) ZUB: %3i,%3i (%3i) KIV: %s ZUB: %s",
                  r.m_iFrame, r.m_ptKiv.x, r.m_ptKiv.y, r.m_iKivValue, r.m_ptZub.x, r.m_ptZub.y,
                  r.m_iZubValue, ZubStateText(r.m_iKivState), ZubStateText(r.m_iZubState));
    return line;
}

// ---- CZubImpact ------------------------------------------------------------------------------

bool CZubImpact::Allocate(int nFrames)
{
    m_piPhotometry.reset();
    m_iFrames = 0;
    if (nFrames <= 0)
        return true;
    try
    {
        m_piPhotometry = std::make_unique<int[]>(static_cast<size_t>(nFrames));
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    m_iFrames = nFrames;
    return true;
}

const uint8_t* CZubImpact::GetPatch(int frameIndex) const
{
    if (frameIndex < 0 || frameIndex >= m_iFrames || !m_pPatches)
        return nullptr;
    const uint8_t* record = m_pPatches->Read(frameIndex);
    return record ? record + static_cast<size_t>(m_iSlot) * kPatchPixels * m_nPatchPixelBytes : nullptr;
}

void CZubImpact::CollectPatch(const CZubCandidate& record, const CZubFrame& videoFrame, uint8_t* patch) const
{
    if (!patch || videoFrame.m_iBits != FRAME_COLOR_RGB24)
        return;
    const int half = kPatchSide / 2;
    const int cx = record.m_ptCM.x + m_ptRel.x;
    const int cy = record.m_ptCM.y + m_ptRel.y;
    const int x0 = std::max(cx - half, 0);
    const int x1 = std::min(cx + half, videoFrame.m_iWidth - 1);
    const int y0 = std::max(cy - half, 0);
    const int y1 = std::min(cy + half, videoFrame.m_iHeight - 1);
    if (x1 <= x0 || y1 <= y0)
        return;
    // Rows are packed one after another; near a border the rest keeps what it held.
    const size_t rowPixels = static_cast<size_t>(x1 - x0);
    for (int y = y0; y < y1; ++y, patch += rowPixels * m_nPatchPixelBytes)
    {
        const uint8_t* in = videoFrame.GetPixelRGB(x0, y);
        if (m_nPatchPixelBytes == 3)
            std::memcpy(patch, in, rowPixels * 3);
        else
            for (size_t x = 0; x < rowPixels; ++x)
                patch[x] = in[3 * x];
    }
}

int CZubImpact::ComputePhotometry(int frameNumber)
{
    const uint8_t* patch = GetPatch(frameNumber - 1);
    if (!patch)
        return 0;
    int inner = 0;
    int ring = 0;
    const int step = m_nPatchPixelBytes;
    for (int y = 0; y < kPatchSide; ++y)
    {
        const uint8_t* p = patch + static_cast<size_t>(y) * kPatchSide * step;
        const bool bInnerRow = y >= 9 && y <= 23;
        for (int x = 0; x < kPatchSide; ++x, p += step)
        {
            const int sum = step == 3 ? p[0] + p[1] + p[2] : 3 * p[0];
            if (bInnerRow && x >= 9 && x <= 23)
                inner += sum;
            else
                ring += sum;
        }
    }
    const int value = inner / 225 - ring / 799;
    m_piPhotometry[frameNumber - 1] = value;
    return value;
}

// ---- CZubCandidateList -------------------------------------------------------------------------

bool CZubCandidateList::Add(const CZubCandidate& record)
{
    auto store = [this](int frame, SZubPoint pt, SZubSize roi, int algorithm) {
        CZubImpact& impact = m_aImpacts[static_cast<size_t>(m_iCount)];
        impact.m_iFrame = frame;
        impact.m_ptRel = {pt.x - roi.cx / 2, pt.y - roi.cy / 2};
        impact.m_iAlgorithm = algorithm;
        ++m_iCount;
    };
    if (m_iCount >= kMaxCandidates)
        return false;
    if (record.m_iKivState == ZUB_STATE_CANDIDATE)
        store(record.m_iFrame, record.m_ptKiv, record.m_sizeRoi, 1);
    if (m_iCount >= kMaxCandidates)
        return false;
    if (record.m_iZubState == ZUB_STATE_CANDIDATE)
        store(record.m_iFrame, record.m_ptZub, record.m_sizeRoi, 2);
    return true;
}

bool CZubCandidateList::Allocate(int nFrames, bool bGrayPatches)
{
    const int pixelBytes = bGrayPatches ? 1 : 3;
    m_csStorageError.clear();
    m_patches.Clear();
    for (int slot = 0; slot < m_iCount; ++slot)
    {
        CZubImpact& impact = m_aImpacts[static_cast<size_t>(slot)];
        impact.m_pPatches = &m_patches;
        impact.m_iSlot = slot;
        impact.m_nPatchPixelBytes = pixelBytes;
        if (slot != m_iFailAllocationAtSlot && impact.Allocate(nFrames))
            continue;
        // The failing slot and the later ones keep no arrays, not even older ones.
        for (int later = slot; later < m_iCount; ++later)
            m_aImpacts[static_cast<size_t>(later)].Allocate(0);
        m_csStorageError = "not enough memory for the photometry of " + std::to_string(m_iCount - slot) +
                           " candidate(s) over " + std::to_string(nFrames) + " frames";
        break;
    }
    std::string error;
    if (m_iCount > 0 &&
        !m_patches.Reset(nFrames, static_cast<size_t>(m_iCount) * CZubImpact::kPatchPixels * pixelBytes,
                         m_nPatchMemoryBytes, error))
    {
        m_csStorageError += (m_csStorageError.empty() ? "" : "; ") + std::string("no room for the patches: ") + error;
        return false;
    }
    return m_csStorageError.empty();
}

void CZubCandidateList::CollectPatches(const CZubCandidate& record, const CZubFrame& videoFrame)
{
    if (m_iCount == 0)
        return;
    uint8_t* frame = m_patches.Write(record.m_iFrame - 1);
    if (!frame)
        return;
    for (int slot = 0; slot < m_iCount; ++slot)
    {
        const CZubImpact& impact = m_aImpacts[static_cast<size_t>(slot)];
        if (impact.HasArrays())
            impact.CollectPatch(record, videoFrame,
                                frame + static_cast<size_t>(slot) * CZubImpact::kPatchPixels * impact.m_nPatchPixelBytes);
    }
}

std::string CZubCandidateList::StorageError() const
{
    if (!m_patches.Error().empty())
        return m_csStorageError + (m_csStorageError.empty() ? "" : "; ") + "patches lost: " + m_patches.Error();
    return m_csStorageError;
}

void CZubCandidateList::ComputePhotometry(int frameNumber)
{
    for (int slot = 0; slot < m_iCount; ++slot)
        m_aImpacts[static_cast<size_t>(slot)].ComputePhotometry(frameNumber);
}

void CZubCandidateList::SetFrame(int frameNumber, const CZubFrame& videoFrame, int x, int y, int algorithm)
{
    for (int slot = 0; slot < m_iCount; ++slot)
    {
        CZubImpact& impact = m_aImpacts[static_cast<size_t>(slot)];
        if (impact.m_iFrame != frameNumber || (algorithm != 0 && impact.m_iAlgorithm != algorithm))
            continue;
        impact.m_frame.CopyFrom(videoFrame);
        impact.m_ptFrame = {x, y};
    }
}

const uint8_t* CZubCandidateList::GetPatch(int slot, int frameIndex) const
{
    if (slot < 0 || slot >= m_iCount)
        return nullptr;
    return m_aImpacts[static_cast<size_t>(slot)].GetPatch(frameIndex);
}
