#include "zuboptionsdlg.h"

#include "ui_zuboptionsdlg.h"
#include "zubapp.h"
#include "zubdialogs.h"
#include "zubdlgutil.h"
#include "zubkivdlg.h"
#include "zubsimulationdlg.h"

namespace
{
const char* const kSection = "Settings";

// As the settings file's values: limited to what their use takes, and logged.
void StoreFactor(const char* key, const QLineEdit* box)
{
    std::string text = ZubFormatFactor(ZubParseFactor(box->text().toStdString()));
    text.erase(0, text.find_first_not_of(' '));
    std::string error;
    ZubApp().SetParam(kSection, key, text, error);
}

// A box and the label that names it are enabled together.
void EnableBox(QWidget* box, bool bEnabled)
{
    box->setEnabled(bEnabled);
    for (QLabel* label : box->window()->findChildren<QLabel*>())
        if (label->buddy() == box)
            label->setEnabled(bEnabled);
}
}  // namespace

CZubOptionsDlg::CZubOptionsDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubOptionsDlg>())
{
    m_ui->setupUi(this);
    ZubPrepareKeyedControls(this);
    m_ui->channelButtons->setId(m_ui->monoRadio, 0);
    m_ui->channelButtons->setId(m_ui->redRadio, 1);
    m_ui->channelButtons->setId(m_ui->greenRadio, 2);
    m_ui->channelButtons->setId(m_ui->blueRadio, 3);
    LoadControls();

    connect(m_ui->okButton, &QPushButton::clicked, this, &CZubOptionsDlg::OnOk);
    connect(m_ui->autoRoiRadio, &QRadioButton::clicked, this, &CZubOptionsDlg::ApplyEnabling);
    connect(m_ui->manualRoiRadio, &QRadioButton::clicked, this, &CZubOptionsDlg::ApplyEnabling);
    connect(m_ui->darkAllCheck, &QCheckBox::clicked, this, &CZubOptionsDlg::ApplyEnabling);
    connect(m_ui->simulationCheck, &QCheckBox::clicked, this, &CZubOptionsDlg::OnSimulationClicked);
    connect(m_ui->kivButton, &QPushButton::clicked, this, [this] { CZubKivDlg::RunCommand(this); });
    connect(m_ui->simulateButton, &QPushButton::clicked, this,
            [this] { CZubSimulationDlg::RunCommand(this); });
    ZubOnFocusLeave(m_ui->factorBrightEdit, [this] { OnFactorLeft(true); });
    ZubOnFocusLeave(m_ui->factorSizeEdit, [this] { OnFactorLeft(false); });
    ZubOnFocusLeave(m_ui->darkFramesEdit, [this] { OnDarkFramesLeft(); });
}

CZubOptionsDlg::~CZubOptionsDlg() = default;

void CZubOptionsDlg::RunCommand(QWidget* parent)
{
    CZubOptionsDlg dialog(parent);
    dialog.exec();
    CZubApp& app = ZubApp();
    app.WriteSettingsParams();
    app.m_bSilent = app.m_params.SilentMode;
}

void CZubOptionsDlg::LoadControls()
{
    const SZubParams& params = ZubApp().m_params;
    ZubLoadKeyedControls(this, kSection);
    (params.ROIAutomatic ? m_ui->autoRoiRadio : m_ui->manualRoiRadio)->setChecked(true);
    m_ui->factorBrightEdit->setText(QString::fromStdString(ZubFormatFactor(params.ROIFactorBright)));
    m_ui->factorSizeEdit->setText(QString::fromStdString(ZubFormatFactor(params.ROIFactorSize)));
    if (QAbstractButton* channel = m_ui->channelButtons->button(params.ProcessAutoChannel))
        channel->setChecked(true);
    ApplyEnabling();
}

void CZubOptionsDlg::ApplyEnabling()
{
    const SZubOptionsEnabling rule = ZubOptionsEnabling(
        m_ui->autoRoiRadio->isChecked(), m_ui->darkAllCheck->isChecked(), m_ui->simulationCheck->isChecked());
    for (QWidget* box : {static_cast<QWidget*>(m_ui->roiFramesEdit), static_cast<QWidget*>(m_ui->factorBrightEdit),
                         static_cast<QWidget*>(m_ui->factorSizeEdit), static_cast<QWidget*>(m_ui->planetFilterEdit)})
        EnableBox(box, rule.bAutoRoi);
    m_ui->factorBrightHint->setEnabled(rule.bAutoRoi);
    m_ui->factorSizeHint->setEnabled(rule.bAutoRoi);
    m_ui->planetFilterHint->setEnabled(rule.bAutoRoi);
    EnableBox(m_ui->widthEdit, rule.bManualRoi);
    EnableBox(m_ui->heightEdit, rule.bManualRoi);
    EnableBox(m_ui->darkFramesEdit, rule.bDarkFrames);
    m_ui->simulateButton->setEnabled(rule.bSimulateOptions);
}

void CZubOptionsDlg::OnSimulationClicked(bool bChecked)
{
    // Takes effect at once, even when the dialog is cancelled afterwards.
    ZubApp().m_params.Simulation = bChecked;
    ApplyEnabling();
}

void CZubOptionsDlg::OnFactorLeft(bool bBright)
{
    QLineEdit* box = bBright ? m_ui->factorBrightEdit : m_ui->factorSizeEdit;
    const double factor = ZubParseFactor(box->text().toStdString());
    box->setText(QString::fromStdString(ZubFormatFactor(factor)));
    if (const char* warning = bBright ? ZubCheckFactorBright(factor) : ZubCheckFactorSize(factor))
        ZubInfoBox(this, QString::fromUtf8(warning));
}

void CZubOptionsDlg::OnDarkFramesLeft()
{
    int frames = 0;
    if (!ZubBoxInt(m_ui->darkFramesEdit, frames))
        return;
    if (const char* message = ZubLimitDarkFrames(frames))
    {
        ZubInfoBox(this, QString::fromUtf8(message));
        ZubSetBoxInt(m_ui->darkFramesEdit, frames);
    }
}

void CZubOptionsDlg::OnOk()
{
    if (!ZubCheckKeyedIntegers(this))
        return;
    ZubStoreKeyedControls(this, kSection);
    SZubParams& params = ZubApp().m_params;
    params.ROIAutomatic = m_ui->autoRoiRadio->isChecked() ? 1 : 0;
    StoreFactor("ROIFactorBright", m_ui->factorBrightEdit);
    StoreFactor("ROIFactorSize", m_ui->factorSizeEdit);
    params.ProcessAutoChannel = std::max(m_ui->channelButtons->checkedId(), 0);
    accept();
}
