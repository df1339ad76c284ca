#include "zubdoc.h"

#include "zubapp.h"
#include "zubkiv.h"
#include "zubview.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <unistd.h>

namespace
{
constexpr int kMaxAvgFrames = 255;  // more additions overflow the 16-bit sums
// A larger ROI holds nothing but padding; the bound keeps a wild factor from exhausting memory.
constexpr int kMaxRoiPerFrameSide = 4;

CZubLog& Log()
{
    return ZubApp().m_log;
}

const SZubParams& Params()
{
    return ZubApp().m_params;
}

UINT EndMessageOf(int phase)
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

bool EndsWith(const std::string& s, const char* suffix)
{
    const std::string tail(suffix);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsOutside(SZubPoint p, int width, int height)
{
    return p.x < 0 || p.x > width || p.y < 0 || p.y > height;
}
}  // namespace

CZubDoc::CZubDoc() : m_pZub(std::make_unique<CZubSimulator>()), m_pSer(std::make_unique<CZubSer>()) {}

CZubDoc::~CZubDoc()
{
    if (m_pMedia)
        m_pMedia->Stop();
}

// ---- Opening ------------------------------------------------------------------------------

bool CZubDoc::OnOpenDocument(const std::string& path)
{
    // Only readable regular files: opening a FIFO or a device could block for ever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || access(path.c_str(), R_OK) != 0)
    {
        ZubMessageBox("Cannot open file " + path + ".");
        return false;
    }
    m_csPathName = path;
    m_csFileName = path;
    m_bSer = EndsWith(path, "ser");
    NewProcess();
    PostToView(WM_RUN_STATE);
    return true;
}

void CZubDoc::OpenChosenFile(const std::string& fileName, const std::string& pathName, bool bSer)
{
    m_csFileName = fileName;
    m_csPathName = pathName;
    m_bSer = bSer;
    NewProcess();
    PostToView(WM_RUN_STATE);
}

void CZubDoc::NewProcess()
{
    // A stopped run may still be winding down: its pass must not read into the new run.
    // Until the new run starts the document is idle, however this process ends.
    StopActiveSource();
    m_bRunning = false;
    if (IZubShell* shell = ZubApp().GetShell())
    {
        shell->SetDocumentTitle(m_csFileName);
        shell->AddToRecentFiles(m_csPathName);
    }
    if (Params().LogResetAtOpenFile)
        Log().ResetFile();
    Log().LogView("***************************************");
    Log().LogView("New process started.");
    Log().LogView("File: %s", m_csFileName.c_str());

    if (!ReadVideoFacts())
        return;
    m_frameVideo.Create(m_bih.biWidth, m_bih.biHeight, m_bih.biBitCount);
    m_frameMono.Create(m_bih.biWidth, m_bih.biHeight, FRAME_MONO8);
    LogVideoFacts();
    if (m_llFrames <= 0)
    {
        Log().Log("No frames in file.");
        Log().LogView("Process aborted!!!");
        ZubMessageBox("No frames in file.");
        return;
    }
    if (!ChooseAction())
        return;

    m_nProcessed = 0;
    m_nRoiErrors = 0;
    m_bMaskReady = false;
    m_bMeanReady = false;
    m_nFrame = 0;
    if (!SetUpRoi())
        return;
    SetUpAvgFrames();
    LogChannel();
    if (!CreateRecords())
    {
        m_nPhase = PHASE_IDLE;
        return;
    }
    m_pCandidates = std::make_unique<CZubCandidateList>();
    m_pZub->NewRun();
    StartFirstPass();
}

bool CZubDoc::ReadVideoFacts()
{
    if (!m_bSer)
    {
        if (!ConnectVideo(true))
        {
            Log().LogView("Process aborted!!!");
            return false;
        }
        DisconnectVideo();
        return true;
    }
    if (m_pSer->Open(m_csPathName))
    {
        m_bih = m_pSer->m_bih;
        m_csSubtype.clear();
        m_llDuration = m_pSer->FrameCount;
        m_llAvgTimePerFrame = 0;
        m_llFrames = m_llDuration;
        if (const std::string note = m_pSer->MissingFramesNote(); !note.empty())
            Log().LogText(note);
    }
    else
    {
        Log().Log("Cannot open SER file.");
    }
    m_pSer->Close();
    return true;
}

void CZubDoc::LogVideoFacts()
{
    CZubLog& log = Log();
    log.Log("Frame size: %i x %i", m_bih.biWidth, m_bih.biHeight);
    log.Log("Number of frames: %i", static_cast<int>(m_llFrames));
    if (m_llAvgTimePerFrame != 0)
        log.Log("Frames per second: %i", static_cast<int>(10000000.0 / m_llAvgTimePerFrame + 0.5));
    else
        log.Log("Frames per second: Not defined");
    log.Log("Media Sutype: %s", m_csSubtype.c_str());
    log.Log("BITMAPINFOHEADER:");
    log.Log("biWidth: %i", m_bih.biWidth);
    log.Log("biHeight: %i", m_bih.biHeight);
    log.Log("biPlanes: %i", m_bih.biPlanes);
    log.Log("biBitCount: %i", m_bih.biBitCount);
    log.Log("biSizeImage: %i", static_cast<int>(m_bih.biSizeImage));
    log.Log("biCompression: %i", static_cast<int>(m_bih.biCompression));
}

bool CZubDoc::ChooseAction()
{
    if (Params().ProcessAuto)
    {
        Log().Log("Automaticly PROCESS FILE.");
        m_nChannel = Params().ProcessAutoChannel;
        return true;
    }
    SZubVideoParams video;
    video.csFileName = m_csFileName;
    video.iWidth = m_bih.biWidth;
    video.iHeight = m_bih.biHeight;
    video.llFrames = m_llFrames;
    video.csSubtype = m_csSubtype;
    video.iFps = m_llAvgTimePerFrame != 0 ? static_cast<int>(10000000.0 / m_llAvgTimePerFrame + 0.5) : 0;
    IZubShell* shell = ZubApp().GetShell();
    const EZubVideoChoice choice = shell ? shell->ChooseVideoAction(video) : EZubVideoChoice::Process;
    switch (choice)
    {
    case EZubVideoChoice::Cancel:
        Log().LogView("Process cancelled.");
        return false;
    case EZubVideoChoice::Play:
        Log().Log("Selected: PLAY FILE.");
        shell->PlayVideo(m_csPathName, m_bSer, m_llAvgTimePerFrame);
        return false;
    case EZubVideoChoice::Process:
        break;
    }
    m_nChannel = video.nChannel;
    Log().Log("Selected: PROCESS FILE.");
    return true;
}

bool CZubDoc::SetUpRoi()
{
    const SZubParams& p = Params();
    CZubLog& log = Log();
    if (p.ROIAutomatic != 0)
    {
        log.Log("ROI: Use automatic process.");
        log.Log("ROI: Process %i frames.", p.ROIAutoNumFrames);
        if (static_cast<int64_t>(p.ROIAutoNumFrames) >= m_llFrames)
        {
            m_nRoiFrames = static_cast<int>(m_llFrames);
            log.Log("ROI: Frames in file < frames requested.");
            log.Log("ROI: Process all frames!!!");
        }
        else
        {
            // A phase of no frame would never end.
            m_nRoiFrames = std::max(1, p.ROIAutoNumFrames);
        }
        log.Log("ROI: Factor bright %7.3f dinamic range.", p.ROIFactorBright);
        log.Log("ROI: Factor size   %7.3f x planet size.", p.ROIFactorSize);
        log.Log("ROI: Filter to smooth planet profile: %i.", p.PlanetSizeFilter);
        m_nPhase = PHASE_ROI;
        return true;
    }
    log.Log("ROI: Use fixed size.");
    log.Log("ROI: Size %i x %i.", p.ROIManualWidth, p.ROIManualHeight);
    const bool bTooBig = m_bih.biWidth < p.ROIManualWidth || m_bih.biHeight < p.ROIManualHeight;
    const bool bEmpty = p.ROIManualWidth < 1 || p.ROIManualHeight < 1;
    if (bTooBig || bEmpty)
    {
        log.Log("********************************");
        log.Log(bTooBig ? "Manual ROI bigger than frame." : "Manual ROI smaller than 1 x 1.");
        log.Log("STOP process.");
        log.Log("********************************");
        ZubMessageBox(bTooBig ? "Selected: Fixed ROI size.\nbigger than frame size."
                              : "Selected: Fixed ROI size.\nsmaller than 1 x 1.");
        return false;
    }
    m_nPhase = PHASE_AVG;
    return true;
}

void CZubDoc::SetUpAvgFrames()
{
    const SZubParams& p = Params();
    CZubLog& log = Log();
    if (p.DarkAllFrames)
    {
        log.Log("Avg. image: Process all frames.");
        m_nAvgFrames = static_cast<int>(std::min<int64_t>(m_llFrames, kMaxAvgFrames + 1));
    }
    else
    {
        log.Log("Avg. image: Process %i frames.", p.DarkFrames);
        if (static_cast<int64_t>(p.DarkFrames) >= m_llFrames)
        {
            m_nAvgFrames = static_cast<int>(std::min<int64_t>(m_llFrames, INT32_MAX));
            log.Log("Avg. image: Frames in file < frames requested.");
            log.Log("Avg. image: Process all frames!!!");
        }
        else
        {
            m_nAvgFrames = std::max(1, p.DarkFrames);
        }
    }
    if (m_nAvgFrames > kMaxAvgFrames)
    {
        m_nAvgFrames = kMaxAvgFrames;
        log.Log("Avg. image: Limited to 255 frames.");
    }
}

void CZubDoc::LogChannel()
{
    static const char* const kChannels[] = {"Channel: Monochrome", "Channel: Red", "Channel: Green",
                                            "Channel: Blue"};
    Log().Log("Channel selected for convert image");
    if (m_nChannel >= 0 && m_nChannel <= 3)
        Log().Log("%s", kChannels[m_nChannel]);
}

bool CZubDoc::CreateRecords()
{
    m_pFrameData.clear();
    m_pFrameData.shrink_to_fit();
    Log().Log("Trying to create array data for %i frames...", static_cast<int>(m_llFrames));
    try
    {
        m_pFrameData.resize(static_cast<size_t>(m_llFrames));
    }
    catch (const std::exception&)
    {
        Log().Log("Could not create data array for all frames!!!");
        Log().LogView("Process aborted!!!");
        ZubMessageBox("Could not create data array for all frames!!!");
        return false;
    }
    Log().Log("Created.");
    return true;
}

void CZubDoc::StartFirstPass()
{
    SendToView(WM_PHASES_ARM);
    Log().Log("Init...");
    if (m_nPhase == PHASE_ROI)
    {
        Log().LogView("Init fase: Compute ROI");
    }
    else
    {
        Log().Log("ROI manual: Skipping FASE ROI.");
        m_sizeRoi = {Params().ROIManualWidth, Params().ROIManualHeight};
        m_frameRoi.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO8);
        Log().LogView("Init fase: Compute Avg. frame");
    }
    ++m_nRunId;
    m_bRunning = true;
    m_nGraphState = 1;
    StartSource();
}

