#include "zubplay.h"

#include "ui_zubplay.h"
#include "zubapp.h"
#include "zubplayimg.h"

#ifdef ZUB_HAVE_FFMPEG
#include "zubffmpegplayer.h"
#endif

#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFrame>

namespace
{
// Room for seven digits: a long video's frame numbers are never cut to their last digits.
constexpr int kCounterDigits = 7;

void FitCounter(QLineEdit* counter)
{
    QStyleOptionFrame option;
    option.initFrom(counter);
    option.lineWidth = counter->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, counter);
    const QFontMetrics metrics = counter->fontMetrics();
    const QMargins text = counter->textMargins();
    const QMargins contents = counter->contentsMargins();
    // The line edit keeps 2 pixels of its own on each side of the text.
    const QSize inner(metrics.horizontalAdvance(QString(kCounterDigits, '0')) + 4 + text.left() + text.right() +
                          contents.left() + contents.right(),
                      metrics.height());
    counter->setFixedWidth(counter->style()->sizeFromContents(QStyle::CT_LineEdit, &option, inner, counter).width());
}

ZubPlayerFactory MediaFactory()
{
#ifdef ZUB_HAVE_FFMPEG
    return CZubFfmpegPlayer::Factory();
#else
    return {};
#endif
}
}  // namespace

CZubPlay::CZubPlay(const std::string& path, bool bSer, int64_t llAvgTimePerFrame, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::CZubPlay>()),
      m_path(path),
      m_bSer(bSer),
      m_llAvgTimePerFrame(llAvgTimePerFrame)
{
    m_ui->setupUi(this);
    m_pPicture = new CZubPlayImg(this);
    FitCounter(m_ui->counter);
    connect(m_ui->playButton, &QPushButton::clicked, this, &CZubPlay::OnPlay);
    connect(m_ui->pauseButton, &QPushButton::clicked, this, &CZubPlay::OnPause);
    connect(m_ui->stopButton, &QPushButton::clicked, this, &CZubPlay::OnStop);
    connect(m_ui->trackbar, &QSlider::sliderPressed, this, &CZubPlay::OnTrackPressed);
    connect(m_ui->trackbar, &QSlider::valueChanged, this, &CZubPlay::OnTrackChanged);
    connect(m_ui->trackbar, &QSlider::sliderReleased, this, &CZubPlay::OnTrackReleased);

    m_startTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, &CZubPlay::OnStart);
    connect(&m_positionTimer, &QTimer::timeout, this, &CZubPlay::UpdateControls);
    m_playTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_playTimer, &QTimer::timeout, this, &CZubPlay::OnStep);
    UpdateControls();
    m_startTimer.start(kStartDelayMs);
}

CZubPlay::~CZubPlay() = default;

void CZubPlay::Play(const std::string& path, bool bSer, int64_t llAvgTimePerFrame, QWidget* parent)
{
    CZubPlay player(path, bSer, llAvgTimePerFrame, parent);
    player.exec();
}

void CZubPlay::SetFrameInterval(int ms)
{
    m_iIntervalOverride = ms;
    if (m_playTimer.isActive())
        m_playTimer.setInterval(ms);
}

void CZubPlay::done(int result)
{
    m_startTimer.stop();
    m_playTimer.stop();
    m_positionTimer.stop();
    m_pPicture->hide();
    QDialog::done(result);
}

void CZubPlay::showEvent(QShowEvent* event)
{
    if (const QScreen* display = screen())
    {
        const QRect area = display->geometry();
        const SZubPoint at = CZubPlayState::PlayerPosition({area.width(), area.height()}, {width(), height()});
        move(area.topLeft() + QPoint(at.x, at.y));
    }
    QDialog::showEvent(event);
}

