#include "zubspinedit.h"

#include "zubdialogs.h"

CZubSpinEdit::CZubSpinEdit(QWidget* parent) : QSpinBox(parent)
{
}

void CZubSpinEdit::stepBy(int steps)
{
    setValue(ZubSpinStep(value(), steps, singleStep(), m_iSpinMin, m_iSpinMax));
    selectAll();
}

QAbstractSpinBox::StepEnabled CZubSpinEdit::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (value() < m_iSpinMax)
        enabled |= StepUpEnabled;
    if (value() > m_iSpinMin)
        enabled |= StepDownEnabled;
    return enabled;
}
