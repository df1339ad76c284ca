// The document: one open video, its source, the working frames, one data record per frame
// and the flags of the run. A run reads the video once per phase: ROI, mean frame, impact
// and results; the view paces it through window messages.
#pragma once

#include "zub.h"
#include "zubcandidate.h"
#include "zubcommands.h"
#include "zubframe.h"
#include "zubmedia.h"
#include "zubser.h"
#include "zubserreadahead.h"
#include "zubspotdetector.h"
#include "zubtypes.h"
#include "zubwnd.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CZubView;

// What the menus and the toolbar depend on: the view reports a change of any of it.
struct SZubRunState
{
    bool bRunning = false;
    int nPhase = 0;
    bool bFile = false;        // a file was opened
    bool bProcessed = false;   // the impact pass handled a frame
    int nCandidates = 0;
    bool bMeanReady = false;
    bool bMaskReady = false;
    bool operator==(const SZubRunState&) const = default;
};

// Phases of a run (m_nPhase).
enum : int
{
    PHASE_IDLE = 0,
    PHASE_ROI = 1,
    PHASE_AVG = 2,
    PHASE_IMPACT = 3,
    PHASE_RESULTS = 4,
};

class CZubDoc
{
public:
    CZubDoc();
    ~CZubDoc();
    CZubDoc(const CZubDoc&) = delete;
    CZubDoc& operator=(const CZubDoc&) = delete;

    void SetView(CZubView* pView) { m_pView = pView; }
    // Decoder for videos that are not SER files; without one they are refused.
    void SetMediaFactory(ZubMediaFactory factory) { m_mediaFactory = std::move(factory); }

    // ---- Opening and running ---------------------------------------------------------------
    // Open from the command line, the recent files or the framework: SER exactly when the
    // path ends in "ser" (case-sensitive), then a new process.
    bool OnOpenDocument(const std::string& path);
    // File -> Open with a chosen file: `fileName` is shown, `pathName` is read.
    void OpenChosenFile(const std::string& fileName, const std::string& pathName, bool bSer);
    void NewProcess();
    void StartSource();
    void StopSource();
    // The SER pass loop on the UI thread, dispatching pending messages after every frame.
    void ProcessSerFile();
    // Every 24-bit frame of the media source arrives here, on the source's thread.
    int OnVideoFrame(double sampleTime, const uint8_t* buffer, long length);
    // Every frame of a SER pass, as its reader prepared it: the 24-bit picture, or (when
    // nothing needs the picture) straight the 8-bit reduction with the run's channel. The
    // document takes the frame's buffers in exchange for its own.
    int OnSerFrame(CZubSerReadAhead::SFrame& frame);
    void OnCloseDocument();
    // Dispatches the process's message loop until no run is in progress. False when the
    // time ran out first (timeoutMs 0: no limit) or no loop is installed.
    bool RunUntilIdle(unsigned timeoutMs = 0);
    // Run, Stop and the internal commands; false for commands the document does not handle.
    bool OnCommand(UINT id);
    bool IsCommandEnabled(UINT id) const;

    // ---- Between passes (UI thread, after the source stopped, while running) ---------------
    void EndRoiPhase();
    void EndAvgPhase();
    void EndImpactPhase();
    void EndResultsPhase();
    // The media source's events; true when the stream ended.
    bool HandleGraphEvents();
    // Ends the current phase as the end of a stream does: phase 0, its end message posted
    // with the run's id, so that the view can tell a stale message from an earlier run.
    void EndCurrentPhase();
    SZubRunState RunState() const;
    // A pass is reading (a SER file open, or a decoder running).
    bool IsSourceActive() const { return m_bSerPassOpen || m_nGraphState == 2; }
    // The row order of every frame, mean, mask and patch of the run (see ZubRowsBottomUp).
    bool RowsBottomUp() const { return ZubRowsBottomUp(m_bSer); }

    // The record of frame n (1-based), or null outside the records.
    CZubCandidate* Record(int n);
    const CZubCandidate* Record(int n) const;
    int64_t RecordCount() const { return static_cast<int64_t>(m_pFrameData.size()); }
    // Detection over the processed records; the number of candidates.
    int GetResults();
    // Fills the candidate list from records 1 to count: every detection, or the strongest
    // that fit when there are more, in frame order.
    void ListDetections(int count);
    std::vector<bool> StrongestDetections(int count) const;  // two flags a record: KIV, ZUB
    int CandidateCount() const { return m_pCandidates ? m_pCandidates->m_iCount : 0; }
    // Clears later detections of a spot already detected in one of the `RejectDuplicities`
    // records before; the number of detections left.
    static int ClearDuplicates(CZubCandidate* records, int count);
    // (x1, y1) inside the open square of half-side r around (x2, y2).
    static bool IsNear(int x1, int y1, int x2, int y2, int r);

