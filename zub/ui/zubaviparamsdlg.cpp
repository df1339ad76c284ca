#include "zubaviparamsdlg.h"

#include "ui_zubaviparamsdlg.h"

#include <QPushButton>

CZubAviParamsDlg::CZubAviParamsDlg(const SZubVideoParams& params, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubAviParamsDlg>())
{
    m_ui->setupUi(this);
    m_ui->fileName->setText(QString::fromStdString(params.csFileName));
    m_ui->fileName->setCursorPosition(0);
    m_ui->frameWidth->setText(QString::number(params.iWidth));
    m_ui->frameHeight->setText(QString::number(params.iHeight));
    m_ui->frames->setText(QString::number(params.llFrames));
    m_ui->subtype->setText(QString::fromStdString(params.csSubtype));
    m_ui->fps->setText(QString::number(params.iFps));
    connect(m_ui->playButton, &QPushButton::clicked, this, [this] {
        m_bPlay = true;
        accept();
    });
}

CZubAviParamsDlg::~CZubAviParamsDlg() = default;

int CZubAviParamsDlg::Channel() const
{
    const QRadioButton* buttons[] = {m_ui->channelGray, m_ui->channelRed, m_ui->channelGreen, m_ui->channelBlue};
    for (int i = 0; i < 4; ++i)
        if (buttons[i]->isChecked())
            return i;
    return 0;
}

EZubVideoChoice CZubAviParamsDlg::Ask(SZubVideoParams& params, QWidget* parent)
{
    CZubAviParamsDlg dialog(params, parent);
    if (dialog.exec() != QDialog::Accepted)
        return EZubVideoChoice::Cancel;
    if (dialog.PlayChosen())
        return EZubVideoChoice::Play;
    params.nChannel = dialog.Channel();
    return EZubVideoChoice::Process;
}
