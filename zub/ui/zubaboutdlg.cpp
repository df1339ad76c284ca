#include "zubaboutdlg.h"

#include "ui_zubaboutdlg.h"

#include <QDate>
#include <QLocale>

#ifndef ZUB_VERSION
#define ZUB_VERSION "0.0"
#endif

CZubAboutDlg::CZubAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CZubAboutDlg>())
{
    m_ui->setupUi(this);
    m_ui->labelTitle->setText(m_ui->labelTitle->text().arg(ZUB_VERSION));
    const QDate built = QLocale::c().toDate(QString(__DATE__).simplified(), "MMM d yyyy");
    m_ui->labelBuild->setText(m_ui->labelBuild->text().arg(built.toString(Qt::ISODate)));
    setFixedSize(sizeHint());
}

CZubAboutDlg::~CZubAboutDlg() = default;