void CZubDoc::StopActiveSource()
{
    m_nPhase = PHASE_IDLE;
    if (m_bSerPassOpen)
    {
        m_pSer->Close();
        m_bSerPassOpen = false;
    }
    if (m_nGraphState == 2)
        StopMediaSource();
}

// ---- Sources ------------------------------------------------------------------------------

void CZubDoc::StartSource()
{
    m_nFrame = 0;
    if (!m_bSer)
    {
        if (!StartMediaSource())
            AbortRun("Cannot start video decoding.");
        return;
    }
    if (!m_pSer->Open(m_csPathName))
    {
        // Without frames the pass would wait for ever.
        AbortRun("Cannot open SER file.");
        return;
    }
    m_bSerPassOpen = true;
    Log().Log("Start processing SER file.");
    if (m_pView)
        m_pView->SetTimer(CZubView::kSerStartTimer, CZubView::kSerStartDelayMs);
}

void CZubDoc::StopSource()
{
    if (!m_bSer)
    {
        StopMediaSource();
        return;
    }
    Log().Log("Stop processing SER file.");
    m_pSer->Close();
    m_bSerPassOpen = false;
}

void CZubDoc::ProcessSerFile()
{
    IZubMessageLoop* loop = ZubGetMessageLoop();
    while (m_pSer->ReadNextFrame())
    {
        OnVideoFrame(0.0, m_pSer->m_pFrame.data(), static_cast<long>(m_pSer->m_pFrame.size()));
        if (loop && !loop->PumpPending())
            return;  // the quit message stays queued, so the application still ends
    }
    // The file ran out before the phase saw its last frame (a truncated file).
    if (m_bSerPassOpen && m_nPhase != PHASE_IDLE)
        EndCurrentPhase();
}

