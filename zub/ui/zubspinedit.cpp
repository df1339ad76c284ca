#include "zubspinedit.h"

#include "zubdialogs.h"

#include <QKeyEvent>
#include <QLineEdit>

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

bool CZubSpinEdit::HoldsInteger() const
{
    int value = 0;
    return ZubParseDialogInt(cleanText().toStdString(), value);
}

void CZubSpinEdit::focusOutEvent(QFocusEvent* event)
{
    if (HoldsInteger())
        return QSpinBox::focusOutEvent(event);
    lineEdit()->event(event);
    QWidget::focusOutEvent(event);
}

void CZubSpinEdit::keyPressEvent(QKeyEvent* event)
{
    // Enter goes on to the dialog's default button, whose check names the box.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !HoldsInteger())
        return event->ignore();
    QSpinBox::keyPressEvent(event);
}