void CZubPlay::OnStart()
{
    std::string message;
    if (!m_core.Open(m_path, m_bSer, m_llAvgTimePerFrame, m_bSer ? ZubPlayerFactory() : MediaFactory(), message))
    {
        UpdateControls();
        ZubMessageBox(message);
        return;
    }
    ShowNewFrame();
    PlacePicture();
    m_pPicture->show();
    Refresh();
}

void CZubPlay::PlacePicture()
{
    const QScreen* display = screen();
    if (!display)
        return;
    // Wherever the bar is now; the picture's title bar is as high as the bar's.
    const QPoint origin = display->geometry().topLeft();
    const QRect bar = frameGeometry().translated(-origin);
    const int titleBar = bar.height() - height();
    const SZubPoint at = CZubPlayState::PicturePosition(
        {bar.left(), bar.top()}, {m_pPicture->width(), m_pPicture->height() + titleBar});
    m_pPicture->move(origin + QPoint(at.x, at.y));
}

void CZubPlay::OnPlay()
{
    if (m_core.IsOpen())
        m_pPicture->show();
    m_core.Play();
    if (m_core.IsOpen() && !m_positionTimer.isActive())
        m_positionTimer.start(kPositionPeriodMs);
    Refresh();
}

void CZubPlay::OnPause()
{
    m_core.PauseResume();
    Refresh();
}

void CZubPlay::OnStop()
{
    m_core.Stop();
    Refresh();
}

void CZubPlay::OnStep()
{
    m_core.Step();
    ShowNewFrame();
    if (!m_core.IsAdvancing())  // the end of the file, or a failure
        Refresh();
}

void CZubPlay::OnTrackPressed()
{
    m_core.TrackBegin();
    Refresh();
}

void CZubPlay::OnTrackChanged(int position)
{
    const bool bDrag = m_ui->trackbar->isSliderDown();
    if (!bDrag)
        m_core.TrackBegin();
    m_core.TrackTo(position);
    if (!bDrag)
        m_core.TrackEnd();
    Refresh();
}

void CZubPlay::OnTrackReleased()
{
    m_core.TrackEnd();
    Refresh();
}

void CZubPlay::Refresh()
{
    ShowNewFrame();
    UpdateControls();
    SyncPlayLoop();
    if (const std::string message = m_core.TakeMessage(); !message.empty())
        ZubMessageBox(message);
}

void CZubPlay::ShowNewFrame()
{
    if (m_core.FrameSerial() == m_shownSerial)
        return;
    m_shownSerial = m_core.FrameSerial();
    if (m_pPicture->SetPlayFrame(m_core.Header(), m_core.Pixels(), m_core.PixelBytes(), m_core.RowsBottomUp()))
        emit FrameShown();
    else
        ZubTrace("Player: frame of %i x %i, %i bits, %zu bytes not shown.", m_core.Header().biWidth,
                 m_core.Header().biHeight, static_cast<int>(m_core.Header().biBitCount), m_core.PixelBytes());
}

void CZubPlay::UpdateControls()
{
    const SZubPlayControls c = m_core.Controls();
    m_ui->playButton->setEnabled(c.bPlay);
    m_ui->pauseButton->setEnabled(c.bPause);
    m_ui->pauseButton->setText(QString::fromStdString(c.csPauseText));
    m_ui->stopButton->setEnabled(c.bStop);
    m_ui->counter->setText(QString::fromStdString(c.csCounter));
    QSlider* trackbar = m_ui->trackbar;
    trackbar->setEnabled(c.bTrackbar);
    if (trackbar->isSliderDown())
        return;
    const QSignalBlocker quiet(trackbar);
    trackbar->setRange(0, c.iTrackMax);
    trackbar->setValue(c.iTrackPos);
}

void CZubPlay::SyncPlayLoop()
{
    if (!m_core.IsAdvancing())
    {
        m_playTimer.stop();
        return;
    }
    if (!m_playTimer.isActive())
        m_playTimer.start(m_iIntervalOverride >= 0 ? m_iIntervalOverride : m_core.FrameIntervalMs());
}