int CZubDoc::OnVideoFrame(double sampleTime, const uint8_t* buffer, long length)
{
    (void)sampleTime;
    const int n = ++m_nFrame;
    if (!m_bRunning)
    {
        EndCurrentPhase();
        return 0;
    }
    if (length < 0 || static_cast<uint64_t>(length) != m_bih.biSizeImage ||
        static_cast<size_t>(length) != m_frameVideo.GetBufferSize() || !buffer)
    {
        Log().Log("Frame: %i unexpected size. Skipped.", n);
        return 0;
    }
    m_frameVideo.SetPixels(buffer);
    CZubCandidate* record = Record(n);
    if (!record)
        return 0;  // more frames than the video announced: nothing to record

    const int phase = m_nPhase;
    const SZubParams& p = Params();
    if (p.Simulation && (phase == PHASE_IMPACT || phase == PHASE_RESULTS) && p.FrameInitial <= n &&
        n < int64_t{p.FrameInitial} + p.FrameDuration)
        SimulationHook(n, *record);

    switch (phase)
    {
    case PHASE_ROI:
        return RoiFrame();
    case PHASE_AVG:
        return AvgFrame();
    case PHASE_IMPACT:
        return ProcessFrame();
    case PHASE_RESULTS:
        return ResultsFrame();
    default:
        return 0;
    }
}

void CZubDoc::OnCloseDocument()
{
    m_bRunning = false;
    m_nPhase = PHASE_IDLE;
    StopSource();
    if (Params().LogProcess && Log().IsFileOpen())
        Log().CloseFile();
}

