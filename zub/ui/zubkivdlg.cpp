#include "zubkivdlg.h"

#include "ui_zubkivdlg.h"
#include "zubapp.h"
#include "zubdialogs.h"
#include "zubdlgutil.h"

namespace
{
const char* const kSection = "KIV_Algorithm";
}

CZubKivDlg::CZubKivDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CZubKivDlg>())
{
    m_ui->setupUi(this);
    ZubPrepareKeyedControls(this);
    // The mask size box starts enabled whatever the mask switch holds; clicks decide after.
    ZubLoadKeyedControls(this, kSection);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CZubKivDlg::OnOk);
    ZubOnFocusLeave(m_ui->listSizeEdit, [this] { OnListSizeLeft(); });
}

CZubKivDlg::~CZubKivDlg() = default;

void CZubKivDlg::RunCommand(QWidget* parent)
{
    CZubKivDlg dialog(parent);
    dialog.exec();
    ZubApp().WriteKivParams();
}

void CZubKivDlg::OnListSizeLeft()
{
    int size = 0;
    if (!ZubBoxInt(m_ui->listSizeEdit, size))
        return;
    if (const char* message = ZubLimitListSize(size))
    {
        ZubInfoBox(this, QString::fromUtf8(message));
        ZubSetBoxInt(m_ui->listSizeEdit, size);
    }
}

void CZubKivDlg::OnOk()
{
    if (!ZubCheckKeyedIntegers(this))
        return;
    int size = 0;
    if (ZubBoxInt(m_ui->listSizeEdit, size))
        ZubSetBoxInt(m_ui->listSizeEdit, ZubListSizeAtOk(size));
    ZubStoreKeyedControls(this, kSection);
    accept();
}
