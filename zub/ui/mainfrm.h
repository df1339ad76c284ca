// The main window: menus, toolbar and status bar over the view, the log console it owns,
// and the routing of every command to the document, the view or a window.
#pragma once

#include "zubwnd.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

class CZubConsole;
class CZubDoc;
class CZubViewForm;
class QAction;
class QLabel;

namespace Ui
{
class CMainFrame;
}

class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    // The console's place on the screen; it is created hidden with the window.
    static constexpr int kConsoleX = 980;
    static constexpr int kConsoleY = 60;
    // The longest wait for a closing run to wind down before the window goes regardless.
    static constexpr int kCloseWaitMs = 500;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    CZubDoc& Document() const { return *m_pDoc; }
    CZubViewForm* View() const { return m_pView; }
    CZubConsole* Console() const { return m_pConsole; }
    // The menu and toolbar action of a command id (recent files: their four entries).
    QAction* Action(UINT id) const;

    // The open routine of the command line, the recent files and dropped files.
    bool OpenDocument(const QString& path);
    // The document's name in the title ("Zub" alone while it has none).
    void SetDocumentTitle(const QString& title);
    void AddToRecentFiles(const QString& path);
    // The recent-files entries from the settings.
    void RefreshRecentFiles();
    void AppendConsoleLine(const QString& text);
    void ShowConsole(bool bShow);
    // The Silent mode button's image and check mark from the silent flag.
    void UpdateSilentImage();
    // Enabling and check marks of every command from the document and the window.
    void RefreshCommands();
    // The window closed for good and the message loop was told to end.
    bool IsClosed() const { return m_bClosed; }

signals:
    void CommandsRefreshed();
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void SetUpCommands();
    void SetUpRecentFiles();
    void SetUpStatusBar();
    void OnCommand(UINT id);
    void RouteToDocument(UINT id);
    void OnFileOpen();
    void OnRecentFile(int index);
    void OnViewMean();
    void OnViewMask();
    void OnAbout();
    void OnToggleConsole();
    void OnToggleSilent();
    // The dialogs of the parameter, results and data windows.
    void OnParamsGeneral();
    void OnParamsKiv();
    void OnParamsSimulation();
    void OnParamsTest();
    void OnViewResults();
    void OnViewFrameData();

    // A run must unwind before the window goes: the close waits for the view's handlers.
    bool IsRunBusy() const;
    void BeginDeferredClose();
    void FinishDeferredClose(bool bWaitOver);
    // The run stopped, its source stopped (a decoder joined), the log file closed.
    void CloseDocument();
    void FinishClose();

    std::unique_ptr<Ui::CMainFrame> m_ui;
    std::unique_ptr<CZubDoc> m_pDoc;
    CZubViewForm* m_pView = nullptr;
    CZubConsole* m_pConsole = nullptr;
    std::map<UINT, QAction*> m_actions;
    std::vector<QAction*> m_recentActions;
    QLabel* m_pIdleText = nullptr;
    QIcon m_iconSilentOff;
    QIcon m_iconSilentOn;

    QTimer m_closeWait;
    bool m_bClosePending = false;
    bool m_bDocumentClosed = false;
    bool m_bClosed = false;
};
