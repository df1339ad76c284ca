// The desktop program's side of IZubShell: message boxes, the document's title, the
// recent-files list, the console lines, the open dialog and the player, each carried out on the user-interface thread
// whichever thread asks.
#pragma once

#include "zubapp.h"

#include <QPointer>

#include <functional>
#include <memory>

class CMainFrame;

class CZubQtShell : public IZubShell
{
public:
    // Construct it on the user-interface thread, after the QApplication.
    CZubQtShell();
    ~CZubQtShell() override;
    CZubQtShell(const CZubQtShell&) = delete;
    CZubQtShell& operator=(const CZubQtShell&) = delete;

    // The window the shell's requests go to; until then they are dropped (message boxes
    // still show, without a parent).
    void SetMainFrame(CMainFrame* pFrame);

    // A box with one OK button over the main window. From another thread the box opens on
    // the user-interface thread, and the call returns once it was closed.
    void MessageBox(const std::string& text) override;
    void ConsoleLine(const std::string& text) override;
    void SetDocumentTitle(const std::string& title) override;
    void AddToRecentFiles(const std::string& path) override;
    // The video parameters dialog and the player, over the main window.
    EZubVideoChoice ChooseVideoAction(SZubVideoParams& params) override;
    void PlayVideo(const std::string& path, bool bSer, int64_t llAvgTimePerFrame) override;

private:
    class CUiWnd;

    // Runs the call on the user-interface thread and waits for it: through the message
    // loop's sends, which are served in modal dialogs and while the UI thread joins a
    // decoder; without a loop, through Qt.
    void RunOnUiThread(const std::function<void()>& call);

    std::unique_ptr<CUiWnd> m_pWnd;
    QPointer<CMainFrame> m_pFrame;
};
