// The data-frames window: its lines, the CSV export through the save dialog, and the
// refusals of a file that cannot be written.
#include "zubdlgtest.h"

#include "zubdataframes.h"
#include "zubdataframesdlg.h"
#include "zubdoc.h"
#include "zubrun.h"

#include <QFileDialog>
#include <QPushButton>

namespace
{
CZubCandidate Frame12()
{
    CZubCandidate r;
    r.m_iFrame = 12;
    r.m_sizePlanet = {210, 208};
    r.m_ptCM = {320, 241};
    r.m_ptKiv = {55, 61};
    r.m_iKivValue = 200;
    return r;
}

void GenerateCsv(CZubDataFramesDlg& dialog, const QString& path)
{
    ZubDialogHooks().chooseFile = [path](QFileDialog&) { return path; };
    dialog.findChild<QPushButton*>("generateCsvButton")->click();
    ZubDialogHooks().chooseFile = nullptr;
}
}  // namespace

class CZubDataFramesDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void LinesAndCsv()
    {
        CZubMessageRecorder messages;
        CZubDoc doc;
        {
            CZubDataFramesDlg empty(doc);
            QCOMPARE(empty.windowTitle(), QString("Data frames"));
            QCOMPARE(empty.Lines(), QStringList({"No data.", "Process a file to see the frame's data."}));
            GenerateCsv(empty, "empty.csv");
            QCOMPARE(ZubReadText("empty.csv"), ZubFramesCsvHeader());
        }

        doc.m_pFrameData = {Frame12(), CZubCandidate(), Frame12()};
        doc.m_pFrameData[2].m_iKivState = ZUB_STATE_CLEARED;
        doc.m_pFrameData[2].m_iCRC = -5;
        doc.m_llFrames = 3;
        CZubDataFramesDlg dialog(doc);
        QCOMPARE(dialog.Lines(),
                 QStringList({"Frame   12  planet size: 210:208  CM: 320:241  Candidate pixel:  55: 61 (200) CRC: 0  ",
                              "Frame    0  planet size:   0:  0  CM:   0:  0  Candidate pixel:   0:  0 (  0) CRC: 0  ",
                              "Frame   12  planet size: 210:208  CM: 320:241  Candidate pixel:  55: 61 (200) CRC: -5  "
                              "Candidate: Cleared"}));

        // The save dialog's defaults: the name, the extension added to a bare name, the
        // overwrite prompt.
        bool bDefaults = false;
        ZubDialogHooks().chooseFile = [&](QFileDialog& save) {
            bDefaults = save.acceptMode() == QFileDialog::AcceptSave && save.defaultSuffix() == "csv" &&
                        save.selectedFiles().value(0).endsWith("/frames_data.csv") &&
                        !save.testOption(QFileDialog::DontConfirmOverwrite);
            return QString("frames.csv");
        };
        dialog.findChild<QPushButton*>("generateCsvButton")->click();
        ZubDialogHooks().chooseFile = nullptr;
        QVERIFY(bDefaults);
        QCOMPARE(ZubReadText("frames.csv"),
                 std::string("Frame number;Planet size X;Planet size Y;CM X;CM Y;Candidate pix-max X;"
                             "Candidate pix-max Y;Candidate pix-max;Candidate Candidate;CRC;\n"
                             "    12;210;208;320;241; 55; 61;200;;0\n"
                             "     0;  0;  0;  0;  0;  0;  0;  0;;0\n"
                             "    12;210;208;320;241; 55; 61;200;CLEARED;-5\n"));
        QVERIFY(messages.Take().isEmpty());

        GenerateCsv(dialog, "no-such-folder/frames.csv");
        GenerateCsv(dialog, "/dev/full");
        QCOMPARE(messages.Take(),
                 QStringList({"Can't open file no-such-folder/frames.csv.", "Can't write file /dev/full."}));
        QVERIFY(!ZubFileExists("no-such-folder/frames.csv"));
    }

    void RealSaveDialogAddsTheExtension()
    {
        CZubDoc doc;
        CZubDataFramesDlg dialog(doc);
        ZubOnNextModal([](QDialog& d) {
            auto* save = qobject_cast<QFileDialog*>(&d);
            QVERIFY(save);
            save->selectFile("chosen");
            static_cast<QDialog*>(save)->accept();
        });
        dialog.findChild<QPushButton*>("generateCsvButton")->click();
        QVERIFY(ZubFileExists("chosen.csv"));
    }

    void LinesOfARealRun()
    {
        CZubTestRun run;
        SZubSynthOptions o;
        o.iWidth = 240;
        o.iHeight = 180;
        o.iFrames = 90;
        o.seed = 5;
        o.flash.iFrame = 30;
        o.flash.dx = -15;
        o.flash.dy = 12;
        o.flash.peak = 70;
        o.flash.iDuration = 6;
        QVERIFY(run.Open(CZubTestRun::Synth("flash.ser", o)));
        CZubDataFramesDlg dialog(run.m_doc);
        const QStringList lines = dialog.Lines();
        QCOMPARE(lines.size(), 90);
        QVERIFY(lines[0].startsWith("Frame    1  planet size: "));
        QCOMPARE(lines.filter("Candidate: Detected").size(), 1);
        QVERIFY(ZubShowActive(dialog));
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubdataframesdlg.png")));
    }
};

ZUB_QTEST_MAIN(CZubDataFramesDlgTest)
#include "zubdataframesdlg_test.moc"
