// Driving the dialogs in tests: actions on the next modal dialog, message boxes recorded
// instead of shown, focus moved from box to box.
#pragma once

#include "zubdlgutil.h"
#include "zubuitest.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <functional>

// Runs `action` on the next modal dialog once it is up. A dialog the action leaves open is
// rejected, and when none comes up every open dialog is, so a test never hangs.
inline void ZubOnNextModal(std::function<void(QDialog&)> action, int triesLeft = 200)
{
    QTimer::singleShot(triesLeft == 200 ? 0 : 10, [action, triesLeft] {
        QPointer<QDialog> dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog && triesLeft > 0)
            return ZubOnNextModal(action, triesLeft - 1);
        if (!dialog)
        {
            qWarning("no modal dialog came up");
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* open = qobject_cast<QDialog*>(w); open && open->isVisible())
                    open->reject();
            return;
        }
        action(*dialog);
        if (dialog && dialog->isVisible())
            dialog->reject();
    });
}

// Message boxes of the dialogs, collected while it lives.
class CZubMessageRecorder
{
public:
    CZubMessageRecorder()
    {
        ZubDialogHooks().message = [this](QWidget*, const QString& text) { m_texts << text; };
    }
    ~CZubMessageRecorder() { ZubDialogHooks().message = nullptr; }
    // The messages since the last call.
    QStringList Take() { return std::exchange(m_texts, {}); }

private:
    QStringList m_texts;
};

// Shows the dialog and makes it the active window, so that focus moves as for a user.
inline bool ZubShowActive(QWidget& dialog)
{
    dialog.show();
    dialog.activateWindow();
    return QTest::qWaitForWindowActive(&dialog);
}

// The focus goes into `box`, then on to `next`.
inline void ZubLeaveBox(QWidget* box, QWidget* next)
{
    box->setFocus(Qt::TabFocusReason);
    next->setFocus(Qt::TabFocusReason);
}

inline QString ZubSettingsText()
{
    return QString::fromStdString(ZubReadText(std::getenv("ZUB_REGISTRY")));
}
