#include "zubtestoptionsdlg.h"

#include "ui_zubtestoptionsdlg.h"
#include "zubapp.h"
#include "zubdialogs.h"
#include "zubdlgutil.h"

namespace
{
const char* const kSection = "Test";
}

CZubTestOptionsDlg::CZubTestOptionsDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubTestOptionsDlg>())
{
    m_ui->setupUi(this);
    ZubPrepareKeyedControls(this);
    ZubLoadKeyedControls(this, kSection);
    m_ui->logFilenameEdit->setText(QString::fromStdString(ZubApp().m_params.LogFilename));
    ApplyEnabling();

    connect(m_ui->okButton, &QPushButton::clicked, this, &CZubTestOptionsDlg::OnOk);
    for (QCheckBox* box : {m_ui->limitCheck, m_ui->saveIntermediateCheck, m_ui->logProcessCheck, m_ui->logFramesCheck})
        connect(box, &QCheckBox::clicked, this, &CZubTestOptionsDlg::ApplyEnabling);
}

CZubTestOptionsDlg::~CZubTestOptionsDlg() = default;

void CZubTestOptionsDlg::RunCommand(QWidget* parent)
{
    CZubApp& app = ZubApp();
    const SZubParams before = app.m_params;
    CZubTestOptionsDlg dialog(parent);
    dialog.exec();
    app.WriteTestParams();
    if (ZubLogFileChanged(before, app.m_params))
        app.m_log.CloseFile();
}

void CZubTestOptionsDlg::ApplyEnabling()
{
    const SZubTestEnabling rule =
        ZubTestEnabling(m_ui->limitCheck->isChecked(), m_ui->saveIntermediateCheck->isChecked(),
                        m_ui->logProcessCheck->isChecked(), m_ui->logFramesCheck->isChecked());
    m_ui->processFramesLabel->setEnabled(rule.bProcessFrames);
    m_ui->processFramesEdit->setEnabled(rule.bProcessFrames);
    m_ui->frameNumberLabel->setEnabled(rule.bFrameNumber);
    m_ui->frameNumberEdit->setEnabled(rule.bFrameNumber);
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->logFilenameLabel, m_ui->logFilenameEdit, m_ui->logFlushCheck,
                                                      m_ui->logResetCheck, m_ui->logDetailsCheck, m_ui->logFramesCheck})
        w->setEnabled(rule.bLogFile);
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->fromLabel, m_ui->fromEdit, m_ui->toLabel, m_ui->toEdit,
                                                      m_ui->logCsvCheck})
        w->setEnabled(rule.bLogRange);
}

void CZubTestOptionsDlg::OnOk()
{
    // An empty name is refused here rather than when the box is left, so that the focus
    // is never held in the box and Cancel always closes.
    const std::string name = m_ui->logFilenameEdit->text().toStdString();
    if (const char* message = ZubCheckLogFilename(name, m_ui->logProcessCheck->isChecked()))
    {
        ZubInfoBox(this, QString::fromUtf8(message));
        m_ui->logFilenameEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!ZubCheckKeyedIntegers(this))
        return;
    ZubStoreKeyedControls(this, kSection);
    // With the log file off an empty box keeps the name it had.
    if (name.find_first_not_of(" \t") != std::string::npos)
        ZubApp().m_params.LogFilename = name;
    accept();
}
