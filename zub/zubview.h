// The view: paces the run through window messages and holds what the main window shows
// (frame number and count, centre of mass, planet size, file name, the log box, the image
// and the histogram). The desktop program draws it; the core keeps its state.
#pragma once

#include "zubcandidate.h"
#include "zubdoc.h"
#include "zubframe.h"
#include "zubwnd.h"

#include <array>
#include <cstdint>
#include <string>

class CZubView : public CZubWnd
{
public:
    static constexpr uintptr_t kSerStartTimer = 100;
    static constexpr unsigned kSerStartDelayMs = 200;

    // Registers the view with the log as the window that receives its lines.
    explicit CZubView(CZubDoc& doc);
    ~CZubView() override;

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    CZubDoc& GetDocument() { return m_doc; }

    // Delay of the SER start timer: the desktop view lets the window settle first; a front
    // end without windows starts at once.
    unsigned m_nSerStartDelayMs = kSerStartDelayMs;

    // ---- What the main window shows -----------------------------------------------------
    int m_nFrameNumber = 0;
    int64_t m_nFrames = 0;
    SZubPoint m_ptCM;             // as the picture is read (y downward)
    SZubSize m_sizePlanet;
    std::string m_csFileName;
    std::string m_csLog;          // the log box: "\r\n" before every line
    CZubFrame m_frameImage;       // the last frame shown
    CZubCandidate m_record;       // its data record
    std::array<int32_t, 256> m_aHisto{};
    bool m_bHistoEmpty = true;

    // The one-shot flags of the end-of-phase messages, armed at every new process.
    bool m_bArmedRoi = false;
    bool m_bArmedAvg = false;
    bool m_bArmedImpact = false;
    bool m_bArmedResults = false;

protected:
    // Repaint requests for the desktop program; the core view has nothing to draw.
    virtual void OnImageCleared() {}
    virtual void OnFieldsChanged(bool bImage, bool bEraseBackground)
    {
        (void)bImage, (void)bEraseBackground;
    }
    virtual void OnLogChanged() {}
    // Each new line of the "Messages" box, as it arrives.
    virtual void OnLogLine(const std::string& text) { (void)text; }
    // The run's state changed (running, phase, candidates, mean frame, mask): menus and
    // toolbar refresh their enabling. Checked after every message the view handles, and on
    // the document's WM_RUN_STATE after an open.
    virtual void OnRunStateChanged() {}
    // Commands the document does not handle (the results dialog, for one).
    virtual void OnOtherCommand(UINT id) { (void)id; }

private:
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void CheckRunState();
    void ShowCounters();
    void ShowFrame();
    void ArmPhases();
    // Generic end of a phase: once per run, stop the source, and go on only while running.
    void EndPhase(bool& bArmed, void (CZubDoc::*endWork)(), WPARAM runId);

    CZubDoc& m_doc;
    SZubRunState m_lastRunState;
};
