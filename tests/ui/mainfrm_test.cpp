// The main window driven as a user would: menus and toolbar, whole SER and AVI runs,
// closing during a run, the console, the title, the recent files and silent mode.
#include "zubuitest.h"

#include "mainfrm.h"
#include "zubapp.h"
#include "zubbmpimage.h"
#include "zubcommands.h"
#include "zubconsole.h"
#include "zubdesktopapp.h"
#include "zubdoc.h"
#include "zubsynth.h"
#include "zubviewform.h"

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <csignal>
#include <filesystem>
#include <thread>

#include <xcb/xcb.h>

namespace
{
constexpr int kFrames = 150;
constexpr int kRunTimeoutMs = 120000;
#ifdef ZUB_HAVE_FFMPEG
constexpr const char* kKinds[] = {"ser", "avi"};
#else
constexpr const char* kKinds[] = {"ser"};
#endif

// A 320 x 240 planet with one flash that the default parameters find; AVI through ffmpeg.
QString Video(const QString& kind)
{
    const std::string path = "flash." + kind.toStdString();
    if (std::filesystem::exists(path))
        return QString::fromStdString(path);
    SZubSynthOptions options;
    options.iWidth = 320;
    options.iHeight = 240;
    options.iFrames = kFrames;
    options.seed = 7;
    options.flash = {80, 6, 20.0, -12.0, 70.0, 1.2};
    std::string error;
    const bool bWritten = kind == "ser" ? ZubSynthWriteSer(options, path, error)
                                        : ZubSynthWriteVideo(options, path, EZubSynthCodec::Mjpeg, error);
    return bWritten ? QString::fromStdString(path) : QString();
}

// Answers every modal window: message boxes are read and closed, others handed to `other`.
class CModalWatch : public QObject
{
public:
    CModalWatch()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
            {
                m_boxes << box->text();
                m_boxThreadIsUi = box->thread() == qApp->thread();
                box->button(QMessageBox::Ok)->click();
            }
            else if (modal && m_other)
                m_other(modal);
        });
        m_timer.start(10);
    }
    QStringList m_boxes;
    bool m_boxThreadIsUi = false;
    std::function<void(QWidget*)> m_other;

private:
    QTimer m_timer;
};

// Files run without the open dialog and end without the results dialog unless a test asks.
constexpr const char* kQuietSettings = "[Settings]\nProcessAuto=dword:1\nShowResults=dword:0\n";

// Each test starts the program afresh: default parameters, its settings, a new loop.
struct SProgram
{
    explicit SProgram(const QString& commandLineFile = {}, const std::string& settings = kQuietSettings)
    {
        ZubResetApp();
        ZubWriteText(std::getenv("ZUB_REGISTRY"), settings);
        app = std::make_unique<CZubDesktopApp>();
        app->StartUp(CZubDesktopApp::CommandLineFile({"zub", commandLineFile}));
        ZubApp().m_params.ShowHisto = true;
    }
    ~SProgram()
    {
        app.reset();
        ZubResetApp();
    }
    CMainFrame& Frame() const { return app->Frame(); }
    CZubDoc& Doc() const { return app->Frame().Document(); }
    bool Enabled(UINT id) const { return Frame().Action(id)->isEnabled(); }
    // Through the program's own loop: a decoder's sends are served as they come.
    bool WaitIdle() const { return Doc().RunUntilIdle(kRunTimeoutMs); }
    std::unique_ptr<CZubDesktopApp> app;
};

// The items of a menu, separators as "-", recent entries left out.
QStringList MenuItems(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions())
        if (action->isSeparator())
            items << "-";
        else if (action->isVisible())
            items << action->text();
    return items;
}
}  // namespace

class CMainFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void MenusToolbarAndStatusBar()
    {
        SProgram program;
        CMainFrame& frame = program.Frame();
        QCOMPARE(frame.windowTitle(), QString("Zub"));
        QCOMPARE(frame.pos(), QPoint(30, 30));
        QCOMPARE(frame.size(), QSize(1100, 750));
        const QList<QMenu*> menus = frame.menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
        QStringList titles;
        for (const QAction* action : frame.menuBar()->actions())
            titles << action->text();
        QCOMPARE(titles, QStringList({"&File", "Parameters", "&View", "Process", "About"}));
        const QList<QStringList> items = {
            {"Open...", "-", "Recent files", "-", "Quit"},
            {"General parameters", "Search impact parameters", "-", "Simulation options", "Test options"},
            {"Results / candidates", "Log console", "Frame's data", "-", "Show mean image", "Show mask", "-",
             "&Barra de herramientas", "&Barra de estado"},
            {"Run", "Stop", "Silent mode"},
            {"About ZUB ..."}};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(MenuItems(frame.menuBar()->actions()[i]->menu()), items[i]);

        QStringList toolbar;
        for (const QAction* action : frame.findChild<QToolBar*>()->actions())
            toolbar << (action->isSeparator() ? "-" : action->text());
        QCOMPARE(toolbar, QStringList({"Open...", "-", "Run", "Stop", "-", "Results / candidates", "-",
                                       "General parameters", "Search impact parameters", "-", "Simulation options",
                                       "Test options", "-", "Show mean image", "Show mask", "Log console",
                                       "Frame's data", "-", "Silent mode", "-", "About ZUB ..."}));
        QCOMPARE(frame.findChild<QToolBar*>()->iconSize(), QSize(16, 15));
        for (const SZubCommand& command : ZubCommands())
            if (QAction* action = frame.Action(command.id); action && command.tooltip)
            {
                QCOMPARE(action->statusTip(), QString::fromUtf8(command.prompt));
                QCOMPARE(action->toolTip(), QString::fromUtf8(command.tooltip));
            }
        QCOMPARE(frame.Action(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
        QStringList panes;
        for (const QLabel* label : frame.statusBar()->findChildren<QLabel*>())
            panes << label->text();
        QCOMPARE(panes, QStringList({"Para obtener ayuda, presione F1", "CAP", "NUM", "SCRL"}));
    }

    void EnablingThroughAWholeRun_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : kKinds)
            QTest::newRow(kind) << kind;
    }

    // Before a file, while running and after a run that found the flash, as the menus show.
    void EnablingThroughAWholeRun()
    {
        QFETCH(QString, kind);
        const QString video = Video(kind);
        if (video.isEmpty())
            QSKIP("no ffmpeg program to write the AVI");
        SProgram program;
        CMainFrame& frame = program.Frame();
        QVERIFY(!program.Enabled(ID_PROCESS_RUN) && !program.Enabled(ID_PROCESS_STOP));
        QVERIFY(program.Enabled(ID_PARAMS_GENERAL) && !program.Enabled(ID_VIEW_RESULTS));

        int runningChecks = 0;
        QStringList faults;
        connect(&frame, &CMainFrame::CommandsRefreshed, this, [&] {
            const bool running = program.Doc().m_bRunning;
            runningChecks += running;
            for (UINT id : {ID_PARAMS_GENERAL, ID_PARAMS_KIV, ID_PARAMS_SIMULATION, ID_PARAMS_TEST, ID_PROCESS_RUN})
                if (program.Enabled(id) == running)
                    faults << QString("%1 at running %2").arg(id).arg(running);
            if (program.Enabled(ID_PROCESS_STOP) != running ||
                (running && (program.Enabled(ID_VIEW_FRAME_DATA) || program.Enabled(ID_VIEW_RESULTS))))
                faults << QString("Stop, data or results at running %1").arg(running);
        });
        bool bShot = false;
        QTimer shooter;
        connect(&shooter, &QTimer::timeout, this, [&] {
            if (!bShot && program.Doc().m_nPhase == PHASE_IMPACT && program.Doc().m_nFrame > 60)
                bShot = frame.grab().save(ZubScreenshotPath("mainfrm-" + kind + "-running.png"));
        });
        shooter.start(2);

        QVERIFY(frame.OpenDocument(video));
        QVERIFY(program.WaitIdle());
        QVERIFY(runningChecks > 0);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
        QCOMPARE(program.Doc().CandidateCount(), 1);
        for (UINT id : {ID_PROCESS_RUN, ID_VIEW_RESULTS, ID_VIEW_FRAME_DATA, ID_VIEW_MEAN, ID_VIEW_MASK})
            QVERIFY(program.Enabled(id));
        QVERIFY(!program.Enabled(ID_PROCESS_STOP));
        QVERIFY(bShot);
        const QString messages = frame.View()->Messages()->toPlainText();
        QVERIFY(messages.startsWith("\n****") && messages.contains("\nEnd fase: RESULTS."));
        QVERIFY(frame.View()->Image()->HasPicture());
        QVERIFY(frame.grab().save(ZubScreenshotPath("mainfrm-" + kind + "-done.png")));

        CModalWatch watch;
        QStringList titles;
        watch.m_other = [&](QWidget* dialog) {
            titles << dialog->windowTitle();
            QVERIFY(dialog->grab().save(ZubScreenshotPath("mainfrm-" + kind + (titles.size() == 1 ? "-mean.png" : "-mask.png"))));
            static_cast<QDialog*>(dialog)->reject();
        };
        frame.Action(ID_VIEW_MEAN)->trigger();
        frame.Action(ID_VIEW_MASK)->trigger();
        QCOMPARE(titles, QStringList({QString("Mean image of %1 frames").arg(program.Doc().m_nAvgFrames), "Mask frame"}));
    }

    // With "Process automaticly at open file" off the open dialog asks (Play opens the player,
    // PROCESS FILE runs); the run ends in the results window; every dialog opens from its
    // toolbar button.
    void OpenDialogResultsAndEveryDialogFromTheToolbar()
    {
        SProgram program({}, "[Settings]\nProcessAuto=dword:0\nShowResults=dword:1\n");
        CMainFrame& frame = program.Frame();
        CModalWatch watch;
        QStringList titles;
        bool bPlay = true;
        watch.m_other = [&](QWidget* dialog) {
            titles << dialog->windowTitle();
            if (dialog->windowTitle() != "Avi Parameters")
                return static_cast<QDialog*>(dialog)->reject();
            const QString choice = bPlay ? "Play video" : "PROCESS FILE";
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                if (button->text() == choice)
                    button->click();
        };
        QVERIFY(frame.OpenDocument(Video("ser")));
        QVERIFY(program.WaitIdle());
        bPlay = false;
        frame.Action(ID_PROCESS_RUN)->trigger();
        QVERIFY(program.WaitIdle());
        QTRY_COMPARE(titles, QStringList({"Avi Parameters", "Play file", "Avi Parameters", "Zub Results"}));

        titles.clear();
        QToolBar* toolbar = frame.findChild<QToolBar*>();
        for (UINT id : {ID_PARAMS_GENERAL, ID_PARAMS_KIV, ID_PARAMS_SIMULATION, ID_PARAMS_TEST, ID_VIEW_RESULTS,
                        ID_VIEW_FRAME_DATA})
            qobject_cast<QToolButton*>(toolbar->widgetForAction(frame.Action(id)))->click();
        QCOMPARE(titles, QStringList({"Zub - Options", "Search impact parameters", "Zub Impact simulation",
                                      "Test options", "Zub Results", "Data frames"}));
    }

    // A SER pass runs on the UI thread: the window repaints and Stop is heard during it.
    // Silent mode shows the counters only.
    void SerPassKeepsTheWindowAlive()
    {
        SProgram program;
        CMainFrame& frame = program.Frame();
        frame.Action(ID_PROCESS_SILENT)->trigger();
        QLineEdit* frameNumber = frame.View()->findChild<QLineEdit*>("editFrame");
        bool bCountersOnly = false;
        int paintsInPass = 0;
        int stopDepth = -1;
        struct SPaintCounter : QObject
        {
            std::function<void()> onPaint;
            bool eventFilter(QObject*, QEvent* event) override
            {
                if (event->type() == QEvent::Paint)
                    onPaint();
                return false;
            }
        } counter;
        counter.onPaint = [&] { paintsInPass += frame.View()->HandlerDepth() > 0; };
        frameNumber->installEventFilter(&counter);
        QTimer stopper;
        connect(&stopper, &QTimer::timeout, this, [&] {
            if (stopDepth < 0 && program.Doc().m_nPhase == PHASE_IMPACT && program.Doc().m_nFrame > 20)
            {
                stopDepth = frame.View()->HandlerDepth();
                bCountersOnly = !frame.View()->Image()->HasPicture() &&
                                frameNumber->text() == QString::number(program.Doc().m_nFrame);
                QToolBar* toolbar = frame.findChild<QToolBar*>();
                QTest::mouseClick(toolbar->widgetForAction(frame.Action(ID_PROCESS_STOP)), Qt::LeftButton);
            }
        });
        stopper.start(1);
        QVERIFY(frame.OpenDocument(Video("ser")));
        QVERIFY(program.WaitIdle());
        QVERIFY(stopDepth > 0);  // clicked while the pass loop was on the stack
        QVERIFY(paintsInPass > 0);
        QVERIFY(bCountersOnly);
        QVERIFY(program.Doc().m_nProcessed < kFrames);
        QVERIFY(!frame.View()->Messages()->toPlainText().contains("End fase: Find IMPACT."));
        QVERIFY(program.Enabled(ID_PROCESS_RUN));
    }

    void ClosingDuringARun_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("frame");  // 0: as the phase begins
        for (const char* kind : kKinds)
        {
            for (int phase = PHASE_ROI; phase <= PHASE_RESULTS; ++phase)
                QTest::newRow(QString("%1 phase %2").arg(kind).arg(phase).toUtf8().constData())
                    << QString(kind) << phase << 0;
            QTest::newRow(QString("%1 mid impact").arg(kind).toUtf8().constData())
                << QString(kind) << int(PHASE_IMPACT) << 40;
        }
    }

    // The run stops, the source is stopped and joined, the window goes only once the pass
    // loop has returned; nothing is left running and nothing crashes after it.
    void ClosingDuringARun()
    {
        QFETCH(QString, kind);
        QFETCH(int, phase);
        QFETCH(int, frame);
        const QString video = Video(kind);
        if (video.isEmpty())
            QSKIP("no ffmpeg program to write the AVI");
        SProgram program;
        CMainFrame& window = program.Frame();
        bool bAsked = false;
        int depthAtClose = -1;
        auto closeWhenDue = [&] {
            // As a user's click arrives: with the next events, not inside a handler.
            if (!bAsked && program.Doc().m_nPhase == phase && program.Doc().m_nFrame >= frame)
            {
                bAsked = true;
                QTimer::singleShot(0, &window, [&] {
                    depthAtClose = window.View()->HandlerDepth();
                    window.close();
                });
            }
        };
        connect(&window, &CMainFrame::CommandsRefreshed, this, closeWhenDue);
        QTimer poller;
        connect(&poller, &QTimer::timeout, this, closeWhenDue);
        if (frame > 0)
            poller.start(1);
        QVERIFY(window.OpenDocument(video));
        QVERIFY(QTest::qWaitFor([&] { return window.IsClosed(); }, kRunTimeoutMs));
        QVERIFY(bAsked);
        if (kind == "ser" && phase > PHASE_ROI)
            QVERIFY(depthAtClose > 0);  // the pass loop was on the stack
        QVERIFY(!window.isVisible() && !window.Console()->isVisible());
        QVERIFY(!program.Doc().m_bRunning && !program.Doc().IsSourceActive());
        QTest::qWait(50);  // what was still posted to the view arrives before it goes
    }

    void EndingFromOutside_data()
    {
        QTest::addColumn<bool>("bSignal");
        QTest::newRow("SIGTERM") << true;
        QTest::newRow("window destroyed by another client") << false;
    }

    // A logout's SIGTERM during a run (a question open), or the window destroyed on the X
    // server, end the program as File > Exit does: run stopped, loop over, settings written.
    void EndingFromOutside()
    {
        QFETCH(bool, bSignal);
        SProgram program;
        CMainFrame& window = program.Frame();
        bool bEnded = false;
        QTimer poller;
        connect(&poller, &QTimer::timeout, this, [&] {
            if (bEnded || program.Doc().m_nPhase != PHASE_IMPACT)
                return;
            bEnded = true;
            if (bSignal)
            {
                QTimer::singleShot(0, [] { std::raise(SIGTERM); });
                QMessageBox::information(&window, "Zub", "open question");
                return;
            }
            xcb_destroy_notify_event_t gone{};
            gone.response_type = XCB_DESTROY_NOTIFY;
            gone.event = gone.window = static_cast<xcb_window_t>(window.internalWinId());
            qintptr result = 0;
            QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", &gone, &result);
        });
        poller.start(1);
        QVERIFY(window.OpenDocument(Video("ser")));
        QCOMPARE(program.app->Run(), 0);
        QVERIFY(bEnded && window.IsClosed());
        QVERIFY(!program.Doc().m_bRunning && !program.Doc().IsSourceActive());
        QVERIFY(ZubReadText(std::getenv("ZUB_REGISTRY")).find("ROIFactorBright=") != std::string::npos);
    }

    // The console is created hidden, follows the menu and its own Close, keeps its text,
    // and takes lines from any thread.
    void ConsoleThroughTheMenu()
    {
        SProgram program({}, std::string(kQuietSettings) + "ShowConsole=dword:1\nSilentMode=dword:1\n");
        CMainFrame& frame = program.Frame();
        CZubConsole* console = frame.Console();
        QAction* menu = frame.Action(ID_VIEW_CONSOLE);
        QVERIFY(console->isVisible() && menu->isChecked());
        QVERIFY(ZubApp().m_bSilent && frame.Action(ID_PROCESS_SILENT)->isChecked());
        QCOMPARE(console->pos(), QPoint(980, 60));
        QVERIFY(console->Text().contains("Reading"));  // the settings dumped at start-up
        menu->trigger();
        QVERIFY(!console->isVisible() && !menu->isChecked());

        std::thread worker([] { ZubApp().m_log.Log("From the decoder"); });
        QVERIFY(QTest::qWaitFor([&] { return console->Text().endsWith("\nFrom the decoder"); }));
        worker.join();
        menu->trigger();
        QVERIFY(console->isVisible() && console->Text().endsWith("\nFrom the decoder"));
        console->findChild<QPushButton*>("closeButton")->click();
        QVERIFY(!console->isVisible() && !menu->isChecked());
        console->findChild<QPushButton*>("clearButton")->click();
        ZubApp().m_log.Log("After clear");
        QCOMPARE(console->Text(), QString("\nAfter clear"));
    }

    // The command line and a dropped file open videos; both land in the title and the list.
    void TitleRecentFilesAndSilentMode()
    {
        const QString a = QFileInfo(Video("ser")).absoluteFilePath();
        QString b = QDir::current().absoluteFilePath("copy & paste.ser");
        QFile::copy(a, b);
        SProgram program("flash.ser");
        CMainFrame& frame = program.Frame();
        CModalWatch watch;
        QMenu* file = frame.menuBar()->actions()[0]->menu();
        QVERIFY(file->actions().contains(frame.Action(ID_FILE_MRU_FILE1)));
        QCOMPARE(frame.windowTitle(), QString("flash.ser - Zub"));
        QCOMPARE(program.Doc().m_csPathName, a.toStdString());
        frame.Action(ID_PROCESS_STOP)->trigger();
        QVERIFY(program.WaitIdle());

        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(b)});
        QDragEnterEvent enter(QPoint(500, 300), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(500, 300), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&frame, &drop);
        QVERIFY(QTest::qWaitFor([&] { return program.Doc().m_csPathName == b.toStdString(); }));
        QVERIFY(program.WaitIdle());
        QCOMPARE(frame.windowTitle(), QString("copy & paste.ser - Zub"));
        // Ctrl+N: an untitled document, the run's data kept.
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        const int candidates = program.Doc().CandidateCount();
        QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(frame.windowTitle(), QString("Zub"));
        QVERIFY(program.Doc().m_csPathName == b.toStdString() && program.Doc().CandidateCount() == candidates);
        QVERIFY(program.Doc().m_bMeanReady);
        QCOMPARE(MenuItems(file), QStringList({"Open...", "-", "&1 " + QString(b).replace("&", "&&"), "&2 " + a, "-", "Quit"}));

        // A file that no longer opens is reported and leaves the list.
        QFile::remove(QDir::current().absoluteFilePath("copy & paste.ser"));
        frame.Action(ID_FILE_MRU_FILE1)->trigger();
        QCOMPARE(watch.m_boxes.size(), 1);
        QVERIFY(watch.m_boxes[0].startsWith("Cannot open file"));
        QCOMPARE(MenuItems(file), QStringList({"Open...", "-", "&1 " + a, "-", "Quit"}));

        // A box asked for by another thread opens on the UI thread; the call waits for it.
        std::atomic<bool> bReturned{false};
        std::thread worker([&] {
            ZubMessageBox("From the decoder");
            bReturned = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return bReturned.load(); }));
        worker.join();
        QCOMPARE(watch.m_boxes.last(), QString("From the decoder"));
        QVERIFY(watch.m_boxThreadIsUi);

        QAction* silent = frame.Action(ID_PROCESS_SILENT);
        const QImage normal = silent->icon().pixmap(16, 15).toImage();
        silent->trigger();
        QVERIFY(ZubApp().m_bSilent && silent->isChecked() && !ZubApp().m_params.SilentMode);
        QCOMPARE(silent->icon().pixmap(16, 15).toImage(), QImage(":/icons/silenton.xpm").convertToFormat(normal.format()));
        silent->trigger();
        QVERIFY(!ZubApp().m_bSilent && !silent->isChecked());
        QCOMPARE(silent->icon().pixmap(16, 15).toImage(), normal);
    }

    void AboutBox()
    {
        SProgram program;
        CModalWatch watch;
        QString title;
        QStringList texts;
        watch.m_other = [&](QWidget* dialog) {
            title = dialog->windowTitle();
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                texts << label->text();
            QVERIFY(dialog->grab().save(ZubScreenshotPath("aboutbox.png")));
            QPushButton* ok = dialog->findChild<QPushButton*>();
            texts << ok->text();
            ok->click();
        };
        program.Frame().Action(ID_APP_ABOUT)->trigger();
        QCOMPARE(title, QString("Acerca de Zub"));
        QVERIFY(texts.join("|").contains("Zub, version " ZUB_VERSION));
        QVERIFY(texts.contains("Aceptar"));
    }
};

ZUB_QTEST_MAIN(CMainFrameTest)
#include "mainfrm_test.moc"