namespace
{
// Ends the loop once the document is idle, or when the time is up.
class CIdleWatch : public CZubWnd
{
public:
    static constexpr uintptr_t kPoll = 1;
    static constexpr uintptr_t kTimeout = 2;

    CIdleWatch(const CZubDoc& doc, IZubMessageLoop& loop) : m_doc(doc), m_loop(loop) {}
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override
    {
        if (msg == WM_TIMER && wParam == kPoll && !m_doc.m_bRunning && !m_doc.IsSourceActive())
            m_loop.Quit(0);
        else if (msg == WM_TIMER && wParam == kTimeout)
            m_loop.Quit(1);
        return 0;
    }

private:
    const CZubDoc& m_doc;
    IZubMessageLoop& m_loop;
};
}  // namespace

bool CZubDoc::RunUntilIdle(unsigned timeoutMs)
{
    IZubMessageLoop* loop = ZubGetMessageLoop();
    if (!loop)
        return false;
    CIdleWatch watch(*this, *loop);
    if (timeoutMs > 0)
        watch.SetTimer(CIdleWatch::kTimeout, timeoutMs, true);
    // A handler dispatched after the idle check (a Run command, say) may start a new run
    // before the loop ends: go on until the document is really idle.
    int code = 0;
    loop->PumpPending();
    while (code == 0 && (m_bRunning || IsSourceActive()))
    {
        watch.SetTimer(CIdleWatch::kPoll, 5);
        code = loop->Run();
        loop->PumpPending();  // what the last handlers posted
    }
    return code == 0;
}

bool CZubDoc::OnCommand(UINT id)
{
    switch (id)
    {
    case ID_START_SOURCE:
        StartSource();
        return true;
    case ID_STOP_SOURCE:
        StopSource();
        return true;
    case ID_PROCESS_RUN:
        if (IsCommandEnabled(id))
            NewProcess();
        return true;
    case ID_PROCESS_STOP:
        m_bRunning = false;
        return true;
    default:
        return false;
    }
}

bool CZubDoc::IsCommandEnabled(UINT id) const
{
    switch (id)
    {
    case ID_PROCESS_RUN:
        return !m_bRunning && !m_csFileName.empty();
    case ID_PROCESS_STOP:
        return m_bRunning;
    case ID_PARAMS_GENERAL:
    case ID_PARAMS_KIV:
    case ID_PARAMS_SIMULATION:
    case ID_PARAMS_TEST:
        return !m_bRunning;
    case ID_VIEW_RESULTS:
        // The results pass is still writing the patches the dialog reads.
        return !m_bRunning && CandidateCount() > 0;
    case ID_VIEW_FRAME_DATA:
        return m_nProcessed >= 1 && !m_bRunning;
    case ID_VIEW_MEAN:
        return m_bMeanReady;
    case ID_VIEW_MASK:
        return m_bMaskReady;
    default:
        return true;
    }
}

SZubRunState CZubDoc::RunState() const
{
    return {m_bRunning, m_nPhase, !m_csFileName.empty(), m_nProcessed >= 1, CandidateCount(),
            m_bMeanReady, m_bMaskReady};
}

CZubCandidate* CZubDoc::Record(int n)
{
    return n >= 1 && n <= RecordCount() ? &m_pFrameData[static_cast<size_t>(n - 1)] : nullptr;
}

const CZubCandidate* CZubDoc::Record(int n) const
{
    return n >= 1 && n <= RecordCount() ? &m_pFrameData[static_cast<size_t>(n - 1)] : nullptr;
}

// ---- Phase handlers -------------------------------------------------------------------------

void CZubDoc::ConvertWholeFrame()
{
    m_frameVideo.ConvertAvi2Frame(m_frameMono, {0, 0}, {0, 0}, m_nChannel);
}

bool CZubDoc::CropRoi(SZubPoint cm)
{
    // Copied from the monochrome frame just made: the same pixels, converted once.
    return m_frameVideo.ConvertAvi2Frame(m_frameRoi, cm, m_sizeRoi, m_nChannel, &m_frameMono);
}

SZubPoint CZubDoc::MeasureCenter(int n, bool bLog)
{
    SZubPoint cm = m_frameMono.GetCenterOfMass();
    if (IsOutside(cm, m_frameMono.m_iWidth, m_frameMono.m_iHeight))
    {
        cm = m_frameMono.GetCenter();
        if (bLog)
            Log().Log("Frame: %i CM ERROR. CM moved to image center.", n);
    }
    return cm;
}

SZubSize CZubDoc::MeasurePlanet(int n, SZubPoint cm)
{
    SZubSize size = m_frameMono.GetPlanetSize(cm.x, cm.y);
    if (m_frameMono.m_iWidth < size.cx || m_frameMono.m_iHeight < size.cy)
    {
        size = {m_frameMono.m_iWidth, m_frameMono.m_iHeight};
        Log().Log("Frame: %i Size planet ERROR. Same as image.", n);
    }
    return size;
}

