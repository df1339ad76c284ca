#include "mainfrm.h"

#include "ui_mainfrm.h"
#include "zubaboutdlg.h"
#include "zubapp.h"
#include "zubcommands.h"
#include "zubconsole.h"
#include "zubdataframesdlg.h"
#include "zubdoc.h"
#include "zubkivdlg.h"
#include "zubmainframe.h"
#include "zuboptionsdlg.h"
#include "zubrecentfiles.h"
#include "zubresultsdlg.h"
#include "zubshowframedlg.h"
#include "zubsimulationdlg.h"
#include "zubtestoptionsdlg.h"
#include "zubview.h"
#include "zubviewform.h"
#ifdef ZUB_HAVE_FFMPEG
#include "zubffmpeg.h"
#endif

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QStatusBar>

namespace
{
const char kIdleText[] = "Para obtener ayuda, presione F1";
const char kOpenFilter[] =
    "SER Files (*.ser);;AVI Files (*.avi);;MPEG Files (*.mpeg);;WMV Files (*.wmv);;"
    "All videos (*.ser *.avi *.mpeg *.mpg *.wmv *.mp4 *.mkv *.mov);;All files (*)";

bool IsRecentFileId(UINT id)
{
    return id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kZubRecentFileCount;
}

// The first local file among dropped items, or empty.
QString DroppedFile(const QMimeData* data)
{
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile() && !url.toLocalFile().isEmpty())
                return url.toLocalFile();
    return {};
}
}  // namespace

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::CMainFrame>()), m_pDoc(std::make_unique<CZubDoc>())
{
    Q_INIT_RESOURCE(zub);
    m_ui->setupUi(this);
#ifdef ZUB_HAVE_FFMPEG
    m_pDoc->SetMediaFactory(CZubFfmpegSource::Factory());
#endif
    m_pView = new CZubViewForm(*m_pDoc, this);
    setCentralWidget(m_pView);
    SetUpCommands();
    addAction(m_ui->actionNew);  // in no menu: the window itself carries its shortcut
    SetUpRecentFiles();
    SetUpStatusBar();

    m_pConsole = new CZubConsole(this);
    m_pConsole->move(kConsoleX, kConsoleY);
    connect(m_pConsole, &CZubConsole::ConsoleClosed, this, &CMainFrame::RefreshCommands);

    connect(m_pView, &CZubViewForm::RunStateChanged, this, &CMainFrame::RefreshCommands);
    connect(m_pView, &CZubViewForm::OtherCommand, this, [this](unsigned id) { OnCommand(id); });
    connect(m_pView, &CZubViewForm::HandlersReturned, this, [this] {
        // Not from inside the handler's caller: a close may be under way there.
        if (m_bClosePending)
            QTimer::singleShot(0, this, [this] { FinishDeferredClose(false); });
    });
    m_closeWait.setSingleShot(true);
    connect(&m_closeWait, &QTimer::timeout, this, [this] { FinishDeferredClose(true); });

    move(30, 30);
    UpdateSilentImage();
    RefreshCommands();
}

CMainFrame::~CMainFrame()
{
    // The decoder is joined before the view it reports to goes, and the view before the
    // document it points to.
    CloseDocument();
    delete m_pView;
    m_pView = nullptr;
    delete m_pConsole;
    m_pConsole = nullptr;
}

void CMainFrame::SetUpCommands()
{
    for (QAction* action : findChildren<QAction*>())
    {
        const QVariant idValue = action->property("commandId");
        const SZubCommand* command = idValue.isValid() ? ZubFindCommand(idValue.toUInt()) : nullptr;
        if (!command)
            continue;
        const UINT id = command->id;
        action->setText(QString::fromUtf8(command->text));
        action->setStatusTip(QString::fromUtf8(command->prompt));
        if (command->tooltip)
            action->setToolTip(QString::fromUtf8(command->tooltip));
        action->setIconVisibleInMenu(false);
        m_actions[id] = action;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    m_iconSilentOff = Action(ID_PROCESS_SILENT)->icon();
    m_iconSilentOn = QIcon(":/icons/silenton.xpm");
    for (QMenu* menu : findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshCommands);
}

void CMainFrame::SetUpRecentFiles()
{
    // The entries take the place of the greyed "Recent files" item once there are any.
    const QList<QAction*> items = m_ui->menuFile->actions();
    const qsizetype placeholder = items.indexOf(m_ui->actionRecentFiles);
    QAction* before = placeholder + 1 < items.size() ? items[placeholder + 1] : nullptr;
    const SZubCommand* command = ZubFindCommand(ID_FILE_MRU_FILE1);
    for (int i = 0; i < kZubRecentFileCount; ++i)
    {
        auto* action = new QAction(this);
        action->setStatusTip(QString::fromUtf8(command->prompt));
        action->setVisible(false);
        m_ui->menuFile->insertAction(before, action);
        m_recentActions.push_back(action);
        m_actions[ID_FILE_MRU_FILE1 + i] = action;
        connect(action, &QAction::triggered, this, [this, i] { OnCommand(ID_FILE_MRU_FILE1 + i); });
    }
    RefreshRecentFiles();
}

void CMainFrame::SetUpStatusBar()
{
    // Temporary prompts cover the idle text while a command is highlighted.
    m_pIdleText = new QLabel(kIdleText, this);
    statusBar()->addWidget(m_pIdleText, 1);
    for (const char* text : {"CAP", "NUM", "SCRL"})
    {
        auto* pane = new QLabel(text, this);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance("SCRL") + 12);
        // The lock keys' states cannot be read portably: the indicators stay greyed.
        pane->setEnabled(false);
        statusBar()->addPermanentWidget(pane);
    }
}

