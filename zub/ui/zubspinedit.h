// An integer box with spin buttons. The buttons keep to their own range and step; a typed
// value outside that range stays as typed, and so does text that is no integer (an emptied
// box), so that the dialog's checks can see it.
#pragma once

#include <QSpinBox>

class CZubSpinEdit : public QSpinBox
{
    Q_OBJECT
    Q_PROPERTY(int spinMinimum READ SpinMinimum WRITE setSpinMinimum)
    Q_PROPERTY(int spinMaximum READ SpinMaximum WRITE setSpinMaximum)

public:
    explicit CZubSpinEdit(QWidget* parent = nullptr);

    int SpinMinimum() const { return m_iSpinMin; }
    int SpinMaximum() const { return m_iSpinMax; }
    // Named as the form compiler calls them.
    void setSpinMinimum(int value) { m_iSpinMin = value; }
    void setSpinMaximum(int value) { m_iSpinMax = value; }

    // One press moves the value by singleStep within the spin range.
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    // A spin box puts its last value back when it loses the focus or takes Enter.
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool HoldsInteger() const;

    int m_iSpinMin = 0;
    int m_iSpinMax = 99;
};