    // ---- State (read by the view and the windows) -------------------------------------------
    CZubView* m_pView = nullptr;
    int m_nGraphState = 0;  // 0 no graph yet, 1 stopped, 2 running
    std::atomic<int> m_nPhase{PHASE_IDLE};
    int64_t m_llDuration = 0;
    std::string m_csCreationTime;  // a video's, when its container gives one (ISO 8601, UTC)
    int64_t m_llAvgTimePerFrame = 0;
    int64_t m_llFrames = 0;
    std::atomic<int> m_nFrame{0};
    int m_nChannel = 0;
    std::unique_ptr<CZubSimulator> m_pZub;
    CZubFrame m_frameRoi;
    CZubFrame m_frameMono;
    BITMAPINFOHEADER m_bih{};
    std::string m_csFileName;
    std::string m_csPathName;
    int m_nAvgFrames = 0;
    int m_nRoiFrames = 0;
    std::vector<CZubCandidate> m_pFrameData;
    CZubFrame m_frameMean;
    CZubFrame m_frameVideo;
    SZubSize m_sizeRoi;
    int m_nProcessed = 0;
    std::string m_csSubtype;
    std::unique_ptr<CZubCandidateList> m_pCandidates;
    int m_nRoiErrors = 0;
    bool m_bSer = false;
    std::unique_ptr<CZubSer> m_pSer;
    CZubFrame m_frameMask;
    bool m_bMeanReady = false;
    bool m_bMaskReady = false;
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nRunId{0};  // counts the runs started; carried by the end messages
    // Memory the candidates' patches may take before the rest goes to a temporary file.
    size_t m_nPatchMemoryBytes = CZubPatchStore::kDefaultMemoryBytes;
    // SER frames read ahead on a thread of their own; off when every core runs a pass already.
    bool m_bReadAheadThread = true;
    CZubSpotDetector m_spotDetector;  // algorithm 2, fed by the mean and impact phases

private:
    // NewProcess steps.
    bool ReadVideoFacts();
    void LogVideoFacts();
    bool ChooseAction();
    bool SetUpRoi();
    void SetUpAvgFrames();
    void LogChannel();
    bool CreateRecords();
    void StartFirstPass();

    // Phase handlers, on the source's thread.
    int RoiFrame();
    int AvgFrame();
    int ProcessFrame();
    int ResultsFrame();
    void SimulationHook(int n, CZubCandidate& record);
    // Difference to the mean, its level and its brightest pixel, into the record.
    // A frame's record, emptied and given what the frame's measurements found.
    void StartRecord(int n, SZubPoint cm, SZubSize size, CZubCandidate& record) const;
    void FindBrightestPixel(int n, CZubCandidate& record);
    // The ROI from the mean planet size, within what a frame can use.
    void SizeRoi(SZubSize meanPlanet);

    // The frame's work once it is in m_frameVideo or m_frameMono: simulation and phase.
    int HandleFrame(int n);
    // How the SER reader must deliver each frame of this pass.
    CZubSerReadAhead::Plan SerFramePlan() const;
    // For each frame of the results pass, the rows of the picture its patches are cut from.
    std::vector<CZubSerReadAhead::SNeed> ResultsRows() const;
    // Ends reading the SER file of a pass.
    void CloseSerPass();
    // m_frameVideo reduced with the run's channel into m_frameMono, unless the source
    // delivered the reduction already.
    void ConvertWholeFrame();
    // The ROI around cm into m_frameRoi; false when it reaches past the frame.
    bool CropRoi(SZubPoint cm);
    // Centre of mass of m_frameMono, moved to the frame's centre (and logged for frame n
    // when bLog) when it lies outside the frame.
    SZubPoint MeasureCenter(int n, bool bLog);
    // Planet size around cm, limited to the frame (logged for frame n).
    SZubSize MeasurePlanet(int n, SZubPoint cm);
    // Saves a working image when frame n is the one chosen in the Test options.
    void SaveIntermediate(int n, const CZubFrame& frame, const char* name) const;
    void PostToView(UINT msg, WPARAM wParam = 0);
    void SendToView(UINT msg, WPARAM wParam = 0);
    void AbortRun(const char* reason);
    // Stops a pass that still reads, whatever kind of file it reads.
    void StopActiveSource();

    // Media source of the current pass; with bReadFacts the video's facts are taken from it.
    bool ConnectVideo(bool bReadFacts);
    bool DisconnectVideo();
    bool StartMediaSource();
    void StopMediaSource();

    ZubMediaFactory m_mediaFactory;
    std::unique_ptr<IZubMediaSource> m_pMedia;
    bool m_bSerPassOpen = false;  // a SER pass is reading and was not stopped
    CZubSerReadAhead m_readAhead; // reads m_pSer ahead of the SER pass loop
    CZubSerReadAhead::Plan m_serPlan;  // of the current SER pass
    bool m_bMonoCurrent = false;  // m_frameMono holds the current frame, reduced with m_nChannel
    bool m_bMonoCmKnown = false;  // and the reader measured its centre of mass already:
    SZubPoint m_ptMonoCm;         // this one
    CZubFrame m_frameDiff;        // the difference image of the impact phase
};
