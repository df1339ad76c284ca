#include "zubrun.h"

#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>


CZubTestRun::CZubTestRun()
{
    ZubResetApp();
    ZubSetMessageLoop(&m_loop);
    ZubApp().SetShell(&m_shell);
    ZubApp().m_log.SetView(&m_view);
    m_shell.m_consoleSink = [this](const std::string& line) { m_lines.push_back(line); };
}

CZubTestRun::~CZubTestRun()
{
    m_doc.OnCloseDocument();
    ZubResetApp();
    ZubSetMessageLoop(nullptr);
}

bool CZubTestRun::Open(const std::string& path, int timeoutMs)
{
    if (!m_doc.OnOpenDocument(path))
        return false;
    return WaitIdle(timeoutMs);
}

bool CZubTestRun::WaitIdle(int timeoutMs)
{
    return m_doc.RunUntilIdle(static_cast<unsigned>(timeoutMs));
}

std::string CZubTestRun::Synth(const std::string& name, const SZubSynthOptions& options)
{
    std::string error;
    EXPECT_TRUE(ZubSynthWriteSer(options, name, error)) << error;
    return name;
}

bool CZubTestRun::HasLine(const std::string& line) const
{
    return LineIndex(line) >= 0;
}

int CZubTestRun::LineIndex(const std::string& line) const
{
    const auto it = std::find(m_lines.begin(), m_lines.end(), line);
    return it == m_lines.end() ? -1 : static_cast<int>(it - m_lines.begin());
}
