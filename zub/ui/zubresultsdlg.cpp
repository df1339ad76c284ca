#include "zubresultsdlg.h"

#include "ui_zubresultsdlg.h"
#include "zubpictures.h"
#include "zubreport.h"
#include "zubdialogs.h"
#include "zubdlgutil.h"
#include "zubbmpimgresult.h"
#include "zubdoc.h"
#include "zubshowframedlg.h"

#include <array>
#include <algorithm>
#include <QSaveFile>
#include <QPainter>
#include <QSignalBlocker>

#include <vector>

CZubResultsDlg::CZubResultsDlg(const CZubDoc& doc, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CZubResultsDlg>()), m_doc(doc)
{
    m_ui->setupUi(this);
    m_thumbs = {m_ui->thumb0,  m_ui->thumb1,  m_ui->thumb2,  m_ui->thumb3,  m_ui->thumb4,
                m_ui->thumb5,  m_ui->thumb6,  m_ui->thumb7,  m_ui->thumb8,  m_ui->thumb9,
                m_ui->thumb10, m_ui->thumb11, m_ui->thumb12, m_ui->thumb13, m_ui->thumb14};
    m_ui->frameSlider->setRange(1, std::max(Processed(), 1));

    const int count = doc.CandidateCount();
    m_ui->countEdit->setText(QString::number(count));
    for (int i = 0; i < count; ++i)
        m_ui->candidateCombo->addItem(
            QString::fromStdString(ZubCandidateEntry(i, doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)])));
    const bool bSeveral = count > 1;
    m_ui->candidateCombo->setEnabled(bSeveral);
    m_ui->previousButton->setEnabled(bSeveral);
    m_ui->nextButton->setEnabled(bSeveral);
    m_bTimes = doc.m_bSer && doc.m_pSer && doc.m_pSer->HasTimeStamps();
    m_ui->utcLabel->setVisible(m_bTimes);
    m_ui->utcEdit->setVisible(m_bTimes);

    connect(m_ui->candidateCombo, &QComboBox::currentIndexChanged, this, &CZubResultsDlg::OnSelect);
    connect(m_ui->previousButton, &QPushButton::clicked, this,
            [this] { OnSelect(ZubPreviousCandidate(m_iSelected, m_doc.CandidateCount())); });
    connect(m_ui->nextButton, &QPushButton::clicked, this,
            [this] { OnSelect(ZubNextCandidate(m_iSelected, m_doc.CandidateCount())); });
    connect(m_ui->frameSlider, &QSlider::valueChanged, this, &CZubResultsDlg::ShowFrame);
    connect(m_ui->circlesCheck, &QCheckBox::toggled, this, &CZubResultsDlg::OnCircles);
    connect(m_ui->showFrameButton, &QPushButton::clicked, this, &CZubResultsDlg::OnShowFrameCandidate);
    connect(m_ui->showDetectionButton, &QPushButton::clicked, this, &CZubResultsDlg::OnShowDetectionImage);
    m_ui->showDetectionButton->setEnabled(doc.m_spotDetector.HasDetectionImage());
    connect(m_ui->saveImageButton, &QPushButton::clicked, this, &CZubResultsDlg::OnSaveImage);
    connect(m_ui->saveReportButton, &QPushButton::clicked, this, &CZubResultsDlg::OnSaveReport);
    m_ui->limitLabel->setText(
        "Detection limit: " + QString::fromStdString(ZubDetectionLimitText(ZubDocDetectionLimit(doc))) + ".");
    Show();
}

CZubResultsDlg::~CZubResultsDlg() = default;

void CZubResultsDlg::RunCommand(const CZubDoc& doc, QWidget* parent)
{
    if (doc.CandidateCount() < 1)
        return;
    CZubResultsDlg dialog(doc, parent);
    dialog.exec();
}

const CZubImpact& CZubResultsDlg::Selected() const
{
    return m_doc.m_pCandidates->m_aImpacts[static_cast<size_t>(m_iSelected)];
}

int CZubResultsDlg::Processed() const
{
    return std::max(m_doc.m_nProcessed, 0);
}

