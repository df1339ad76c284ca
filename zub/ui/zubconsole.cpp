#include "zubconsole.h"

#include "ui_zubconsole.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextCursor>
#include <QThread>

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
    Q_ASSERT(QThread::currentThread() == thread());
    // The caret goes to the end and the line is inserted there; the text before it is never
    // rewritten. The box then follows the newest line and shows the lines' beginnings.
    QTextCursor cursor = m_ui->text->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(text);
    m_ui->text->setTextCursor(cursor);
    m_ui->text->verticalScrollBar()->setValue(m_ui->text->verticalScrollBar()->maximum());
    m_ui->text->horizontalScrollBar()->setValue(0);
}

void CZubConsole::done(int result)
{
    QDialog::done(result);
    emit ConsoleClosed();
}
