// The shell of the headless front ends and the tests: message boxes on stderr, the video
// parameters choice answered by a policy its owner sets, console lines to a sink.
#pragma once

#include "zubapp.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CZubHeadlessShell : public IZubShell
{
public:
    void MessageBox(const std::string& text) override;
    EZubVideoChoice ChooseVideoAction(SZubVideoParams& params) override;
    void PlayVideo(const std::string& path, bool bSer, int64_t llAvgTimePerFrame) override;
    void ConsoleLine(const std::string& text) override;
    bool HasWindows() const override { return m_bWindows; }

    // Tests stand in for the desktop program; zubcli clears it.
    bool m_bWindows = true;
    // Boxes also go to stderr as "Zub: <text>"; zubcli reports them in its own words.
    bool m_bPrintBoxes = true;
    // The answer to the video parameters choice, and the channel when it processes.
    EZubVideoChoice m_choice = EZubVideoChoice::Process;
    int m_nChannel = 0;
    // Where console lines go; none: dropped.
    std::function<void(const std::string&)> m_consoleSink;
    // Everything shown so far, for the owner to inspect (boxes may come from any thread).
    std::vector<std::string> MessageBoxes() const;
    std::vector<std::string> m_messageBoxes;
    std::vector<std::string> m_playedVideos;
    SZubVideoParams m_shownVideo;  // the facts the last choice was offered with

private:
    mutable std::mutex m_boxMutex;
};
