#include "zubdesktopapp.h"

#include "mainfrm.h"
#include "zubapp.h"
#include "zubdoc.h"
#include "zubstartup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifndef ZUB_VERSION
#define ZUB_VERSION "0.0"
#endif

CZubDesktopApp::CZubDesktopApp()
{
    ZubSetMessageLoop(&m_loop);
    ZubApp().SetShell(&m_shell);
    m_pFrame = std::make_unique<CMainFrame>();
    m_shell.SetMainFrame(m_pFrame.get());
}

CZubDesktopApp::~CZubDesktopApp()
{
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