void CZubResultsDlg::OnSelect(int index)
{
    if (index < 0 || index >= m_doc.CandidateCount())
        return;
    m_iSelected = index;
    Show();
}

void CZubResultsDlg::Show()
{
    const CZubImpact& impact = Selected();
    {
        const QSignalBlocker blocker(m_ui->candidateCombo);
        m_ui->candidateCombo->setCurrentIndex(m_iSelected);
    }
    m_ui->detectedEdit->setText(QString::number(impact.m_iFrame));
    const SZubPoint at = ZubPicturePosition(m_doc, impact);
    m_ui->xEdit->setText(QString::number(at.x));
    m_ui->yEdit->setText(QString::number(at.y));
    m_ui->algorithmEdit->setText(QString::fromUtf8(ZubAlgorithmText(impact.m_iAlgorithm)));
    if (m_bTimes)
        m_ui->utcEdit->setText(QString::fromStdString(m_doc.m_pSer->FormatFrameUtc(impact.m_iFrame - 1)));
    // A run stopped during the results pass may not have reached the frame of detection.
    m_ui->showFrameButton->setEnabled(impact.m_frame.HasBuffer());

    const std::vector<int> series = ZubProfileSeries(impact, Processed());
    m_ui->profilePlot->SetProfile(static_cast<int>(series.size()), series.data());
    ShowFrame(impact.m_iFrame);
}

void CZubResultsDlg::ShowFrame(int p)
{
    const CZubImpact& impact = Selected();
    const int frames = ZubSlotFrames(impact, Processed());
    for (int i = 0; i < kZubStripThumbnails; ++i)
    {
        const int index = ZubStripFrameIndex(p, i, frames);
        m_thumbs[static_cast<size_t>(i)]->SetThumbnail(index < 0 ? nullptr : impact.GetPatch(index), impact.m_nPatchPixelBytes,
                                                     m_doc.RowsBottomUp());
    }
    {
        const QSignalBlocker blocker(m_ui->frameSlider);
        m_ui->frameSlider->setValue(p);
    }
    m_iCurrent = p;
    m_ui->frameEdit->setText(QString::number(p));
    // A candidate whose photometry could not be kept has no value, not a value of 0.
    m_ui->valueEdit->setText(impact.HasArrays() ? QString::number(impact.PhotometryAt(p - 1)) : QString());
    m_ui->profilePlot->SetProfileMarker(p, Processed());
    m_ui->profilePlot->update();
}

void CZubResultsDlg::OnCircles(bool bOn)
{
    for (CZubBmpImgResult* thumb : m_thumbs)
    {
        thumb->ShowCircles(bOn ? 1 : 0);
        thumb->update();
    }
}

void CZubResultsDlg::OnShowFrameCandidate()
{
    const CZubImpact& impact = Selected();
    if (!impact.m_frame.HasBuffer())
        return;
    CZubShowFrameDlg frame(this);
    frame.SetTitle(QString::asprintf("Candidate in frame %i", impact.m_iFrame));
    frame.ShowFrame(impact.m_frame, m_doc.RowsBottomUp());
    frame.SetCenter(impact.m_ptFrame.x, impact.m_ptFrame.y);
    frame.exec();
}

void CZubResultsDlg::OnShowDetectionImage()
{
    CZubFrame picture;
    if (!ZubPictureToFrame(ZubDetectionPicture(m_doc), picture))
        return;
    CZubShowFrameDlg window(this);
    window.SetTitle("Detection image");
    window.ShowFrame(picture, false);
    window.exec();
}

