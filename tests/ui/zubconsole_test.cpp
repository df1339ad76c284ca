// The log console: lines with their breaks in front, kept while hidden, hidden on close.
#include "zubuitest.h"

#include "zubconsole.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

class CZubConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void KeepsItsTextWhileHiddenAndClosed()
    {
        CZubConsole console;
        QCOMPARE(console.windowTitle(), QString("Zub Console Log"));
        QVERIFY(!console.isVisible());
        console.AppendLine("Reading Options parameters.");
        console.AppendLine("ROIAutomatic:         1");
        QCOMPARE(console.Text(), QString("\nReading Options parameters.\nROIAutomatic:         1"));

        QSignalSpy closed(&console, &CZubConsole::ConsoleClosed);
        console.show();
        QVERIFY(QTest::qWaitForWindowExposed(&console));
        QPushButton* close = console.findChild<QPushButton*>("closeButton");
        QVERIFY(close->isDefault());
        close->click();
        QVERIFY(!console.isVisible());
        QCOMPARE(closed.count(), 1);

        console.AppendLine("Line while hidden");
        console.show();
        QVERIFY(QTest::qWaitForWindowExposed(&console));
        console.close();  // the title bar's close
        QVERIFY(!console.isVisible());
        QCOMPARE(closed.count(), 2);
        QVERIFY(console.Text().endsWith("\nLine while hidden"));

        console.findChild<QPushButton*>("clearButton")->click();
        QVERIFY(console.Text().isEmpty());
        console.AppendLine("After clear");
        QCOMPARE(console.Text(), QString("\nAfter clear"));  // on the second row
    }

    void FollowsTheNewestLine()
    {
        CZubConsole console;
        console.resize(400, 200);
        console.show();
        QVERIFY(QTest::qWaitForWindowExposed(&console));
        for (int i = 1; i <= 200; ++i)
            console.AppendLine(QString("Process frame: %1").arg(i));
        QScrollBar* bar = console.TextBox()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(console.TextBox()->isReadOnly());
        QCOMPARE(console.TextBox()->lineWrapMode(), QPlainTextEdit::NoWrap);
        console.AppendLine("Init fase: Find ROI.");
        console.AppendLine("    Planet's center: (  320,  240)  size: (  180 x  168)  a long line that "
                           "needs the horizontal scroll bar");
        QVERIFY(console.grab().save(ZubScreenshotPath("zubconsole.png")));
    }
};

ZUB_QTEST_MAIN(CZubConsoleTest)
#include "zubconsole_test.moc"
