// Impact simulation: where, how bright and how long the synthetic flash is.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubSimulationDlg;
}

class CZubSimulationDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubSimulationDlg(QWidget* parent = nullptr);
    ~CZubSimulationDlg() override;

    // The command: runs the dialog, then writes "Simulation" whichever button closed it.
    static void RunCommand(QWidget* parent);

private:
    void OnOk();

    std::unique_ptr<Ui::CZubSimulationDlg> m_ui;
};