void CZubDoc::SaveIntermediate(int n, const CZubFrame& frame, const char* name) const
{
    if (Params().SaveIntermediateFrames && n == Params().SaveAllFrameNumber)
        frame.SaveBmp(name);
}

int CZubDoc::RoiFrame()
{
    const int n = m_nFrame;
    if (n == 1)
        SendToView(WM_FRAME_CLEAR);
    if (n <= m_nRoiFrames)
    {
        SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
        ConvertWholeFrame();
        SaveIntermediate(n, m_frameMono, "frame-monochrome.bmp");
        const SZubPoint cm = MeasureCenter(n, true);
        const SZubSize size = MeasurePlanet(n, cm);
        CZubCandidate& record = *Record(n);
        record.m_ptCM = cm;
        record.m_sizePlanet = size;
        Log().LogTrace("ROI frame: %i planet size: %ix%i", n, size.cx, size.cy);
        SendToView(WM_FRAME_COUNTERS);
    }
    if (n == m_nRoiFrames)
        EndCurrentPhase();
    return 0;
}

int CZubDoc::AvgFrame()
{
    const int n = m_nFrame;
    const bool bMeanShaped = m_frameMean.m_iBits == FRAME_MONO16 &&
                             m_frameMean.m_iWidth == m_sizeRoi.cx && m_frameMean.m_iHeight == m_sizeRoi.cy;
    if (n == 1 || !bMeanShaped)
        m_frameMean.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO16);
    if (n <= m_nAvgFrames)
    {
        ConvertWholeFrame();
        const SZubPoint cm = MeasureCenter(n, true);
        SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
        CropRoi(cm);
        Record(n)->m_ptCM = cm;
        SaveIntermediate(n, m_frameRoi, "frame-monochrome.bmp");
        m_frameMean.AddToAverage(m_frameRoi);
        m_spotDetector.AddMeanFrame(n, m_frameRoi);
        Log().LogTrace("Fase-II AVG Add frame: %i", n);
        SendToView(WM_FRAME_COUNTERS);
    }
    if (n == m_nAvgFrames)
        EndCurrentPhase();
    return 0;
}

int CZubDoc::ProcessFrame()
{
    const int n = m_nFrame;
    const SZubParams& p = Params();
    if (p.LimitProcessFrames && n >= static_cast<int64_t>(p.ProcessFrames) + 1)
    {
        EndCurrentPhase();
        return 0;
    }
    Log().LogTrace("PROCESS frame: %4i", n);
    ++m_nProcessed;

    ConvertWholeFrame();
    const SZubPoint cm = MeasureCenter(n, true);
    SZubSize size = MeasurePlanet(n, cm);
    SaveIntermediate(n, m_frameVideo, "frame-avi.bmp");
    if (!CropRoi(cm))
        ++m_nRoiErrors;
    SaveIntermediate(n, m_frameRoi, "frame-monochrome.bmp");
    if (m_sizeRoi.cx < size.cx || m_sizeRoi.cy < size.cy)
    {
        size = m_sizeRoi;
        Log().Log("Frame: %i Size planet bigger than ROI. Adjust to ROI.", n);
    }

    CZubCandidate& record = *Record(n);
    record.Reset();
    record.m_iFrame = n;
    record.m_sizeRoi = m_sizeRoi;
    record.m_iChannel = m_nChannel;
    record.m_ptCM = cm;
    record.m_sizePlanet = size;
    if (p.ShowHisto)
        m_frameRoi.ComputeHistogram();

    FindBrightestPixel(n, record);
    m_spotDetector.ProcessFrame(n, m_frameRoi);
    SendToView(ZubApp().m_bSilent ? WM_FRAME_COUNTERS : WM_FRAME_SHOW);
    if (n == m_llFrames)
        EndCurrentPhase();
    return 0;
}

void CZubDoc::FindBrightestPixel(int n, CZubCandidate& record)
{
    const SZubParams& p = Params();
    // The mask of an earlier run may still be there: only this run's counts.
    const CZubFrame* mask = p.Mask && m_bMaskReady ? &m_frameMask : nullptr;
    CZubFrame& diff = m_frameDiff;
    diff.CopyFrom(m_frameRoi);
    if (p.SubstractAvg && m_bMeanReady)
    {
        if (mask)
            diff.SubtractAverageMasked(m_frameMean, *mask);
        else
            diff.SubtractAverage(m_frameMean);
    }
    record.m_iLevel = diff.GetMean(mask);
    if (p.SaveIntermediateFrames && n == p.SaveAllFrameNumber)
        diff.SaveBmpFormatted("frame-subs-avg%i.bmp", n);
    if (p.LogDetailsFrames && p.LogDetailsFramesFrom <= n && n <= p.LogDetailsFramesTo)
    {
        Log().LogDetail("Frame to find for bright pixel");
        Log().LogDetail("Frame: %i", n);
        diff.SaveBmpFormatted("frame%i.bmp", n);
        if (p.LogImagesCsv)
            diff.SaveCsv("Frame%i.csv", n);
    }
    if (mask)
        diff.GetMaxPixelMasked(record, *mask);
    else
        diff.GetMaxPixel(record);
    Log().LogTrace("KIV PROCESS frame: %4i PixMax at: (%3i-%3i) %3i", n, record.m_ptKiv.x,
                   record.m_ptKiv.y, record.m_iKivValue);
}