QAction* CMainFrame::Action(UINT id) const
{
    const auto action = m_actions.find(id);
    return action == m_actions.end() ? nullptr : action->second;
}

// ---- Commands -----------------------------------------------------------------------------

void CMainFrame::OnCommand(UINT id)
{
    if (!m_pDoc->IsCommandEnabled(id))
        return;
    switch (id)
    {
    case ID_FILE_OPEN: OnFileOpen(); break;
    case ID_APP_EXIT: close(); break;
    case ID_PARAMS_GENERAL: OnParamsGeneral(); break;
    case ID_PARAMS_KIV: OnParamsKiv(); break;
    case ID_PARAMS_SIMULATION: OnParamsSimulation(); break;
    case ID_PARAMS_TEST: OnParamsTest(); break;
    case ID_VIEW_RESULTS: OnViewResults(); break;
    case ID_VIEW_CONSOLE: OnToggleConsole(); break;
    case ID_VIEW_FRAME_DATA: OnViewFrameData(); break;
    case ID_VIEW_MEAN: OnViewMean(); break;
    case ID_VIEW_MASK: OnViewMask(); break;
    case ID_VIEW_TOOLBAR: m_ui->toolBar->setVisible(m_ui->toolBar->isHidden()); break;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(statusBar()->isHidden()); break;
    case ID_FILE_NEW:
    case ID_PROCESS_RUN:
    case ID_PROCESS_STOP: RouteToDocument(id); break;
    case ID_PROCESS_SILENT: OnToggleSilent(); break;
    case ID_APP_ABOUT: OnAbout(); break;
    default:
        if (IsRecentFileId(id))
            OnRecentFile(static_cast<int>(id - ID_FILE_MRU_FILE1));
        break;
    }
    RefreshCommands();
}

void CMainFrame::RouteToDocument(UINT id)
{
    // Through the view, which reports the run's state once the document has acted.
    m_pView->View().SendMessage(WM_COMMAND, id);
}

void CMainFrame::RefreshCommands()
{
    for (const auto& [id, action] : m_actions)
        if (!IsRecentFileId(id))
            action->setEnabled(m_pDoc->IsCommandEnabled(id));
    Action(ID_VIEW_CONSOLE)->setChecked(m_pConsole && m_pConsole->isVisible());
    Action(ID_PROCESS_SILENT)->setChecked(ZubApp().m_bSilent);
    Action(ID_VIEW_TOOLBAR)->setChecked(!m_ui->toolBar->isHidden());
    Action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    emit CommandsRefreshed();
}

void CMainFrame::OnFileOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, "Abrir", QString(), kOpenFilter);
    if (path.isEmpty())
        return;
    const std::string name = QFileInfo(path).fileName().toStdString();
    m_pDoc->OpenChosenFile(name, path.toStdString(), ZubHasSerExtension(name));
}

bool CMainFrame::OpenDocument(const QString& path)
{
    return m_pDoc->OnOpenDocument(QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toStdString());
}

void CMainFrame::OnRecentFile(int index)
{
    const QString path = m_recentActions[static_cast<size_t>(index)]->data().toString();
    if (path.isEmpty() || OpenDocument(path))
        return;
    // A file that no longer opens leaves the list.
    CZubProfile& profile = ZubApp().GetProfile();
    profile.Load();
    CZubRecentFiles recent;
    recent.Load(profile);
    recent.Remove(path.toStdString());
    recent.Save(profile);
    RefreshRecentFiles();
}

void CMainFrame::AddToRecentFiles(const QString& path)
{
    CZubProfile& profile = ZubApp().GetProfile();
    profile.Load();  // keep what was written since it was read
    CZubRecentFiles recent;
    recent.Load(profile);
    recent.Add(path.toStdString());
    recent.Save(profile);
    RefreshRecentFiles();
}

void CMainFrame::RefreshRecentFiles()
{
    CZubRecentFiles recent;
    recent.Load(ZubApp().GetProfile());
    for (int i = 0; i < kZubRecentFileCount; ++i)
    {
        const std::string path = recent.At(i);
        QAction* action = m_recentActions[static_cast<size_t>(i)];
        action->setText(QString::fromStdString(ZubRecentFileMenuText(i, path)));
        action->setData(QString::fromStdString(path));
        action->setVisible(!path.empty());
    }
    m_ui->actionRecentFiles->setVisible(recent.Files().empty());
}

