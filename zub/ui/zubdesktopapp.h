// The desktop program from start to exit: the message loop and the shell installed over
// the Qt application, the main window, the settings and the file named on the command line,
// and at the end the settings written back.
#pragma once

#include "zubqtloop.h"
#include "zubqtshell.h"

#include <QAbstractNativeEventFilter>

#include <functional>
#include <memory>
#include <string>

class CMainFrame;
class QSocketNotifier;
class QWidget;

// Tells when another client (a task manager, `xdotool windowclose`) destroys the window on
// the X server: Qt would go on without it, and the program with no window left.
class CZubWindowGoneFilter : public QAbstractNativeEventFilter
{
public:
    CZubWindowGoneFilter(QWidget& window, std::function<void()> onGone);
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QWidget& m_window;
    std::function<void()> m_onGone;
    bool m_bGone = false;
};

class CZubDesktopApp
{
public:
    // After the QApplication: installs the loop and the shell and creates the main window.
    CZubDesktopApp();
    ~CZubDesktopApp();
    CZubDesktopApp(const CZubDesktopApp&) = delete;
    CZubDesktopApp& operator=(const CZubDesktopApp&) = delete;

    // Shows the window, reads the settings, opens the file (when one is named), then shows
    // the console and sets the silent flag as the settings ask. False when the file could
    // not be opened (the window stays, as after a failed open from the menu).
    bool StartUp(const std::string& commandLineFile);
    // Runs until the main window has closed, then writes the settings; the exit code.
    int Run();

    CMainFrame& Frame() const { return *m_pFrame; }

    // The file named on the command line (the first argument that is not an option), made
    // absolute; empty when there is none.
    static std::string CommandLineFile(const QStringList& arguments);

    // Ends the program as File > Exit does: open questions dismissed, the run stopped, the
    // window closed; Run() then writes the settings.
    void EndAsExitDoes();

private:
    // SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl-C) reach the loop through a pipe.
    void WatchEndSignals();

    CZubQtLoop m_loop;
    CZubQtShell m_shell;
    std::unique_ptr<CMainFrame> m_pFrame;
    int m_endPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_endNotifier;
    std::unique_ptr<CZubWindowGoneFilter> m_windowGone;
};

// main: the Qt application, --help and --version, then CZubDesktopApp.
int ZubDesktopMain(int argc, char** argv);
