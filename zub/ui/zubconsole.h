// The log console: a modeless window that collects the log's console lines, visible or not.
// Closing it only hides it; its text stays until Clear.
#pragma once

#include <QDialog>

#include <memory>

class QPlainTextEdit;

namespace Ui
{
class CZubConsole;
}

class CZubConsole : public QDialog
{
    Q_OBJECT

public:
    explicit CZubConsole(QWidget* parent = nullptr);
    ~CZubConsole() override;

    // A line break, then the text, at the end; so the text starts with an empty line and
    // never ends with a break. On the UI thread only.
    void AppendLine(const QString& text);
    QString Text() const;
    QPlainTextEdit* TextBox() const;

    // Close, Escape and the title bar hide the window and report it.
    void done(int result) override;

signals:
    void ConsoleClosed();

private:
    std::unique_ptr<Ui::CZubConsole> m_ui;
};