int CZubDoc::ResultsFrame()
{
    const int n = m_nFrame;
    const SZubParams& p = Params();
    if (!(p.LimitProcessFrames && n >= static_cast<int64_t>(p.ProcessFrames) + 1))
    {
        const CZubCandidate& record = *Record(n);
        m_pCandidates->CollectPatches(record, m_frameVideo);
        m_pCandidates->ComputePhotometry(n);
        // Each detection in full-frame coordinates, at the place its own detector found.
        const int x0 = record.m_ptCM.x - record.m_sizeRoi.cx / 2;
        const int y0 = record.m_ptCM.y - record.m_sizeRoi.cy / 2;
        if (record.m_iKivState == ZUB_STATE_CANDIDATE)
            m_pCandidates->SetFrame(n, m_frameVideo, x0 + record.m_ptKiv.x, y0 + record.m_ptKiv.y, 1);
        if (record.m_iZubState == ZUB_STATE_CANDIDATE)
            m_pCandidates->SetFrame(n, m_frameVideo, x0 + record.m_ptZub.x, y0 + record.m_ptZub.y, 2);
        SendToView(WM_FRAME_COUNTERS);
        Log().LogTrace("RESULTS frame: %4i", n);
        if (n != m_llFrames)
            return 0;
    }
    EndCurrentPhase();
    return 0;
}

void CZubDoc::SimulationHook(int n, CZubCandidate& record)
{
    if (Params().WriteConsole)
        Log().Log("SIMULATE IMPACT frame: %4i ", n);
    if (record.m_iFrame == 0)
    {
        // The impact phase has not measured this frame yet: locate the planet on red.
        SZubPoint cm;
        SZubSize size;
        if (m_frameVideo.ConvertAvi2Frame(m_frameMono, {0, 0}, {0, 0}, 1))
        {
            cm = MeasureCenter(n, false);
            size = m_frameMono.GetPlanetSize(cm.x, cm.y);
        }
        else
        {
            cm = m_frameMono.GetCenter();
            Log().Log("SIMULATION: Cannot convert frame to monochrome.");
        }
        record.Reset();
        record.m_iFrame = n;
        record.m_sizeRoi = m_sizeRoi;
        record.m_iChannel = m_nChannel;
        record.m_ptCM = cm;
        record.m_sizePlanet = size;
    }
    m_pZub->Simulate(n, m_frameVideo, record);
    if (Params().SaveIntermediateFrames && n == Params().SaveAllFrameNumber)
        m_frameVideo.SaveBmpFormatted("frame-simulation%03i.bmp", n);
}

// ---- Between passes -------------------------------------------------------------------------

void CZubDoc::EndRoiPhase()
{
    Log().LogView("End fase: Compute ROI.");
    Log().Log("----------------------");
    int64_t sumCx = 0;
    int64_t sumCy = 0;
    for (int n = 1; n <= m_nRoiFrames; ++n)
    {
        if (const CZubCandidate* record = Record(n))
        {
            sumCx += record->m_sizePlanet.cx;
            sumCy += record->m_sizePlanet.cy;
        }
    }
    const SZubSize mean{static_cast<int32_t>(sumCx / m_nRoiFrames), static_cast<int32_t>(sumCy / m_nRoiFrames)};
    SizeRoi(mean);
    m_frameRoi.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO8);
    Log().LogView("Calculated ROI: %ix%i", m_sizeRoi.cx, m_sizeRoi.cy);
    Log().LogView("Init fase: Compute AVG.");
    m_nPhase = PHASE_AVG;
    StartSource();
}

void CZubDoc::SizeRoi(SZubSize meanPlanet)
{
    // Without a planet size, or with a factor that leaves nothing of it: search the whole frame.
    if (meanPlanet.cx < 1 || meanPlanet.cy < 1)
    {
        m_sizeRoi = {m_bih.biWidth, m_bih.biHeight};
        Log().Log("ROI: No planet size measured. ROI = whole frame.");
        return;
    }
    m_sizeRoi = CZubFrame::ScaleSize(meanPlanet);
    if (m_sizeRoi.cx < 1 || m_sizeRoi.cy < 1)
    {
        m_sizeRoi = {m_bih.biWidth, m_bih.biHeight};
        Log().Log("ROI: Factor size %.3f gives an empty ROI. ROI = whole frame.", Params().ROIFactorSize);
        return;
    }
    const int maxCx = kMaxRoiPerFrameSide * m_bih.biWidth;
    const int maxCy = kMaxRoiPerFrameSide * m_bih.biHeight;
    if (m_sizeRoi.cx > maxCx || m_sizeRoi.cy > maxCy)
    {
        m_sizeRoi = {std::min(m_sizeRoi.cx, maxCx), std::min(m_sizeRoi.cy, maxCy)};
        Log().Log("ROI: Size limited to %ix%i.", m_sizeRoi.cx, m_sizeRoi.cy);
    }
}

