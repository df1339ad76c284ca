#include "zubrun.h"

#include "zubtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace
{
// Ends the loop once the run is over.
class CIdleWatch : public CZubWnd
{
public:
    CIdleWatch(CZubDoc& doc, IZubMessageLoop& loop) : m_doc(doc), m_loop(loop) {}
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override
    {
        if (msg == WM_TIMER && wParam == 1 && !m_doc.m_bRunning)
            m_loop.Quit(0);
        if (msg == WM_TIMER && wParam == 2)
            m_loop.Quit(1);
        return 0;
    }

private:
    CZubDoc& m_doc;
    IZubMessageLoop& m_loop;
};
}  // namespace

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
    CIdleWatch watch(m_doc, m_loop);
    watch.SetTimer(1, 5);
    watch.SetTimer(2, static_cast<unsigned>(timeoutMs), true);
    const int code = m_loop.Run();
    m_loop.PumpPending();  // what the last handler posted
    return code == 0;
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
