// General parameters: ROI, average image, channel, display switches, detection and
// simulation. The two detector and simulation dialogs open from its buttons.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubOptionsDlg;
}

class CZubOptionsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubOptionsDlg(QWidget* parent = nullptr);
    ~CZubOptionsDlg() override;

    // The command: runs the dialog, then, whichever button closed it, writes "Settings" and
    // sets the silent flag from the saved SilentMode.
    static void RunCommand(QWidget* parent);

private:
    void LoadControls();
    void ApplyEnabling();
    void OnOk();
    void OnSimulationClicked(bool bChecked);
    void OnFactorLeft(bool bBright);
    void OnDarkFramesLeft();

    std::unique_ptr<Ui::CZubOptionsDlg> m_ui;
};
