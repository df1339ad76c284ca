#include "zubqtshell.h"

#include "zubdlgutil.h"

#include "mainfrm.h"
#include "zubaviparamsdlg.h"
#include "zubplay.h"

#include <QApplication>
#include <QThread>

namespace
{
constexpr UINT WM_SHELL_CALL = WM_USER + 40;

bool OnUiThread()
{
    return QThread::currentThread() == qApp->thread();
}
}  // namespace

// Carries a call to the user-interface thread as a sent message.
class CZubQtShell::CUiWnd : public CZubWnd
{
public:
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM lParam) override
    {
        if (msg == WM_SHELL_CALL)
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
};

CZubQtShell::CZubQtShell() : m_pWnd(std::make_unique<CUiWnd>()) {}

CZubQtShell::~CZubQtShell() = default;

void CZubQtShell::SetMainFrame(CMainFrame* pFrame)
{
    m_pFrame = pFrame;
}

void CZubQtShell::RunOnUiThread(const std::function<void()>& call)
{
    if (OnUiThread())
        call();
    else if (ZubGetMessageLoop())
        m_pWnd->SendMessage(WM_SHELL_CALL, 0, reinterpret_cast<LPARAM>(&call));
    else
        QMetaObject::invokeMethod(qApp, call, Qt::BlockingQueuedConnection);
}

void CZubQtShell::MessageBox(const std::string& text)
{
    RunOnUiThread([this, &text] {
        QWidget* parent = m_pFrame && m_pFrame->isVisible() ? m_pFrame.data() : nullptr;
        ZubInfoBox(parent, QString::fromStdString(text));
    });
}

void CZubQtShell::ConsoleLine(const std::string& text)
{
    RunOnUiThread([this, &text] {
        if (m_pFrame)
            m_pFrame->AppendConsoleLine(QString::fromStdString(text));
    });
}

void CZubQtShell::SetDocumentTitle(const std::string& title)
{
    RunOnUiThread([this, &title] {
        if (m_pFrame)
            m_pFrame->SetDocumentTitle(QString::fromStdString(title));
    });
}

void CZubQtShell::AddToRecentFiles(const std::string& path)
{
    RunOnUiThread([this, &path] {
        if (m_pFrame)
            m_pFrame->AddToRecentFiles(QString::fromStdString(path));
    });
}

EZubVideoChoice CZubQtShell::ChooseVideoAction(SZubVideoParams& params)
{
    EZubVideoChoice choice = EZubVideoChoice::Cancel;
    RunOnUiThread([this, &params, &choice] { choice = CZubAviParamsDlg::Ask(params, m_pFrame.data()); });
    return choice;
}

void CZubQtShell::PlayVideo(const std::string& path, bool bSer, int64_t llAvgTimePerFrame)
{
    RunOnUiThread([&] { CZubPlay::Play(path, bSer, llAvgTimePerFrame, m_pFrame.data()); });
}
