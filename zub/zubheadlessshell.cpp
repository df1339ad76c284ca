#include "zubheadlessshell.h"

#include <cstdio>

void CZubHeadlessShell::MessageBox(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_boxMutex);
    m_messageBoxes.push_back(text);
    if (m_bPrintBoxes)
        std::fprintf(stderr, "Zub: %s\n", text.c_str());
}

std::vector<std::string> CZubHeadlessShell::MessageBoxes() const
{
    std::lock_guard<std::mutex> lock(m_boxMutex);
    return m_messageBoxes;
}

EZubVideoChoice CZubHeadlessShell::ChooseVideoAction(SZubVideoParams& params)
{
    m_shownVideo = params;
    if (m_choice == EZubVideoChoice::Process)
        params.nChannel = m_nChannel;
    return m_choice;
}

void CZubHeadlessShell::PlayVideo(const std::string& path, bool, int64_t)
{
    m_playedVideos.push_back(path);
}

void CZubHeadlessShell::ConsoleLine(const std::string& text)
{
    if (m_consoleSink)
        m_consoleSink(text);
}
