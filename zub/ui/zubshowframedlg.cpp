#include "zubshowframedlg.h"

#include "ui_zubshowframedlg.h"
#include "zubbmpimage.h"
#include "zubframe.h"

#include <QScreen>
#include <QScrollBar>

CZubShowFrameDlg::CZubShowFrameDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubShowFrameDlg>())
{
    m_ui->setupUi(this);
}

CZubShowFrameDlg::~CZubShowFrameDlg() = default;

CZubBmpImage* CZubShowFrameDlg::Image() const
{
    return m_ui->image;
}

void CZubShowFrameDlg::SetTitle(const QString& title)
{
    setWindowTitle(title);
}

void CZubShowFrameDlg::ShowFrame(const CZubFrame& frame, bool bBottomUp)
{
    if (frame.m_iBits == FRAME_MONO16)
    {
        CZubFrame reduced;
        reduced.Create(frame.m_iWidth, frame.m_iHeight, FRAME_MONO8);
        reduced.ConvertTo8bpp(frame);
        m_ui->image->SetImage(&reduced, bBottomUp);
    }
    else
    {
        m_ui->image->SetImage(&frame, bBottomUp);
    }
    const QSize picture = m_ui->image->PictureSize();
    m_ui->image->setFixedSize(picture.isEmpty() ? QSize(1, 1) : picture);
}

void CZubShowFrameDlg::ShowFrameWithMask(const CZubFrame& frame, const CZubFrame& mask, bool bBottomUp)
{
    ShowFrame(frame, bBottomUp);
    m_ui->image->OverlayMask(mask);
}

void CZubShowFrameDlg::SetCenter(int x, int y)
{
    m_ui->image->SetCenter(x, y);
}

void CZubShowFrameDlg::showEvent(QShowEvent* event)
{
    FitToPicture();
    QDialog::showEvent(event);
    ScrollToCenter();
}

void CZubShowFrameDlg::ScrollToCenter()
{
    const SZubPoint center = m_ui->image->Center();
    if (center == SZubPoint{})
        return;
    layout()->activate();
    const QSize viewport = m_ui->scrollArea->viewport()->size();
    const QPoint at = m_ui->image->ScreenPoint(center);
    m_ui->scrollArea->ensureVisible(at.x(), at.y(),
                                    viewport.width() / 2, viewport.height() / 2);
}

void CZubShowFrameDlg::FitToPicture()
{
    const QMargins margins = layout()->contentsMargins();
    const int frameWidth = 2 * m_ui->scrollArea->frameWidth();
    const QSize picture = m_ui->image->size();
    const int buttonRow = layout()->spacing() + m_ui->closeButton->sizeHint().height();
    QSize wanted(picture.width() + frameWidth + margins.left() + margins.right(),
                 picture.height() + frameWidth + margins.top() + margins.bottom() + buttonRow);
    if (const QScreen* display = screen())
    {
        // Leave room for the window's frame; the scroll bars take over beyond that.
        const QSize room = display->availableGeometry().size() - QSize(32, 64);
        if (wanted.width() > room.width())
            wanted.rheight() += m_ui->scrollArea->horizontalScrollBar()->sizeHint().height();
        if (wanted.height() > room.height())
            wanted.rwidth() += m_ui->scrollArea->verticalScrollBar()->sizeHint().width();
        wanted = wanted.boundedTo(room);
    }
    resize(wanted.expandedTo(minimumSizeHint()));
}