QImage CZubResultsDlg::EvidenceImage() const
{
    const CZubImpact& impact = Selected();
    QStringList lines;
    lines << QString::fromStdString(m_doc.m_csFileName);
    lines << QString("Candidate %1, detected in frame %2 by %3, position X: %4 Y: %5")
                 .arg(m_ui->candidateCombo->currentText())
                 .arg(impact.m_iFrame)
                 .arg(ZubAlgorithmText(impact.m_iAlgorithm))
                 .arg(ZubPicturePosition(m_doc, impact).x)
                 .arg(ZubPicturePosition(m_doc, impact).y);
    if (m_bTimes && !m_ui->utcEdit->text().isEmpty())
        lines << "Detected at " + m_ui->utcEdit->text() + " UTC";
    // The frame numbers the thumbnails show; white ones, outside the frames, show none.
    const int frames = ZubSlotFrames(impact, Processed());
    std::array<int, kZubStripThumbnails> shown{};
    for (int i = 0; i < kZubStripThumbnails; ++i)
        shown[static_cast<size_t>(i)] = ZubStripFrameIndex(m_iCurrent, i, frames) + 1;
    const auto first = std::find_if(shown.begin(), shown.end(), [](int n) { return n > 0; });
    const auto last = std::find_if(shown.rbegin(), shown.rend(), [](int n) { return n > 0; });
    lines << QString("Frames %1 to %2, photometric value at frame %3: %4")
                 .arg(first == shown.end() ? 0 : *first)
                 .arg(last == shown.rend() ? 0 : *last)
                 .arg(m_iCurrent)
                 .arg(m_ui->valueEdit->text());

    // Thumbnails twice their size, each with its frame number, the middle one framed.
    constexpr int kScale = 2;
    constexpr int kGap = 6;
    constexpr int kMargin = 8;
    const int side = CZubBmpImgResult::kSide * kScale;
    const int stripWidth = kZubStripThumbnails * (side + kGap) - kGap;
    const QPixmap profile = m_ui->profilePlot->grab();
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.lineSpacing();
    int textWidth = 0;
    for (const QString& line : lines)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    const int width = std::max({stripWidth, profile.width(), textWidth}) + 2 * kMargin;
    const int height = kMargin + lineHeight * static_cast<int>(lines.size()) + kMargin + side + lineHeight +
                       kMargin + profile.height() + kMargin;

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    painter.setPen(Qt::black);
    int y = kMargin;
    for (const QString& line : lines)
    {
        painter.drawText(kMargin, y + metrics.ascent(), line);
        y += lineHeight;
    }
    y += kMargin;
    for (int i = 0; i < kZubStripThumbnails; ++i)
    {
        const int x = kMargin + i * (side + kGap);
        const QPixmap thumb = m_thumbs[static_cast<size_t>(i)]->grab();
        painter.drawPixmap(QRect(x, y, side, side), thumb);
        painter.setPen(Qt::black);
        if (const int number = shown[static_cast<size_t>(i)]; number > 0)
            painter.drawText(QRect(x - kGap / 2, y + side, side + kGap, lineHeight), Qt::AlignCenter,
                             QString::number(number));
        if (i == kZubStripThumbnails / 2)
        {
            painter.setPen(QPen(Qt::red, 2));
            painter.drawRect(x - 2, y - 2, side + 3, side + 3);
        }
    }
    y += side + lineHeight + kMargin;
    painter.drawPixmap(kMargin, y, profile);
    return image;
}

void CZubResultsDlg::OnSaveImage()
{
    const QString name = QString::asprintf("candidate_%02i_frame_%i", m_iSelected + 1, m_iCurrent);
    const QString path = ZubChooseSaveFile(this, name, "png", "PNG images (*.png)");
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !EvidenceImage().save(&file, "PNG") || !file.commit())
        ZubInfoBox(this, QString("Can't write file %1.").arg(path));
}

void CZubResultsDlg::OnSaveReport()
{
    const QString folder = ZubChooseFolder(this, "Folder for the report");
    if (folder.isEmpty())
        return;
    auto writePng = [](const std::string& path, const SZubPicture& picture, std::string& error) {
        const QImage image(picture.pixels.data(), picture.iWidth, picture.iHeight, picture.iWidth * picture.iChannels,
                           picture.iChannels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        QSaveFile file(QString::fromStdString(path));
        if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit())
            return true;
        error = file.errorString().toStdString();
        return false;
    };
    SZubReportVideo part;
    std::string error;
    const std::string where = folder.toStdString();
    if (!ZubReportVideo(m_doc, where, writePng, part, error) || !ZubWriteReportPage(where, {part}, error))
        ZubInfoBox(this, QString("Can't write the report in %1: %2").arg(folder, QString::fromStdString(error)));
    else
        ZubInfoBox(this, QString("Report written: %1/index.html").arg(folder));
}
