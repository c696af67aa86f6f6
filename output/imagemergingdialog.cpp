#include "output/imagemergingdialog.h"

#include "ui_imagemergingdialog.h"

#include "app/cache.h"
#include "documents/documentwriter.h"
#include "engine/photonaming.h"
#include "output/thumbnailloader.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>

namespace {

const QSize kSideBySideSize(644, 276);
const QSize kAboveBelowSize(376, 544);
// Kind code of a result written by a document dialog.
constexpr int kDocumentKind = 1;

} // namespace

ImageMergingDialog::ImageMergingDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_ImageMergingDialog>())
{
    m_ui->setupUi(this);
    // The previews only, decoded away from the window at about the label's size.
    m_thumbnails = new ThumbnailLoader(this);
    connect(m_thumbnails, &ThumbnailLoader::loaded, this, [this](quint64 ticket, const QImage &picture) {
        if (ticket == m_firstTicket)
            m_ui->imagebox1->setPixmap(QPixmap::fromImage(picture));
        else if (ticket == m_secondTicket)
            m_ui->imagebox2->setPixmap(QPixmap::fromImage(picture));
    });
}

ImageMergingDialog::~ImageMergingDialog() = default;

void ImageMergingDialog::init()
{
    m_ui->imagebox1->setText(tr("图像1"));
    m_ui->imagebox2->setText(tr("图像2"));
    // What the slots show is what gets merged.
    m_firstImagePath.clear();
    m_secondImagePath.clear();
    m_firstTicket = 0;
    m_secondTicket = 0;
    m_count = 0;
}

void ImageMergingDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        if (m_count > 1)
            m_count = 0;
        const quint64 ticket = m_thumbnails->load(path, QSize(m_ui->imagebox1->width(), m_ui->imagebox2->height()),
                                                  Qt::IgnoreAspectRatio);
        if (m_count == 0) {
            m_firstImagePath = path;
            m_firstTicket = ticket;
            m_ui->imagebox1->setPixmap(QPixmap());
        } else {
            m_secondImagePath = path;
            m_secondTicket = ticket;
            m_ui->imagebox2->setPixmap(QPixmap());
        }
        ++m_count;
    }
}

void ImageMergingDialog::on_btnUpDown_clicked()
{
    arrange(false);
}

void ImageMergingDialog::on_btnLeftRight_clicked()
{
    arrange(true);
}

void ImageMergingDialog::arrange(bool sideBySide)
{
    m_ui->layout_center->setDirection(sideBySide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    const QSize size = sideBySide ? kSideBySideSize : kAboveBelowSize;
    // move(pos()) keeps the frame where it is; setGeometry(x(), y(), ...)
    // would mix frame and client coordinates and walk the window down.
    const QPoint topLeft = pos();
    setFixedSize(size);
    resize(size);
    move(topLeft);
    updateGeometry();
    update();
}

void ImageMergingDialog::on_btnSave_clicked()
{
    if (m_firstImagePath.isEmpty() || !QFileInfo(m_firstImagePath).isFile()) {
        warn(tr("没有图像1"));
        return;
    }
    if (m_secondImagePath.isEmpty() || !QFileInfo(m_secondImagePath).isFile()) {
        warn(tr("没有图像2"));
        return;
    }
    const auto [first, second] = loadPhotographPair(m_firstImagePath, m_secondImagePath);
    QList<SourceProblem> leftOut;
    if (first.picture.isNull())
        leftOut.append({0, m_firstImagePath, first.problem});
    if (second.picture.isNull())
        leftOut.append({1, m_secondImagePath, second.problem});
    if (leftOut.size() == 2) {
        QStringList lines;
        for (const SourceProblem &source : leftOut)
            lines << tr("%1：%2").arg(source.path, source.reason);
        warn(tr("两张图像都无法读取，未合并：\n%1").arg(lines.join(QLatin1Char('\n'))));
        return;
    }
    const bool sideBySide = m_ui->layout_center->direction() == QBoxLayout::LeftToRight;
    const QImage canvas = mergeImages(first.picture, second.picture, sideBySide);
    if (canvas.isNull()) {
        warn(tr("合并后的图像太大，内存不足，未保存"));
        return;
    }

    const ConfigValues settings = Cache::config->snapshot();
    const QString directory = QDir(settings.workDirectory()).absolutePath();
    SaveOutcome outcome;
    outcome.error = ensureDirectory(directory, SavedPicture::MergedImage);
    if (outcome.error.isEmpty()) {
        outcome = saveImageAsNewFile(canvas, directory, settings.imageCodec, settings.imageQuality,
                                     configuredNames(settings, directory, settings.imageCodec,
                                                     [] { return Cache::config->takeNextNumber(); }),
                                     SavedPicture::MergedImage);
    }
    if (!outcome.error.isEmpty()) {
        warn(outcome.error);
        return;
    }
    if (!leftOut.isEmpty())
        warn(leftOutMessage(leftOut));
    emit saveImageMergingSignals({outcome.path}, kDocumentKind);
    close();
}

void ImageMergingDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageMergingDialog::warn(const QString &message)
{
    QMessageBox::warning(this, tr("警告"), message, QMessageBox::Ok);
}
