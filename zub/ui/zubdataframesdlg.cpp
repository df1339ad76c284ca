#include "zubdataframesdlg.h"

#include "ui_zubdataframesdlg.h"
#include "zubdataframes.h"
#include "zubdlgutil.h"
#include "zubdoc.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringListModel>

CZubDataFramesDlg::CZubDataFramesDlg(const CZubDoc& doc, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubDataFramesDlg>()), m_doc(doc)
{
    m_ui->setupUi(this);
    m_ui->framesList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    QStringList lines;
    for (std::string& line : ZubFramesList(doc.m_pFrameData.data(), doc.RecordCount()))
    {
        if (!line.empty() && line.back() == '\n')  // a list row shows no line end
            line.pop_back();
        lines.push_back(QString::fromStdString(line));
    }
    m_pLines = new QStringListModel(lines, this);
    m_ui->framesList->setModel(m_pLines);
    connect(m_ui->generateCsvButton, &QPushButton::clicked, this, &CZubDataFramesDlg::OnGenerateCsv);
}

CZubDataFramesDlg::~CZubDataFramesDlg() = default;

void CZubDataFramesDlg::RunCommand(const CZubDoc& doc, QWidget* parent)
{
    CZubDataFramesDlg dialog(doc, parent);
    dialog.exec();
}

QStringList CZubDataFramesDlg::Lines() const
{
    return m_pLines->stringList();
}

void CZubDataFramesDlg::OnGenerateCsv()
{
    const QString path = ZubChooseSaveFile(this, "frames_data", "csv", "All files (*)");
    if (path.isEmpty())
        return;
    std::string error;
    if (!ZubWriteFramesCsv(QFile::encodeName(path).toStdString(), m_doc.m_pFrameData.data(), m_doc.RecordCount(),
                           &error))
        ZubInfoBox(this, QString::fromLocal8Bit(error.c_str()));
}
