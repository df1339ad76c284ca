#include "zubdesktopapp.h"

#include "mainfrm.h"
#include "zubapp.h"
#include "zubdoc.h"
#include "zubendsignals.h"
#include "zubstartup.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#ifndef ZUB_VERSION
#define ZUB_VERSION "0.0"
#endif

CZubDesktopApp::CZubDesktopApp()
{
    ZubSetMessageLoop(&m_loop);
    ZubApp().SetShell(&m_shell);
    m_pFrame = std::make_unique<CMainFrame>();
    m_shell.SetMainFrame(m_pFrame.get());
    WatchEndSignals();
    m_windowGone = std::make_unique<CZubWindowGoneFilter>(*m_pFrame, [this] { EndAsExitDoes(); });
    qApp->installNativeEventFilter(m_windowGone.get());
}

CZubDesktopApp::~CZubDesktopApp()
{
    qApp->removeNativeEventFilter(m_windowGone.get());
    ZubResetEndSignals();
    m_endNotifier.reset();
    for (const int fd : m_endPipe)
        if (fd >= 0)
            ::close(fd);
    m_pFrame.reset();
    ZubApp().SetShell(nullptr);
    ZubSetMessageLoop(nullptr);
}

bool CZubDesktopApp::StartUp(const std::string& commandLineFile)
{
    m_pFrame->show();
    const bool bOpened = ZubStartUp(m_pFrame->Document(), commandLineFile);
    m_pFrame->RefreshRecentFiles();
    if (ZubApp().m_params.ShowConsole)
        m_pFrame->ShowConsole(true);
    m_pFrame->UpdateSilentImage();
    m_pFrame->RefreshCommands();
    return bOpened;
}

int CZubDesktopApp::Run()
{
    // The window quits the loop when it closes; Qt must not end it earlier on its own.
    qApp->setQuitOnLastWindowClosed(false);
    const int code = m_loop.Run();
    ZubApp().ExitInstance();
    return code;
}

void CZubDesktopApp::WatchEndSignals()
{
    if (::pipe2(m_endPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the signals keep their default action
    m_endNotifier = std::make_unique<QSocketNotifier>(m_endPipe[0], QSocketNotifier::Read);
    QObject::connect(m_endNotifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char sig = 0;
        while (::read(m_endPipe[0], &sig, 1) > 0)
        {
        }
        EndAsExitDoes();
    });
    ZubCatchEndSignals(m_endPipe[1]);
}

void CZubDesktopApp::EndAsExitDoes()
{
    // A question left open would hold the loop until someone answers it.
    for (int i = 0; i < 16; ++i)
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->done(QDialog::Rejected);
    m_pFrame->close();
}

CZubWindowGoneFilter::CZubWindowGoneFilter(QWidget& window, std::function<void()> onGone)
    : m_window(window), m_onGone(std::move(onGone))
{
}

bool CZubWindowGoneFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_bGone || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_DESTROY_NOTIFY)
        return false;
    const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
    // internalWinId: the window as it is, never one created by asking.
    if (destroyed->window != m_window.internalWinId())
        return false;
    m_bGone = true;
    // Not from inside the event dispatch.
    QTimer::singleShot(0, &m_window, m_onGone);
    return false;
}

std::string CZubDesktopApp::CommandLineFile(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i)
        if (!arguments[i].startsWith('-'))
            return QDir::cleanPath(QFileInfo(arguments[i]).absoluteFilePath()).toStdString();
    return {};
}

int ZubDesktopMain(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Zub");
    QApplication::setOrganizationName("Trelvane");
    const QStringList arguments = QApplication::arguments();
    if (arguments.contains("--help") || arguments.contains("-h"))
    {
        std::printf("Usage: zub [VIDEO]\nOpens the desktop program, and the video when one is named.\n");
        return 0;
    }
    if (arguments.contains("--version"))
    {
        std::printf("zub %s\n", ZUB_VERSION);
        return 0;
    }
    CZubDesktopApp app;
    app.StartUp(CZubDesktopApp::CommandLineFile(arguments));
    return app.Run();
}
