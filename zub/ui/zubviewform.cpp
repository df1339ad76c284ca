#include "zubviewform.h"

#include "ui_zubviewform.h"
#include "zubbmphisto.h"
#include "zubbmpimage.h"
#include "zubview.h"

#include <QScrollBar>
#include <QTextCursor>

// The core view with its repaint hooks turned into the form's updates.
class CZubViewForm::CFormView : public CZubView
{
public:
    CFormView(CZubDoc& doc, CZubViewForm& form) : CZubView(doc), m_form(form) {}

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        struct SDepth
        {
            int& depth;
            explicit SDepth(int& d) : depth(d) { ++depth; }
            ~SDepth() { --depth; }
        };
        LRESULT result;
        {
            SDepth inHandler(m_iDepth);
            result = CZubView::WindowProc(msg, wParam, lParam);
        }
        if (m_iDepth == 0)
            emit m_form.HandlersReturned();
        return result;
    }

    int m_iDepth = 0;

protected:
    void OnImageCleared() override { m_form.ClearImage(); }
    void OnFieldsChanged(bool bImage, bool bEraseBackground) override
    {
        m_form.ShowFields(bImage, bEraseBackground);
    }
    void OnLogLine(const std::string& text) override { m_form.AppendMessage(text); }
    void OnRunStateChanged() override { emit m_form.RunStateChanged(); }
    void OnOtherCommand(UINT id) override { emit m_form.OtherCommand(id); }

private:
    CZubViewForm& m_form;
};

CZubViewForm::CZubViewForm(CZubDoc& doc, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::CZubViewForm>())
{
    m_ui->setupUi(this);
    // The view box has no length limit of its own.
    m_ui->editMessages->setMaximumBlockCount(0);
    m_ui->image->SetCrop(true);
    m_pView = std::make_unique<CFormView>(doc, *this);
    ShowFields(false, false);
}

CZubViewForm::~CZubViewForm() = default;

CZubView& CZubViewForm::View() const
{
    return *m_pView;
}

CZubBmpImage* CZubViewForm::Image() const
{
    return m_ui->image;
}

CZubBmpHisto* CZubViewForm::Histogram() const
{
    return m_ui->histogram;
}

QPlainTextEdit* CZubViewForm::Messages() const
{
    return m_ui->editMessages;
}

int CZubViewForm::HandlerDepth() const
{
    return m_pView->m_iDepth;
}

void CZubViewForm::ClearImage()
{
    m_ui->image->SetImage(nullptr, false);
    m_ui->image->update();
    m_ui->histogram->ClearHistogram();
}

void CZubViewForm::ShowFields(bool bImage, bool bEraseBackground)
{
    const CZubView& view = *m_pView;
    m_ui->editFrame->setText(QString::number(view.m_nFrameNumber));
    m_ui->editTotal->setText(QString::number(view.m_nFrames));
    m_ui->editCenterX->setText(QString::number(view.m_ptCM.x));
    m_ui->editCenterY->setText(QString::number(view.m_ptCM.y));
    m_ui->editSizeX->setText(QString::number(view.m_sizePlanet.cx));
    m_ui->editSizeY->setText(QString::number(view.m_sizePlanet.cy));
    const QString fileName = QString::fromStdString(view.m_csFileName);
    if (m_ui->editFileName->text() != fileName)
        m_ui->editFileName->setText(fileName);
    if (!bImage)
        return;
    m_ui->image->SetImage(&view.m_frameImage, m_pView->GetDocument().RowsBottomUp());
    m_ui->image->SetMark(view.m_record);
    m_ui->image->update();
    // Erasing the plot's background takes its bars away until the next frame's histogram.
    if (view.m_bHistoEmpty || bEraseBackground)
        m_ui->histogram->ClearHistogram();
    else
    {
        m_ui->histogram->SetHistogram(view.m_aHisto.data());
        m_ui->histogram->update();
    }
}

void CZubViewForm::AppendMessage(const std::string& text)
{
    // A line break, then the line, at the end of the box; the box follows the newest line.
    QTextCursor cursor(m_ui->editMessages->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(QString::fromStdString(text));
    QScrollBar* bar = m_ui->editMessages->verticalScrollBar();
    bar->setValue(bar->maximum());
}