void CMainFrame::SetDocumentTitle(const QString& title)
{
    setWindowTitle(QString::fromStdString(ZubMainFrameTitle(title.toStdString())));
}

void CMainFrame::OnViewMean()
{
    CZubShowFrameDlg dialog(this);
    dialog.SetTitle(QString::asprintf("Mean image of %i frames", m_pDoc->m_nAvgFrames));
    dialog.ShowFrame(m_pDoc->m_frameMean, m_pDoc->RowsBottomUp());
    dialog.exec();
}

void CMainFrame::OnViewMask()
{
    CZubShowFrameDlg dialog(this);
    dialog.SetTitle("Mask frame");
    dialog.ShowFrameWithMask(m_pDoc->m_frameMean, m_pDoc->m_frameMask, m_pDoc->RowsBottomUp());
    dialog.exec();
}

void CMainFrame::OnAbout()
{
    CZubAboutDlg dialog(this);
    dialog.exec();
}

// Each dialog writes its section when it closes; General parameters also sets the silent flag.
void CMainFrame::OnParamsGeneral()
{
    CZubOptionsDlg::RunCommand(this);
    UpdateSilentImage();
}

void CMainFrame::OnParamsKiv()
{
    CZubKivDlg::RunCommand(this);
}

void CMainFrame::OnParamsSimulation()
{
    CZubSimulationDlg::RunCommand(this);
}

void CMainFrame::OnParamsTest()
{
    CZubTestOptionsDlg::RunCommand(this);
}

void CMainFrame::OnViewResults()
{
    CZubResultsDlg::RunCommand(*m_pDoc, this);
}

void CMainFrame::OnViewFrameData()
{
    CZubDataFramesDlg::RunCommand(*m_pDoc, this);
}

// ---- Console and silent mode --------------------------------------------------------------

void CMainFrame::AppendConsoleLine(const QString& text)
{
    if (m_pConsole)
        m_pConsole->AppendLine(text);
}

void CMainFrame::ShowConsole(bool bShow)
{
    m_pConsole->setVisible(bShow);
    RefreshCommands();
}

void CMainFrame::OnToggleConsole()
{
    ShowConsole(!m_pConsole->isVisible());
}

void CMainFrame::OnToggleSilent()
{
    // The frame's flag only: SilentMode in the settings stays as it is.
    ZubApp().m_bSilent = !ZubApp().m_bSilent;
    UpdateSilentImage();
}

void CMainFrame::UpdateSilentImage()
{
    QAction* silent = Action(ID_PROCESS_SILENT);
    silent->setIcon(ZubApp().m_bSilent ? m_iconSilentOn : m_iconSilentOff);
    silent->setChecked(ZubApp().m_bSilent);
}

// ---- Drops --------------------------------------------------------------------------------

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the open may ask questions in dialogs of its own.
    QTimer::singleShot(0, this, [this, path] { OpenDocument(path); });
}

// ---- Closing ------------------------------------------------------------------------------

bool CMainFrame::IsRunBusy() const
{
    return m_pDoc->m_bRunning || m_pDoc->IsSourceActive() || m_pView->HandlerDepth() > 0;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!m_bClosed && IsRunBusy())
    {
        event->ignore();
        BeginDeferredClose();
        return;
    }
    if (!m_bClosed)
        FinishClose();
    event->accept();
}

void CMainFrame::BeginDeferredClose()
{
    if (m_bClosePending)
        return;
    m_bClosePending = true;
    // Stop the run and its source now; a decoder thread is joined here.
    CloseDocument();
    m_closeWait.start(kCloseWaitMs);
    if (m_pView->HandlerDepth() == 0)
        QTimer::singleShot(0, this, [this] { FinishDeferredClose(false); });
}

void CMainFrame::FinishDeferredClose(bool bWaitOver)
{
    if (!m_bClosePending || (!bWaitOver && m_pView->HandlerDepth() > 0))
        return;
    // Even with a handler still on the stack (a dialog it opened), the window may close: it
    // is destroyed only after the message loop has returned, which unwinds every handler.
    m_bClosePending = false;
    m_closeWait.stop();
    FinishClose();
    close();
}

void CMainFrame::CloseDocument()
{
    // Again when a handler that was on the stack at the first time started a pass since.
    if (m_bDocumentClosed && !m_pDoc->m_bRunning && !m_pDoc->IsSourceActive())
        return;
    m_bDocumentClosed = true;
    m_pDoc->m_bRunning = false;
    m_pDoc->OnCloseDocument();
}

void CMainFrame::FinishClose()
{
    m_bClosed = true;
    CloseDocument();
    m_pConsole->hide();
    if (IZubMessageLoop* loop = ZubGetMessageLoop())
        loop->Quit(0);
    emit Closed();
}