void CZubDoc::EndAvgPhase()
{
    const SZubParams& p = Params();
    if (m_frameMean.m_iBits != FRAME_MONO16 || m_frameMean.m_iAvgCount == 0)
    {
        Log().Log("No frames averaged.");
        AbortRun(nullptr);
        return;
    }
    m_frameMean.DivideAverage();
    m_bMeanReady = true;
    Log().Log("Fase-II Calculate average frame.");
    if (p.SaveAvgFrame)
    {
        Log().Log("Save average frame 'frame-avg.bmp'.");
        m_frameMean.SaveBmp("frame-avg.bmp");
    }
    if (p.Mask)
    {
        m_frameMask.Create(m_sizeRoi.cx, m_sizeRoi.cy, FRAME_MONO8);
        m_frameMean.MakeMask(m_frameMask);
        m_frameMask.ReduceMask(p.MaskPixels);
        m_bMaskReady = true;
        if (p.SaveIntermediateFrames)
            m_frameMask.SaveMaskBmp("frame-KIV-mask.bmp");
    }
    m_spotDetector.Prepare(m_bMaskReady ? &m_frameMask : nullptr);
    Log().LogView("End fase: Compute AVG.");
    Log().Log("----------------------");
    Log().LogView("Init fase: Find IMPACT.");
    m_nPhase = PHASE_IMPACT;
    StartSource();
}

void CZubDoc::EndImpactPhase()
{
    Log().LogView("End fase: Find IMPACT.");
    Log().Log("----------------------");
    const int nCandidates = GetResults();
    if (m_nRoiErrors > 0)
    {
        Log().Log("**********************************");
        Log().Log("ERRORS in conversion to monochrome");
        Log().Log("ROI outside frame in %i Frames.", m_nRoiErrors);
    }
    Log().Log("**********************************");
    if (nCandidates > 0)
    {
        Log().LogView("FOUND %i CANDIDATES", nCandidates);
        Log().Log("**********************************");
        Log().LogView("Init fase: Get RESULTS.");
        m_nPhase = PHASE_RESULTS;
        StartSource();
        return;
    }
    Log().LogView("NOT FOUND CANDIDATES");
    Log().Log("**********************************");
    m_bRunning = false;
}

void CZubDoc::EndResultsPhase()
{
    Log().LogView("End fase: RESULTS.");
    Log().Log("----------------------");
    m_bRunning = false;
    const IZubShell* shell = ZubApp().GetShell();
    if (shell && !shell->HasWindows())
        return;  // a front end without windows lists the candidates itself
    if (Params().ShowResults && !ZubApp().m_bSilent)
        PostToView(WM_COMMAND, ID_VIEW_RESULTS);
    else
        Log().Log("Select 'View'/'Show results' for view candidates.");
}

void CZubDoc::EndCurrentPhase()
{
    const int phase = m_nPhase.exchange(PHASE_IDLE);
    if (const UINT msg = EndMessageOf(phase))
        PostToView(msg, static_cast<WPARAM>(m_nRunId));
}

void CZubDoc::AbortRun(const char* reason)
{
    if (reason)
        Log().Log("%s", reason);
    Log().LogView("Process aborted!!!");
    m_bRunning = false;
    m_nPhase = PHASE_IDLE;
}

void CZubDoc::PostToView(UINT msg, WPARAM wParam)
{
    if (m_pView)
        m_pView->PostMessage(msg, wParam);
}

void CZubDoc::SendToView(UINT msg, WPARAM wParam)
{
    if (m_pView)
        m_pView->SendMessage(msg, wParam);
}

// ---- Media source -------------------------------------------------------------------------

bool CZubDoc::ConnectVideo(bool bReadFacts)
{
    if (m_bSer)
        return true;
    Log().Log("Connecting video driver...");
    if (!m_mediaFactory)
    {
        Log().Log("Unsupported media type!!!");
        ZubMessageBox("Unsupported media type!");
        return false;
    }
    m_pMedia = m_mediaFactory();
    SZubMediaFacts facts;
    if (!m_pMedia || !m_pMedia->Connect(m_csPathName, bReadFacts ? &facts : nullptr))
    {
        m_pMedia.reset();
        return false;
    }
    if (bReadFacts)
    {
        m_bih = facts.bih;
        m_csSubtype = facts.csSubtype;
        m_llDuration = facts.llDuration;
        m_llAvgTimePerFrame = facts.llAvgTimePerFrame;
        m_llFrames = facts.llFrames;
    }
    Log().Log("Connected.");
    return true;
}

