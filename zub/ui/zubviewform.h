// The view that fills the main window: the file name, the frame counters, the planet's
// centre and size, the current frame with its mark, the histogram and the "Messages" box.
// The core view paces the run; this form draws what it reports.
#pragma once

#include "zubwnd.h"

#include <QWidget>

#include <memory>
#include <string>

class CZubBmpHisto;
class CZubBmpImage;
class CZubDoc;
class CZubView;
class QPlainTextEdit;

namespace Ui
{
class CZubViewForm;
}

class CZubViewForm : public QWidget
{
    Q_OBJECT

public:
    explicit CZubViewForm(CZubDoc& doc, QWidget* parent = nullptr);
    ~CZubViewForm() override;

    CZubView& View() const;
    CZubBmpImage* Image() const;
    CZubBmpHisto* Histogram() const;
    QPlainTextEdit* Messages() const;

    // Messages the view is handling right now, nested ones included: above 0 while a SER
    // pass loop (or a dialog opened by a handler) is on the stack.
    int HandlerDepth() const;

signals:
    // The run's state changed: the menus and the toolbar refresh their enabling.
    void RunStateChanged();
    // A command the document does not handle (the results command at the end of a run).
    void OtherCommand(unsigned id);
    // The last handler on the stack returned.
    void HandlersReturned();

private:
    class CFormView;
    friend class CFormView;

    void ClearImage();
    void ShowFields(bool bImage, bool bEraseBackground);
    void AppendMessage(const std::string& text);

    std::unique_ptr<Ui::CZubViewForm> m_ui;
    std::unique_ptr<CFormView> m_pView;
};
