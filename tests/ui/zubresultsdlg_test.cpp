// The results dialog on the candidates of a real run: navigation, the strip at the edges of
// the video, the trackbar, the detection frame and the saved evidence.
#include "zubdlgtest.h"

#include "zubbmpimage.h"
#include "zubbmpimgresult.h"
#include "zubbmpphotometry.h"
#include "zubresultsdlg.h"
#include "zubrun.h"
#include "zubshowframedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <memory>

namespace
{
bool IsWhite(QWidget* w)
{
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return false;
    return true;
}

// "1" for a white thumbnail, "." for a picture, left to right.
QString Strip(QDialog& dialog)
{
    QString strip;
    for (int i = 0; i < 15; ++i)
        strip += IsWhite(dialog.findChild<QWidget*>(QString("thumb%1").arg(i))) ? "1" : ".";
    return strip;
}

QString Text(QDialog& dialog, const char* name)
{
    return dialog.findChild<QLineEdit*>(name)->text();
}

QAbstractButton* Button(QDialog& dialog, const char* name)
{
    return dialog.findChild<QAbstractButton*>(name);
}
}  // namespace

class CZubResultsDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_run = std::make_unique<CZubTestRun>();
        SZubSynthOptions o;
        o.iWidth = 240;
        o.iHeight = 180;
        o.iFrames = 90;
        o.seed = 5;
        o.flash.iFrame = 30;
        o.flash.iDuration = 6;
        o.flash.dx = -15;
        o.flash.dy = 12;
        o.flash.peak = 70;
        QVERIFY(m_run->Open(CZubTestRun::Synth("flash.ser", o)));
        QCOMPARE(m_run->m_doc.CandidateCount(), 1);
    }

    void cleanupTestCase() { m_run.reset(); }

    void OneCandidateStripAndTrackbar()
    {
        const CZubDoc& doc = m_run->m_doc;
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[0];
        const int f = impact.m_iFrame;
        const int n = doc.m_nProcessed;
        QVERIFY(f >= 30 && f < 36 && n == 90);

        CZubResultsDlg dialog(doc);
        QCOMPARE(dialog.windowTitle(), QString("Zub Results"));
        QCOMPARE(Text(dialog, "countEdit"), QString("1"));
        QVERIFY(!dialog.findChild<QComboBox*>("candidateCombo")->isEnabled());
        QVERIFY(!Button(dialog, "previousButton")->isEnabled() && !Button(dialog, "nextButton")->isEnabled());
        QCOMPARE(dialog.findChild<QComboBox*>("candidateCombo")->currentText(), QString("01-KIV"));
        QCOMPARE(Text(dialog, "detectedEdit"), QString::number(f));
        QCOMPARE(Text(dialog, "xEdit"), QString::number(impact.m_ptRel.x));
        QCOMPARE(Text(dialog, "algorithmEdit"), QString("KIV"));
        QCOMPARE(Text(dialog, "utcEdit"), QString::fromStdString(doc.m_pSer->FormatFrameUtc(f - 1)));
        QVERIFY(Text(dialog, "utcEdit").startsWith("2019-09-29 04:00:0"));
        QCOMPARE(Text(dialog, "valueEdit"), QString::number(impact.m_piPhotometry[f - 1]));
        QCOMPARE(Strip(dialog), QString("..............."));

        auto* slider = dialog.findChild<QSlider*>("frameSlider");
        auto* plot = dialog.findChild<CZubBmpPhotometry*>("profilePlot");
        QVERIFY(slider->minimum() == 1 && slider->maximum() == n && slider->value() == f);
        slider->setValue(3);
        QCOMPARE(Strip(dialog), QString("11111.........."));
        QVERIFY(Text(dialog, "frameEdit") == "3" && Text(dialog, "detectedEdit") == QString::number(f));
        QCOMPARE(Text(dialog, "valueEdit"), QString::number(impact.m_piPhotometry[2]));
        QCOMPARE(plot->MarkerX(), static_cast<int>(3 * (255.0 / n)));
        slider->setValue(n);
        QCOMPARE(Strip(dialog), QString("........1111111"));
        QCOMPARE(plot->MarkerX(), 255);

        slider->setValue(f);
        dialog.findChild<QCheckBox*>("circlesCheck")->click();
        const QImage thumb = dialog.findChild<QWidget*>("thumb7")->grab().toImage();
        QCOMPARE(thumb.pixel(16, 0), qRgb(0, 0, 0));  // the outer circle's top
        QVERIFY(ZubShowActive(dialog));
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubresultsdlg.png")));

        QVERIFY(Button(dialog, "showFrameButton")->isEnabled());
        ZubOnNextModal([&](QDialog& shown) {
            auto* frame = qobject_cast<CZubShowFrameDlg*>(&shown);
            QVERIFY(frame);
            QCOMPARE(frame->windowTitle(), QString("Candidate in frame %1").arg(f));
            QVERIFY(frame->Image()->Center() == impact.m_ptFrame);
            QCOMPARE(frame->Image()->PictureSize(), QSize(240, 180));
        });
        Button(dialog, "showFrameButton")->click();

        // The detection image of the run: the ROI, upright, the flash brighter than its rows.
        QVERIFY(Button(dialog, "showDetectionButton")->isEnabled());
        ZubOnNextModal([&](QDialog& shown) {
            auto* window = qobject_cast<CZubShowFrameDlg*>(&shown);
            QVERIFY(window && window->windowTitle() == "Detection image");
            QCOMPARE(window->Image()->PictureSize(), QSize(m_run->m_doc.m_sizeRoi.cx, m_run->m_doc.m_sizeRoi.cy));
        });
        Button(dialog, "showDetectionButton")->click();

        // The evidence: chosen through the save dialog, written as PNG.
        QString suggested;
        ZubDialogHooks().chooseFile = [&](QFileDialog& save) {
            suggested = save.selectedFiles().value(0);
            return QString("evidence.png");
        };
        Button(dialog, "saveImageButton")->click();
        ZubDialogHooks().chooseFile = nullptr;
        QVERIFY2(suggested.endsWith(QString("/candidate_01_frame_%1.png").arg(f)), qPrintable(suggested));
        const QImage evidence("evidence.png");
        QVERIFY(evidence.width() >= 15 * 32 && evidence.height() > 32 + 100);
        QVERIFY(evidence.save(ZubScreenshotPath("zubresultsdlg-evidence.png")));

        // The report of this video into a folder of the user's: the page and its pictures.
        const QString limit = dialog.findChild<QLabel*>("limitLabel")->text();
        QVERIFY2(limit.startsWith("Detection limit: ") && limit.endsWith("% of the disc searched."), qPrintable(limit));
        QDir().mkpath("report");
        CZubMessageRecorder messages;
        ZubDialogHooks().chooseFile = [](QFileDialog&) { return QString("report"); };
        Button(dialog, "saveReportButton")->click();
        ZubDialogHooks().chooseFile = nullptr;
        QCOMPARE(messages.Take(), QStringList({"Report written: report/index.html"}));
        QCOMPARE(QDir("report").entryList(QDir::Files).size(), 4);
        QVERIFY(ZubReadText("report/index.html").find("<h2>flash.ser</h2>") != std::string::npos);
    }

    void NavigationAndSlotsWithoutData()
    {
        CZubDoc& doc = m_run->m_doc;
        CZubCandidateList& list = *doc.m_pCandidates;
        const int n = doc.m_nProcessed;
        // A slot whose arrays could not be allocated, and one found in the last frame.
        list.m_aImpacts[1].m_iFrame = 10;
        list.m_aImpacts[1].m_iAlgorithm = 2;
        CZubImpact& last = list.m_aImpacts[2];
        last.m_iFrame = n;
        last.m_iAlgorithm = 9;
        QVERIFY(last.Allocate(n));
        std::fill(last.m_piPhotometry.get(), last.m_piPhotometry.get() + n, 5);
        last.m_pPatches = list.m_aImpacts[0].m_pPatches;  // the patches the run kept for slot 0
        last.m_iSlot = 0;
        last.m_nPatchPixelBytes = list.m_aImpacts[0].m_nPatchPixelBytes;
        list.m_iCount = 3;

        CZubMessageRecorder messages;
        CZubResultsDlg dialog(doc);
        auto* combo = dialog.findChild<QComboBox*>("candidateCombo");
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(2), QString("03-???"));
        Button(dialog, "previousButton")->click();  // the first wraps to the last
        QCOMPARE(dialog.SelectedIndex(), 2);
        QCOMPARE(combo->currentIndex(), 2);
        QCOMPARE(dialog.CurrentFrame(), n);  // the slot's own detection frame
        QCOMPARE(Strip(dialog), QString("........1111111"));
        // Its own photometry, 5 in every frame: a flat profile at mid height (an empty one is 0).
        QCOMPARE(dialog.findChild<CZubBmpPhotometry*>("profilePlot")->Value(0), 50);
        QCOMPARE(dialog.findChild<CZubBmpPhotometry*>("profilePlot")->Value(200), 50);
        Button(dialog, "nextButton")->click();  // the last wraps to the first
        QCOMPARE(dialog.SelectedIndex(), 0);
        QVERIFY(Button(dialog, "showFrameButton")->isEnabled());

        combo->setCurrentIndex(1);
        QVERIFY(dialog.SelectedIndex() == 1 && dialog.CurrentFrame() == 10);
        QCOMPARE(Strip(dialog), QString("111111111111111"));
        QCOMPARE(Text(dialog, "valueEdit"), QString());  // no photometry: no value
        QCOMPARE(Text(dialog, "algorithmEdit"), QString("ZUB"));
        QVERIFY(!Button(dialog, "showFrameButton")->isEnabled());  // never reached its frame
        dialog.findChild<QSlider*>("frameSlider")->setValue(n);
        QCOMPARE(Text(dialog, "valueEdit"), QString());
        QVERIFY(messages.Take().isEmpty());

        list.m_iCount = 0;
        CZubResultsDlg::RunCommand(doc, nullptr);  // nothing to show: returns at once
        list.m_iCount = 1;
    }

private:
    std::unique_ptr<CZubTestRun> m_run;
};

ZUB_QTEST_MAIN(CZubResultsDlgTest)
#include "zubresultsdlg_test.moc"
