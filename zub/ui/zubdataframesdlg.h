// The per-frame data records of the document, one line per frame, and their export as a
// semicolon-separated file.
#pragma once

#include <QDialog>

#include <memory>

class CZubDoc;
class QStringListModel;

namespace Ui
{
class CZubDataFramesDlg;
}

class CZubDataFramesDlg : public QDialog
{
    Q_OBJECT

public:
    CZubDataFramesDlg(const CZubDoc& doc, QWidget* parent = nullptr);
    ~CZubDataFramesDlg() override;

    // The command: runs the dialog.
    static void RunCommand(const CZubDoc& doc, QWidget* parent);

    QStringList Lines() const;

private:
    void OnGenerateCsv();

    std::unique_ptr<Ui::CZubDataFramesDlg> m_ui;
    const CZubDoc& m_doc;
    QStringListModel* m_pLines = nullptr;
};
