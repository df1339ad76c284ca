// Search impact parameters: the detectors' settings. Every row of its form names the key
// it edits, so a further setting is a further row of the form.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubKivDlg;
}

class CZubKivDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubKivDlg(QWidget* parent = nullptr);
    ~CZubKivDlg() override;

    // The command: runs the dialog, then writes "KIV_Algorithm" whichever button closed it.
    static void RunCommand(QWidget* parent);

private:
    void OnListSizeLeft();
    void OnOk();

    std::unique_ptr<Ui::CZubKivDlg> m_ui;
};
