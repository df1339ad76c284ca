#include "zubdlgutil.h"

#include "zubapp.h"
#include "zubdialogs.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace
{
const char* const kKeyProperty = "zubKey";

class CZubFocusLeaveFilter : public QObject
{
public:
    CZubFocusLeaveFilter(QObject* parent, std::function<void()> check)
        : QObject(parent), m_check(std::move(check))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A box losing the focus as its hidden dialog is destroyed checks nothing: the
        // dialog's own part is gone by then.
        const auto* box = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::FocusOut && box && box->window()->isVisible())
        {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_check();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_check;
};

QList<QWidget*> KeyedControls(QWidget* form)
{
    QList<QWidget*> controls;
    for (QWidget* w : form->findChildren<QWidget*>())
        if (w->property(kKeyProperty).isValid())
            controls.push_back(w);
    return controls;
}

std::string KeyOf(const QWidget* w)
{
    return w->property(kKeyProperty).toString().toStdString();
}
}  // namespace

SZubDialogHooks& ZubDialogHooks()
{
    static SZubDialogHooks hooks;
    return hooks;
}

void ZubInfoBox(QWidget* parent, const QString& text)
{
    if (ZubDialogHooks().message)
        ZubDialogHooks().message(parent, text);
    else
        QMessageBox::information(parent, QStringLiteral("Zub"), text);
}

QString ZubChooseSaveFile(QWidget* parent, const QString& defaultName, const QString& suffix,
                          const QString& filter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilter(filter);
    dialog.selectFile(defaultName);
    if (ZubDialogHooks().chooseFile)
        return ZubDialogHooks().chooseFile(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString ZubChooseFolder(QWidget* parent, const QString& caption)
{
    QFileDialog dialog(parent, caption);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (ZubDialogHooks().chooseFile)
        return ZubDialogHooks().chooseFile(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void ZubOnFocusLeave(QWidget* box, std::function<void()> check)
{
    QWidget* target = box->focusProxy() ? box->focusProxy() : box;
    target->installEventFilter(new CZubFocusLeaveFilter(box, std::move(check)));
}

bool ZubBoxInt(const QWidget* box, int& value)
{
    if (const auto* spin = qobject_cast<const QSpinBox*>(box))
        return ZubParseDialogInt(spin->cleanText().toStdString(), value);
    if (const auto* edit = qobject_cast<const QLineEdit*>(box))
        return ZubParseDialogInt(edit->text().toStdString(), value);
    return false;
}

void ZubSetBoxInt(QWidget* box, int value)
{
    if (auto* spin = qobject_cast<QSpinBox*>(box))
        spin->setValue(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(box))
        edit->setText(QString::number(value));
}

void ZubPrepareKeyedControls(QWidget* form)
{
    for (QLineEdit* edit : form->findChildren<QLineEdit*>())
        if (edit->property("zubDigitsOnly").toBool())
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
}

void ZubLoadKeyedControls(QWidget* form, const char* section)
{
    for (QWidget* w : KeyedControls(form))
    {
        std::string text;
        if (!ZubApp().GetParam(section, KeyOf(w), text))
            continue;
        int value = 0;
        if (!ZubParseDialogInt(text, value))
            continue;
        if (auto* check = qobject_cast<QCheckBox*>(w))
            check->setChecked(value != 0);
        else
            ZubSetBoxInt(w, value);
    }
}

bool ZubCheckKeyedIntegers(QWidget* form)
{
    for (QWidget* w : KeyedControls(form))
    {
        int value = 0;
        if (qobject_cast<QAbstractButton*>(w) || ZubBoxInt(w, value))
            continue;
        ZubInfoBox(form, QStringLiteral("Escriba un entero."));
        w->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->selectAll();
        else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
            spin->selectAll();
        return false;
    }
    return true;
}

void ZubStoreKeyedControls(QWidget* form, const char* section)
{
    for (QWidget* w : KeyedControls(form))
    {
        int value = 0;
        if (auto* check = qobject_cast<QCheckBox*>(w))
            value = check->isChecked() ? 1 : 0;
        else if (!ZubBoxInt(w, value))
            continue;
        std::string error;
        if (!ZubApp().SetParam(section, KeyOf(w), std::to_string(value), error))
            ZubTrace("%s", error.c_str());
    }
}
