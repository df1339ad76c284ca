#include "zubsimulationdlg.h"

#include "ui_zubsimulationdlg.h"
#include "zubapp.h"
#include "zubdlgutil.h"

namespace
{
const char* const kSection = "Simulation";
}

CZubSimulationDlg::CZubSimulationDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubSimulationDlg>())
{
    m_ui->setupUi(this);
    ZubPrepareKeyedControls(this);
    ZubLoadKeyedControls(this, kSection);
    const bool bOff = !ZubApp().m_params.Simulation;
    m_ui->notActivatedLabel->setVisible(bOff);
    m_ui->selectFromOptionsLabel->setVisible(bOff);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CZubSimulationDlg::OnOk);
}

CZubSimulationDlg::~CZubSimulationDlg() = default;

void CZubSimulationDlg::RunCommand(QWidget* parent)
{
    CZubSimulationDlg dialog(parent);
    dialog.exec();
    ZubApp().WriteSimulationParams();
}

void CZubSimulationDlg::OnOk()
{
    if (!ZubCheckKeyedIntegers(this))
        return;
    ZubStoreKeyedControls(this, kSection);
    accept();
}