bool CZubDoc::DisconnectVideo()
{
    if (m_bSer)
        return true;
    Log().Log("Disconnecting video driver...");
    if (m_pMedia)
        m_pMedia->Stop();
    m_pMedia.reset();
    Log().Log("Disconnected.");
    return true;
}

bool CZubDoc::StartMediaSource()
{
    if (!ConnectVideo(false))
        return false;
    Log().Log("Start processing AVI.");
    if (!m_pMedia->Run([this](double t, const uint8_t* b, long l) { return OnVideoFrame(t, b, l); }, m_pView))
    {
        DisconnectVideo();
        return false;
    }
    m_nGraphState = 2;
    return true;
}

void CZubDoc::StopMediaSource()
{
    if (m_nGraphState == 0)
        return;
    if (m_pMedia)
        m_pMedia->Stop();
    m_nGraphState = 1;
    Log().Log("Stop processing AVI.");
    DisconnectVideo();
}

bool CZubDoc::HandleGraphEvents()
{
    if (!m_pMedia || !m_pMedia->TakeEndOfStream())
        return false;
    m_pMedia->Stop();
    PostToView(WM_COMMAND, ID_STOP_SOURCE);
    return true;
}

// ---- Results --------------------------------------------------------------------------------

int CZubDoc::GetResults()
{
    const SZubParams& p = Params();
    const int count = static_cast<int>(std::min<int64_t>(m_nProcessed, RecordCount()));
    if (p.LogProcess && p.LogDetails)
    {
        const char* stars = "**********************************************************************";
        Log().LogDetail("%s", stars);
        Log().LogDetail("Dump DataFrames");
        for (int i = 0; i < count; ++i)
            Log().LogDetailText(ZubRecordDumpLine(m_pFrameData[static_cast<size_t>(i)]));
        Log().LogDetail("%s", stars);
    }
    {
        CZubKiv kiv;
        kiv.Detect(m_pFrameData.data(), count, m_pView);
    }
    m_spotDetector.Detect(m_pFrameData.data(), count);
    ClearDuplicates(m_pFrameData.data(), count);
    for (int i = 0; i < count; ++i)
    {
        const CZubCandidate& record = m_pFrameData[static_cast<size_t>(i)];
        if (record.m_iKivState != ZUB_STATE_CANDIDATE && record.m_iZubState != ZUB_STATE_CANDIDATE)
            continue;
        if (!m_pCandidates->Add(record))
            Log().Log("TOO MANY CANDIDATES");
    }
    m_pCandidates->Allocate(count);
    return m_pCandidates->m_iCount;
}

int CZubDoc::ClearDuplicates(CZubCandidate* records, int count)
{
    const SZubParams& p = Params();
    const int window = p.RejectDuplicities;
    const int radius = p.RadiusSearch;
    Log().Log("Clear duplicates");
    Log().Log("Radius search: %i", radius);
    Log().Log("Check for duplicates...");
    for (int k = count - 1; k >= 3; --k)
    {
        CZubCandidate& later = records[k];
        const int64_t lowest = std::max<int64_t>(1, int64_t{k} - 1 - window);
        for (int i = k - 1; i >= lowest + 1; --i)
        {
            const CZubCandidate& earlier = records[i];
            if (later.m_iKivState == ZUB_STATE_CANDIDATE && earlier.m_iKivState == ZUB_STATE_CANDIDATE &&
                IsNear(later.m_ptKiv.x, later.m_ptKiv.y, earlier.m_ptKiv.x, earlier.m_ptKiv.y, radius))
                later.m_iKivState = ZUB_STATE_CLEARED;
            if (later.m_iZubState == ZUB_STATE_CANDIDATE && earlier.m_iZubState == ZUB_STATE_CANDIDATE &&
                IsNear(later.m_ptZub.x, later.m_ptZub.y, earlier.m_ptZub.x, earlier.m_ptZub.y, radius))
                later.m_iZubState = ZUB_STATE_CLEARED;
        }
    }
    int nLeft = 0;
    for (int k = 0; k < count; ++k)
        nLeft += (records[k].m_iKivState == ZUB_STATE_CANDIDATE) + (records[k].m_iZubState == ZUB_STATE_CANDIDATE);
    Log().Log("Finally detect %i candidates.", nLeft);
    return nLeft;
}

bool CZubDoc::IsNear(int x1, int y1, int x2, int y2, int r)
{
    const int64_t radius = r;  // any stored radius, without overflow
    return x2 - radius < x1 && x1 < x2 + radius && y2 - radius < y1 && y1 < y2 + radius;
}
