// The open dialog: the video's facts, and each choice as the document receives it.
#include "zubuitest.h"

#include "zubaviparamsdlg.h"
#include "zubdlgtest.h"
#include "zubrun.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <functional>

namespace
{
// Asks through the dialog, as the desktop program's shell does.
class CDialogShell : public CZubHeadlessShell
{
public:
    EZubVideoChoice ChooseVideoAction(SZubVideoParams& params) override
    {
        return CZubAviParamsDlg::Ask(params, nullptr);
    }
};

// Runs `answer` on the dialog once it is up.
void AnswerDialog(const std::function<void(CZubAviParamsDlg&)>& answer)
{
    ZubOnNextModal([answer](QDialog& modal) {
        auto* dialog = qobject_cast<CZubAviParamsDlg*>(&modal);
        QVERIFY(dialog);
        answer(*dialog);
    });
}

void Click(CZubAviParamsDlg& dialog, const char* name)
{
    dialog.findChild<QAbstractButton*>(name)->click();
}
}  // namespace

class CZubAviParamsDlgTest : public QObject
{
    Q_OBJECT

private slots:
    void EachChoiceReachesTheDocument()
    {
        CZubTestRun run;
        CDialogShell shell;
        shell.m_consoleSink = [&](const std::string& line) { run.m_lines.push_back(line); };
        ZubApp().SetShell(&shell);
        SZubSynthOptions options;
        options.iWidth = 96;
        options.iHeight = 64;
        options.iFrames = 20;
        const std::string path = CZubTestRun::Synth("choices.ser", options);

        // Process with the green channel; the facts are shown and the default is gray.
        AnswerDialog([&](CZubAviParamsDlg& dialog) {
            QCOMPARE(dialog.windowTitle(), QString("Avi Parameters"));
            auto text = [&](const char* name) { return dialog.findChild<QLineEdit*>(name)->text(); };
            QCOMPARE(text("fileName"), QString::fromStdString(path));
            QCOMPARE(text("frameWidth") + " X " + text("frameHeight"), QString("96 X 64"));
            QCOMPARE(text("frames"), QString("20"));
            QCOMPARE(text("subtype"), QString());
            QCOMPARE(text("fps"), QString("0"));
            QVERIFY(dialog.findChild<QLineEdit*>("fileName")->isReadOnly());
            QVERIFY(dialog.findChild<QRadioButton*>("channelGray")->isChecked());
            QVERIFY(dialog.findChild<QPushButton*>("processButton")->isDefault());
            QVERIFY(dialog.grab().save(ZubScreenshotPath("zubaviparamsdlg.png")));
            Click(dialog, "channelGreen");
            Click(dialog, "processButton");
        });
        QVERIFY(run.Open(path));
        QVERIFY(run.HasLine("Selected: PROCESS FILE."));
        QCOMPARE(run.m_doc.m_nChannel, 2);
        QVERIFY(run.HasLine("End fase: Find IMPACT."));

        AnswerDialog([](CZubAviParamsDlg& dialog) { Click(dialog, "playButton"); });
        QVERIFY(run.Open(path));
        QCOMPARE(run.m_lines.back(), std::string("Selected: PLAY FILE."));
        QCOMPARE(shell.m_playedVideos, std::vector<std::string>{path});

        AnswerDialog([](CZubAviParamsDlg& dialog) { Click(dialog, "cancelButton"); });
        QVERIFY(run.Open(path));
        QCOMPARE(run.m_lines.back(), std::string("Process cancelled."));
        QCOMPARE(shell.m_playedVideos.size(), size_t(1));
        ZubApp().SetShell(nullptr);
    }
};

ZUB_QTEST_MAIN(CZubAviParamsDlgTest)
#include "zubaviparamsdlg_test.moc"
