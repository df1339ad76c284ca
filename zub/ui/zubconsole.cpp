#include "zubconsole.h"

#include "ui_zubconsole.h"

#include <QFontDatabase>
#include <QTextCursor>

CZubConsole::CZubConsole(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubConsole>())
{
    m_ui->setupUi(this);
    // Fixed pitch keeps the padded columns of the parameter dumps aligned.
    m_ui->text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

CZubConsole::~CZubConsole() = default;

QPlainTextEdit* CZubConsole::TextBox() const
{
    return m_ui->text;
}

QString CZubConsole::Text() const
{
    return m_ui->text->toPlainText();
}

void CZubConsole::AppendLine(const QString& text)
{
    // The caret goes to the end and the line is inserted there, so the box follows the
    // newest line; the text before it is never rewritten.
    QTextCursor cursor = m_ui->text->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(text);
    m_ui->text->setTextCursor(cursor);
    m_ui->text->ensureCursorVisible();
}

void CZubConsole::done(int result)
{
    QDialog::done(result);
    emit ConsoleClosed();
}
