// The four parameter dialogs: checks, enabling rules, OK and Cancel, and the settings file.
#include "zubdlgtest.h"

#include "zubapp.h"
#include "zubkivdlg.h"
#include "zuboptionsdlg.h"
#include "zubsimulationdlg.h"
#include "zubtestoptionsdlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

namespace
{
template <class T>
T* Find(QWidget& dialog, const char* name)
{
    T* w = dialog.findChild<T*>(name);
    if (!w)
        qFatal("no control %s", name);
    return w;
}

void Click(QWidget& dialog, const char* button)
{
    Find<QAbstractButton>(dialog, button)->click();
}

void Type(QWidget& dialog, const char* box, const QString& text)
{
    if (auto* spin = qobject_cast<QSpinBox*>(dialog.findChild<QWidget*>(box)))
        spin->findChild<QLineEdit*>()->setText(text);
    else
        Find<QLineEdit>(dialog, box)->setText(text);
}

QString Text(QWidget& dialog, const char* box)
{
    return Find<QLineEdit>(dialog, box)->text();
}

bool Enabled(QWidget& dialog, const char* name)
{
    return Find<QWidget>(dialog, name)->isEnabled();
}
}  // namespace

class CZubParamDlgsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { ZubApp().m_params = SZubParams::Defaults(); }

    void OptionsChecksAndEnabling()
    {
        CZubMessageRecorder messages;
        CZubOptionsDlg dialog;
        QCOMPARE(dialog.windowTitle(), QString("Zub - Options"));
        QVERIFY(ZubShowActive(dialog));
        QCOMPARE(Text(dialog, "factorBrightEdit"), QString("  0.900"));
        QCOMPARE(Text(dialog, "factorSizeEdit"), QString("  1.100"));
        QVERIFY(Enabled(dialog, "roiFramesEdit") && !Enabled(dialog, "widthEdit"));
        QVERIFY(Enabled(dialog, "darkFramesEdit") && !Enabled(dialog, "simulateButton"));
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zuboptionsdlg.png")));

        Click(dialog, "manualRoiRadio");
        QVERIFY(!Enabled(dialog, "factorSizeEdit") && !Enabled(dialog, "planetFilterEdit"));
        QVERIFY(Enabled(dialog, "widthEdit") && Enabled(dialog, "heightEdit"));
        Click(dialog, "autoRoiRadio");
        Click(dialog, "darkAllCheck");
        QVERIFY(!Enabled(dialog, "darkFramesEdit"));
        Click(dialog, "darkAllCheck");
        Click(dialog, "simulationCheck");
        QVERIFY(Enabled(dialog, "simulateButton") && ZubApp().m_params.Simulation);

        auto* filter = Find<QSpinBox>(dialog, "planetFilterEdit");
        QCOMPARE(filter->value(), 5);
        for (const int expected : {7, 9, 9})
        {
            filter->stepUp();
            QCOMPARE(filter->value(), expected);
        }
        filter->setValue(5);
        filter->stepDown();
        filter->stepDown();
        QCOMPARE(filter->value(), 1);
        Click(dialog, "manualRoiRadio");
        Type(dialog, "widthEdit", "");
        QTest::keyClicks(Find<QLineEdit>(dialog, "widthEdit"), "3-2x0");  // digits only
        QCOMPARE(Text(dialog, "widthEdit"), QString("320"));
        Click(dialog, "autoRoiRadio");

        QWidget* other = Find<QWidget>(dialog, "rejectEdit");
        Type(dialog, "factorBrightEdit", "1.5");
        ZubLeaveBox(Find<QWidget>(dialog, "factorBrightEdit"), other);
        Type(dialog, "factorSizeEdit", "0.8");
        ZubLeaveBox(Find<QWidget>(dialog, "factorSizeEdit"), other);
        QCOMPARE(messages.Take(), QStringList({"Value >1.0 will take full frame.", "Value <1.0 will clip the planet."}));
        QCOMPARE(Text(dialog, "factorBrightEdit"), QString("  1.500"));
        QCOMPARE(Text(dialog, "factorSizeEdit"), QString("  0.800"));

        auto* dark = Find<QSpinBox>(dialog, "darkFramesEdit");
        Type(dialog, "darkFramesEdit", "255");
        ZubLeaveBox(dark, other);
        QVERIFY(messages.Take().isEmpty());
        Type(dialog, "darkFramesEdit", "300");
        ZubLeaveBox(dark, other);
        QCOMPARE(messages.Take(), QStringList({"Limited to 255 frames."}));
        QCOMPARE(dark->value(), 255);

        Type(dialog, "rejectEdit", "twenty");
        Click(dialog, "okButton");
        QCOMPARE(messages.Take(), QStringList({"Escriba un entero."}));
        QVERIFY(dialog.isVisible() && Find<QWidget>(dialog, "rejectEdit")->hasFocus());
        QCOMPARE(ZubApp().m_params.ROIFactorBright, 0.9);

        // An emptied spin box keeps its empty text when the focus leaves it or Enter is pressed.
        Type(dialog, "rejectEdit", "20");
        QWidget* ok = Find<QWidget>(dialog, "okButton");
        for (const char* name : {"roiFramesEdit", "planetFilterEdit", "darkFramesEdit"})
        {
            auto* box = Find<QSpinBox>(dialog, name);
            Type(dialog, name, "");
            ZubLeaveBox(box, ok);
            Click(dialog, "okButton");
            QCOMPARE(messages.Take(), QStringList({"Escriba un entero."}));
            QVERIFY(dialog.isVisible() && box->hasFocus() && box->text().isEmpty());
            QTest::keyClick(box, Qt::Key_Return);
            QCOMPARE(messages.Take(), QStringList({"Escriba un entero."}));
            QVERIFY(dialog.isVisible());
            Type(dialog, name, "3");
        }
    }

    void OptionsWriteSettingsAfterEitherButton()
    {
        CZubMessageRecorder messages;
        ZubApp().m_bSilent = true;  // toggled on the toolbar
        ZubOnNextModal([](QDialog& d) {
            Find<QCheckBox>(d, "silentCheck")->setChecked(true);
            Click(d, "simulationCheck");
            // Both sub-dialogs write their sections when they close, by either button.
            ZubOnNextModal([](QDialog& kiv) {
                Type(kiv, "listSizeEdit", "30");
                Click(kiv, "cancelButton");
            });
            Click(d, "kivButton");
            ZubOnNextModal([](QDialog& sim) {
                QVERIFY(!Find<QLabel>(sim, "notActivatedLabel")->isVisibleTo(&sim));
                Click(sim, "cancelButton");
            });
            Click(d, "simulateButton");
            Click(d, "cancelButton");
        });
        CZubOptionsDlg::RunCommand(nullptr);
        const SZubParams& p = ZubApp().m_params;
        QVERIFY(!p.SilentMode && !ZubApp().m_bSilent && p.Simulation);
        QString ini = ZubSettingsText();
        QVERIFY(ini.contains("SilentMode=dword:0") && ini.contains("Simulation=dword:1"));
        QVERIFY(ini.contains("[KIV_Algorithm]") && ini.contains("ListSize=dword:20"));
        QVERIFY(ini.contains("[Simulation]") && ini.contains("FrameInitial=dword:50"));

        ZubOnNextModal([](QDialog& d) {
            Find<QCheckBox>(d, "silentCheck")->setChecked(true);
            Click(d, "manualRoiRadio");
            Click(d, "redRadio");
            Type(d, "factorBrightEdit", "0.75");
            Type(d, "widthEdit", "320");
            Click(d, "okButton");
        });
        CZubOptionsDlg::RunCommand(nullptr);
        QVERIFY(p.SilentMode && ZubApp().m_bSilent && p.ROIAutomatic == 0 && p.ROIManualWidth == 320);
        QVERIFY(p.ProcessAutoChannel == 1 && p.ROIFactorBright == 0.75);
        ini = ZubSettingsText();
        QVERIFY(ini.contains("ROIFactorBright=sz:  0.750") && ini.contains("ROIAutomatic=dword:0"));
        QVERIFY(!ini.contains("ProcessAutoChannel"));
        QVERIFY(messages.Take().isEmpty());

        // Factors no use can take: the nearest bound, or the default for one not a number.
        ZubOnNextModal([](QDialog& d) {
            Type(d, "factorBrightEdit", "1e300");
            Type(d, "factorSizeEdit", "nan");
            Click(d, "okButton");
        });
        CZubOptionsDlg::RunCommand(nullptr);
        QVERIFY(p.ROIFactorBright == 10.0 && p.ROIFactorSize == SZubParams::Defaults().ROIFactorSize);
    }

    void SearchParameters()
    {
        CZubMessageRecorder messages;
        ZubApp().m_params.Mask = false;
        CZubKivDlg dialog;
        QCOMPARE(dialog.windowTitle(), QString("Search impact parameters"));
        QVERIFY(ZubShowActive(dialog));
        QVERIFY(Enabled(dialog, "maskPixelsEdit"));  // whatever Mask holds
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubkivdlg.png")));
        Click(dialog, "maskCheck");
        Click(dialog, "maskCheck");
        QVERIFY(!Enabled(dialog, "maskPixelsEdit"));

        Type(dialog, "listSizeEdit", "150");
        ZubLeaveBox(Find<QWidget>(dialog, "listSizeEdit"), Find<QWidget>(dialog, "radiusSearchEdit"));
        QCOMPARE(messages.Take(), QStringList({"List size <= 100 elements."}));
        QCOMPARE(Text(dialog, "listSizeEdit"), QString("100"));

        Type(dialog, "minDetectionEdit", "");
        Click(dialog, "okButton");
        QCOMPARE(messages.Take(), QStringList({"Escriba un entero."}));
        Type(dialog, "minDetectionEdit", " 4 ");
        Type(dialog, "listSizeEdit", "150");  // confirmed with the focus still in the box
        Type(dialog, "zubThresholdEdit", "5");
        Click(dialog, "zubDetectionCheck");
        Click(dialog, "okButton");
        QVERIFY(messages.Take().isEmpty() && !dialog.isVisible());
        const SZubParams& p = ZubApp().m_params;
        QVERIFY(p.ListSize == 100 && p.MinDetection == 4 && !p.Mask);
        QVERIFY(!p.ZubDetection && p.ZubThreshold == 5);
    }

    void Simulation()
    {
        CZubSimulationDlg off;
        QCOMPARE(off.windowTitle(), QString("Zub Impact simulation"));
        QVERIFY(Find<QLabel>(off, "notActivatedLabel")->isVisibleTo(&off));
        QVERIFY(Find<QLabel>(off, "selectFromOptionsLabel")->isVisibleTo(&off));
        QVERIFY(ZubShowActive(off));
        QVERIFY(off.grab().save(ZubScreenshotPath("zubsimulationdlg.png")));
        Type(off, "xEdit", "-12");
        Type(off, "frameDurationEdit", "7");
        Click(off, "okButton");
        QVERIFY(ZubApp().m_params.RelativePositionX == -12 && ZubApp().m_params.FrameDuration == 7);

        ZubApp().m_params.Simulation = true;
        CZubSimulationDlg on;
        QVERIFY(!Find<QLabel>(on, "notActivatedLabel")->isVisibleTo(&on));
        QCOMPARE(Text(on, "xEdit"), QString("-12"));
    }

    void TestOptions()
    {
        CZubMessageRecorder messages;
        {
            CZubTestOptionsDlg dialog;
            QCOMPARE(dialog.windowTitle(), QString("Test options"));
            QVERIFY(!Enabled(dialog, "processFramesEdit") && !Enabled(dialog, "logFilenameEdit"));
            QVERIFY(!Enabled(dialog, "fromEdit") && !Enabled(dialog, "logFramesCheck"));
            Click(dialog, "limitCheck");
            Click(dialog, "logProcessCheck");
            QVERIFY(Enabled(dialog, "processFramesEdit") && Enabled(dialog, "logFlushCheck"));
            QVERIFY(!Enabled(dialog, "toEdit"));
            Click(dialog, "logFramesCheck");
            QVERIFY(Enabled(dialog, "toEdit") && Enabled(dialog, "logCsvCheck"));
            QVERIFY(ZubShowActive(dialog));
            QVERIFY(dialog.grab().save(ZubScreenshotPath("zubtestoptionsdlg.png")));
        }

        // An empty name is refused at OK; Cancel still closes.
        ZubApp().m_params.LogProcess = true;
        ZubApp().m_params.LogFilename = "first.log";
        ZubApp().m_log.LogText("to the first file");
        QVERIFY(ZubApp().m_log.IsFileOpen() || ZubFileExists("first.log"));
        ZubOnNextModal([](QDialog& d) {
            Type(d, "logFilenameEdit", "");
            Click(d, "okButton");
            QVERIFY(d.isVisible());
            Click(d, "cancelButton");
            QVERIFY(!d.isVisible());
        });
        CZubTestOptionsDlg::RunCommand(nullptr);
        QCOMPARE(messages.Take(), QStringList({"Must be not empty."}));
        QCOMPARE(ZubApp().m_params.LogFilename, std::string("first.log"));
        QVERIFY(ZubSettingsText().contains("LogFilename=sz:first.log"));

        // A new name: the next line goes to the new file.
        ZubOnNextModal([](QDialog& d) {
            Type(d, "logFilenameEdit", "second.log");
            Click(d, "okButton");
        });
        CZubTestOptionsDlg::RunCommand(nullptr);
        ZubApp().m_log.LogText("to the second file");
        ZubApp().m_log.CloseFile();
        QVERIFY(ZubReadText("second.log").find("to the second file") != std::string::npos);
        QVERIFY(ZubReadText("first.log").find("to the second file") == std::string::npos);
        QVERIFY(ZubSettingsText().contains("LogFilename=sz:second.log"));
    }
};

ZUB_QTEST_MAIN(CZubParamDlgsTest)
#include "zubparamdlgs_test.moc"
