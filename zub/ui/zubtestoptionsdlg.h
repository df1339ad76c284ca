// Test options: frame limit, intermediate bitmaps and the log.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubTestOptionsDlg;
}

class CZubTestOptionsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubTestOptionsDlg(QWidget* parent = nullptr);
    ~CZubTestOptionsDlg() override;

    // The command: runs the dialog, then writes "Test" whichever button closed it. A changed
    // log file name or log switch closes the open log file, so the next line goes to the
    // file now chosen.
    static void RunCommand(QWidget* parent);

private:
    void ApplyEnabling();
    void OnOk();

    std::unique_ptr<Ui::CZubTestOptionsDlg> m_ui;
};
