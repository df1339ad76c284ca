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
#include <cstdlib>
#include <cstring>
#include <initializer_list>

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

namespace
{
// The same layout as zubcli's: the manual's OPTIONS are made from it.
const char kUsage[] =
    "Usage: zub [options] [VIDEO]\n"
    "Searches planetary videos for impact flashes, in a window.\n"
    "\n"
    "  VIDEO                     a video to open and process at start (SER, AVI, MPEG, WMV,\n"
    "                            MP4, MKV, MOV)\n"
    "  -platform NAME            the window system to use: xcb (X11), wayland, or\n"
    "                            offscreen (no screen at all); QT_QPA_PLATFORM says it too\n"
    "  -display DISPLAY          the X display to use instead of $DISPLAY\n"
    "  --help, -h                print this help and exit\n"
    "  --version                 print the version and exit\n"
    "\n"
    "Needs a display: DISPLAY (X11) or WAYLAND_DISPLAY, or QT_QPA_PLATFORM / -platform.\n"
    "Exit status: 0 when the window is closed, 1 when the program cannot start.\n";

bool HasArgument(int argc, char** argv, std::initializer_list<const char*> names)
{
    for (int i = 1; i < argc; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

// Why the program cannot show a window, or "" when it can try. Only the plain X11 case is
// tried here: a display named in DISPLAY that does not answer.
std::string DisplayProblem(int argc, char** argv)
{
    if (IsSet("QT_QPA_PLATFORM") || HasArgument(argc, argv, {"-platform", "--platform", "-display", "--display"}))
        return {};
    if (IsSet("WAYLAND_DISPLAY"))
        return {};
    if (!IsSet("DISPLAY"))
        return "no display: set DISPLAY or WAYLAND_DISPLAY (or QT_QPA_PLATFORM=offscreen); zubcli needs none";
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool bFailed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (bFailed)
        return std::string("cannot open the display ") + std::getenv("DISPLAY") + " (is an X server running there?)";
    return {};
}
}  // namespace

int ZubDesktopMain(int argc, char** argv)
{
    // Before the QApplication, which needs a display: help and version work anywhere.
    if (HasArgument(argc, argv, {"--help", "-h"}))
        return std::fputs(kUsage, stdout), 0;
    if (HasArgument(argc, argv, {"--version"}))
        return std::printf("zub %s\n", ZUB_VERSION), 0;
    // Qt would abort with a page about plugins; one line says what is missing.
    if (const std::string problem = DisplayProblem(argc, argv); !problem.empty())
    {
        std::fprintf(stderr, "zub: %s\n", problem.c_str());
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Zub");
    QApplication::setOrganizationName("Trelvane");
    // Wayland matches the window to its desktop entry (name and icon) by this.
    QGuiApplication::setDesktopFileName("org.trelvane.zub");
    CZubDesktopApp app;
    app.StartUp(CZubDesktopApp::CommandLineFile(QApplication::arguments()));
    return app.Run();
}
