// The per-frame data record: what the phases measured and found for one video frame.
#pragma once

#include "zubframe.h"
#include "zubpatchstore.h"
#include "zubtypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

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

// "CANDIDATE", "CLEARED" or "" for a detection state.
const char* ZubStateText(int32_t state);
// "KIV" for algorithm 1, "ZUB" for 2, "???" for anything else.
const char* ZubAlgorithmText(int algorithm);
// The record's dump line: "Frame: %4i KIV: %3i,%3i (%3i) ZUB: ...".
std::string ZubRecordDumpLine(const CZubCandidate& record);

// One accepted candidate: where it is, which detector found it, a 32 x 32 patch and a
// photometric value for every processed frame, and the frame in which it was found. The
// patches live in the list's store.
class CZubImpact
{
public:
    static constexpr int kPatchSide = 32;
    static constexpr int kPatchPixels = kPatchSide * kPatchSide;
    static constexpr int kPatchBytes = kPatchPixels * 3;  // the most a patch takes

    CZubImpact() = default;
    CZubImpact(const CZubImpact&) = delete;
    CZubImpact& operator=(const CZubImpact&) = delete;

    // Photometry for nFrames frames; false (and no arrays) when memory lacks.
    bool Allocate(int nFrames);
    bool HasArrays() const { return m_iFrames > 0; }
    // Patch of 0-based frame index (rows one after another, m_nPatchPixelBytes a pixel), or
    // null without arrays, outside them, or when the store lost it.
    const uint8_t* GetPatch(int frameIndex) const;
    // Photometric value of 0-based frame index; 0 without arrays or outside them.
    int PhotometryAt(int frameIndex) const
    {
        return frameIndex >= 0 && frameIndex < m_iFrames ? m_piPhotometry[frameIndex] : 0;
    }
    // Copies the patch around the candidate in the record's frame into `patch`.
    void CollectPatch(const CZubCandidate& record, const CZubFrame& videoFrame, uint8_t* patch) const;
    // Photometric value of frame n's patch: inner 15 x 15 mean minus ring mean.
    int ComputePhotometry(int frameNumber);

    int m_iFrame = 0;
    SZubPoint m_ptRel;   // relative to the ROI centre
    int m_iAlgorithm = 0;  // 1 KIV, 2 the second state
    std::unique_ptr<int[]> m_piPhotometry;
    int m_iFrames = 0;
    CZubFrame m_frame;
    SZubPoint m_ptFrame;
    // Where its patches are: the list's store, the candidate's place in a frame's record.
    const CZubPatchStore* m_pPatches = nullptr;
    int m_iSlot = 0;
    int m_nPatchPixelBytes = 3;  // B, G, R; 1 (the gray value) for a gray video
};

// The accepted candidates of a run, at most 15.
class CZubCandidateList
{
public:
    static constexpr int kMaxCandidates = 15;

    // Stores the record's detections; false once the list is full.
    bool Add(const CZubCandidate& record);
    // Photometry for nFrames frames in every used slot and the patch store; false at the
    // first slot that fails, or when the store cannot be made (StorageError says why). A
    // gray video's patches keep one byte a pixel: a third of the memory and disk.
    bool Allocate(int nFrames, bool bGrayPatches = false);
    void CollectPatches(const CZubCandidate& record, const CZubFrame& videoFrame);
    void ComputePhotometry(int frameNumber);
    // The frame and position of the candidates of that frame (of one algorithm; 0: any).
    void SetFrame(int frameNumber, const CZubFrame& videoFrame, int x, int y, int algorithm = 0);
    const uint8_t* GetPatch(int slot, int frameIndex) const;
    // After the results pass: the last patches stored; false when some were lost.
    bool FinishPatches() { return m_patches.Flush() && m_csStorageError.empty(); }
    // Why photometry or patches are missing, or "" when all were kept.
    std::string StorageError() const;

    std::array<CZubImpact, kMaxCandidates + 1> m_aImpacts;
    int m_iCount = 0;
    // Test seams: Allocate fails at this slot (-1: never); memory the patches may take
    // before they go to a temporary file.
    int m_iFailAllocationAtSlot = -1;
    size_t m_nPatchMemoryBytes = CZubPatchStore::kDefaultMemoryBytes;

private:
    CZubPatchStore m_patches;
    std::string m_csStorageError;
};
