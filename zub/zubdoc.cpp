// The document: opening a video, preparing a run (NewProcess), its commands and its state.
#include "zubdoc.h"
#include "zubdocinternal.h"

#include "zubapp.h"

#include <filesystem>
#include <unistd.h>

using namespace zubdoc;

CZubDoc::CZubDoc() : m_pZub(std::make_unique<CZubSimulator>()), m_pSer(std::make_unique<CZubSer>()) {}

CZubDoc::~CZubDoc()
{
    m_readAhead.Stop();  // it reads m_pSer
    if (m_pMedia)
        m_pMedia->Stop();
}

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
    m_pCandidates->m_nPatchMemoryBytes = m_nPatchMemoryBytes;
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
    // Facts of an earlier file never stand for this one.
    m_bih = {};
    m_csSubtype.clear();
    m_llDuration = m_llAvgTimePerFrame = m_llFrames = 0;
    m_csCreationTime.clear();
    if (!m_pSer->Open(m_csPathName))
    {
        Log().Log("Cannot open SER file.");
        Log().LogView("Process aborted!!!");
        ZubMessageBox("Cannot open SER file.");
        return false;
    }
    m_bih = m_pSer->m_bih;
    m_llDuration = m_pSer->FrameCount;
    m_llFrames = m_llDuration;
    if (const std::string note = m_pSer->MissingFramesNote(); !note.empty())
        Log().LogText(note);
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
    // A SER file has no media type; a colour one's pattern stands there instead.
    video.csSubtype = m_bSer && m_pSer && m_pSer->ColorID != 0 ? m_pSer->ColorText() : m_csSubtype;
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
    m_readAhead.Stop();
    if (m_bSerPassOpen)
        CloseSerPass();
    if (m_nGraphState == 2)
        StopMediaSource();
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
    case ID_FILE_NEW:
        // An untitled document; the data of the last run stays for its windows.
        if (IZubShell* shell = ZubApp().GetShell())
            shell->SetDocumentTitle("");
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
