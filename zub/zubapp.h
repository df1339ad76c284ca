// The application object of the core: the parameter record with its persistence, the log,
// the shell the core asks for windows, and the silent flag.
#pragma once

#include "zublog.h"
#include "zubprofile.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Every option of the system. The constructor gives the initial values used before the
// settings are read; the readers apply each key's own default when the key is absent.
struct SZubParams
{
    // "Settings"
    int ROIAutomatic = 1;
    int ROIAutoNumFrames = 0;
    int ROIManualWidth = 640;
    int ROIManualHeight = 480;
    double ROIFactorBright = 0.0;
    double ROIFactorSize = 0.0;
    bool ShowHisto = false;
    bool ShowConsole = false;
    bool ShowResults = false;
    bool ProcessAuto = false;
    int PlanetSizeFilter = 0;
    bool DarkAllFrames = false;
    int DarkFrames = 0;
    bool Simulation = false;
    int RejectDuplicities = 0;
    bool SilentMode = false;
    int ProcessAutoChannel = 0;  // not persisted

    // "Simulation"
    int RelativePositionX = 0;
    int RelativePositionY = 0;
    int ImpactSize = 0;
    int PositionRandom = 0;
    int IntensityTotal = 0;
    int IntensityInc = 0;
    int IntensityRand = 0;
    int FrameInitial = 0;
    int FrameDuration = 0;

    // "Test"
    bool LimitProcessFrames = false;
    int ProcessFrames = 0;
    bool SaveAvgFrame = false;
    bool SaveIntermediateFrames = false;
    int SaveAllFrameNumber = 0;
    bool WriteConsole = false;
    bool LogProcess = false;
    bool LogFlush = false;
    bool LogResetAtOpenFile = false;
    bool LogDetails = false;
    bool LogDetailsFrames = false;
    int LogDetailsFramesFrom = 0;
    int LogDetailsFramesTo = 0;
    bool LogImagesCsv = false;
    std::string LogFilename;

    // "KIV_Algorithm"
    int ListSize = 0;
    int MinDetection = 0;
    int MinIncrBright = 0;
    int RadiusSearch = 0;
    bool SubstractAvg = false;
    bool Mask = false;
    int MaskPixels = 0;
    bool ZubDetection = false;  // algorithm 2 beside KIV
    int ZubThreshold = 0;       // peak score of a detection, in units of the local noise
    int ZubMinFrames = 0;       // frames in a row a spot must be seen at one place

    // Every key at the value a first start with empty settings gives.
    static SZubParams Defaults();
};

// A parameter by name ("Section.Key") with its value as the settings file shows it.
struct SZubParamText
{
    std::string name;
    std::string value;
    bool bText = false;  // text; otherwise a number
};

// What the video parameters choice at open answers.
enum class EZubVideoChoice
{
    Cancel,
    Play,
    Process,
};

// The facts shown when the user chooses what to do with a video, and the channel chosen.
struct SZubVideoParams
{
    std::string csFileName;
    int iWidth = 0;
    int iHeight = 0;
    int64_t llFrames = 0;
    std::string csSubtype;
    int iFps = 0;       // 0 when not defined
    int nChannel = 0;   // out: 0 gray, 1 red, 2 green, 3 blue
};

// What the core needs from the windowing side. The desktop program and the headless front
// ends implement it; without one, message boxes go to stderr.
class IZubShell
{
public:
    virtual ~IZubShell() = default;
    // A plain information box with one OK button. Any thread may call it (a decoder thread
    // reports frame errors too); it returns when the box was closed.
    virtual void MessageBox(const std::string& text) = 0;
    // The video parameters choice at open; fills params.nChannel when it processes.
    virtual EZubVideoChoice ChooseVideoAction(SZubVideoParams& params)
    {
        (void)params;
        return EZubVideoChoice::Process;
    }
    // Plays the video; returns when the player is closed.
    virtual void PlayVideo(const std::string& path, bool bSer, int64_t llAvgTimePerFrame)
    {
        (void)path, (void)bSer, (void)llAvgTimePerFrame;
    }
    // False for a front end without windows (zubcli), which reports candidates itself.
    virtual bool HasWindows() const { return true; }
    // A line for the log console window.
    virtual void ConsoleLine(const std::string& text) { (void)text; }
    virtual void SetDocumentTitle(const std::string& title) { (void)title; }
    virtual void AddToRecentFiles(const std::string& path) { (void)path; }
};

class CZubApp
{
public:
    CZubApp();
    CZubApp(const CZubApp&) = delete;
    CZubApp& operator=(const CZubApp&) = delete;

    // Section readers dump what they read to the log; writers save atomically.
    void ReadSettingsParams();
    void ReadSimulationParams();
    void ReadTestParams();
    void ReadKivParams();
    bool WriteSettingsParams();
    bool WriteSimulationParams();
    bool WriteTestParams();
    bool WriteKivParams();
    // Start-up order (Test first, so the log options are known) and exit order.
    void ReadAllParams();
    bool WriteAllParams();
    // The four sections read in start-up order without their dump, and the dump alone: a
    // front end that overrides parameters dumps the values in force.
    void ReadAllParamsQuietly();
    void DumpAllParams();
    // Every parameter whose value differs from its default, in section order.
    std::vector<SZubParamText> ChangedParams() const;
    // Every parameter at its value in force, in section order.
    std::vector<SZubParamText> AllParams() const;

    // Start-up shared by both front ends: the four sections read (and dumped) in start-up
    // order, then the silent flag taken from SilentMode. Files are opened only after it.
    void InitInstance();
    // The desktop program's exit: the four sections written. zubcli never writes settings.
    bool ExitInstance();

    // Sets one parameter by its section and key, checking the value; false with the reason.
    // A number outside what its use can take is brought to the nearest bound, with a log line.
    bool SetParam(const std::string& section, const std::string& key, const std::string& value,
                  std::string& error);
    // One parameter as text by its section and key (factors "%7.3f", flags 0 or 1); false
    // for an unknown key.
    bool GetParam(const std::string& section, const std::string& key, std::string& value) const;

    // Points the profile at another file (tests, or a changed $ZUB_REGISTRY).
    void SetProfilePath(const std::string& path);
    CZubProfile& GetProfile() { return m_profile; }

    void SetShell(IZubShell* pShell) { m_pShell = pShell; }
    IZubShell* GetShell() const { return m_pShell; }

    SZubParams m_params;
    CZubLog m_log;
    // The main window's silent flag, read by processing without a lock.
    std::atomic<bool> m_bSilent{false};

private:
    const CZubProfile& LoadProfile();

    CZubProfile m_profile;
    bool m_bProfileTroubleLogged = false;
    IZubShell* m_pShell = nullptr;
};

// A factor as the settings and the dialogs show it: "%7.3f", whatever the locale; any double,
// however large, in full, so that it reads back as it was.
std::string ZubFormatFactor(double value);
// Text read as a decimal number, leading blanks skipped; text that is no number reads as 0.
double ZubParseFactor(const std::string& text);

// The process's application object.
CZubApp& ZubApp();

// Shows a message box through the installed shell (headless: "Zub: <text>" on stderr).
void ZubMessageBox(const std::string& text);

// Diagnostic trace output, outside the log: stderr.
void ZubTrace(const char* format, ...) ZUB_PRINTF(1, 2);
