// The video's facts at open, and the choice of what to do with it: process it with a channel,
// play it, or cancel.
#pragma once

#include "zubapp.h"

#include <QDialog>

#include <memory>

namespace Ui
{
class CZubAviParamsDlg;
}

class CZubAviParamsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubAviParamsDlg(const SZubVideoParams& params, QWidget* parent = nullptr);
    ~CZubAviParamsDlg() override;

    // Runs the dialog modally; fills params.nChannel when the answer is Process.
    static EZubVideoChoice Ask(SZubVideoParams& params, QWidget* parent);

    // 0 gray, 1 red, 2 green, 3 blue.
    int Channel() const;
    bool PlayChosen() const { return m_bPlay; }

private:
    std::unique_ptr<Ui::CZubAviParamsDlg> m_ui;
    bool m_bPlay = false;
};
