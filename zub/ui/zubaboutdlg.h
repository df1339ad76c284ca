// The about box: the program's name and version, what it does and when it was built.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubAboutDlg;
}

class CZubAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubAboutDlg(QWidget* parent = nullptr);
    ~CZubAboutDlg() override;

private:
    std::unique_ptr<Ui::CZubAboutDlg> m_ui;
};
