#include "output/imagemergingdialog.h"

#include "ui_imagemergingdialog.h"

#include "app/cache.h"
#include "documents/documentwriter.h"
#include "engine/photonaming.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMessageBox>
#include <QPixmap>

namespace {

const QSize kSideBySideSize(644, 276);
const QSize kAboveBelowSize(376, 544);
// Kind code of a result written by a document dialog.
constexpr int kDocumentKind = 1;

// The preview only: decoded at about the label's size, which for a JPEG is
// much cheaper than decoding the whole photograph and scaling it down.
QPixmap slotPreview(const QString &path, const QSize &size)
{
    QImageReader reader(path);
    if (!size.isEmpty())
        reader.setScaledSize(size);
    return QPixmap::fromImage(reader.read());
}

} // namespace

ImageMergingDialog::ImageMergingDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_ImageMergingDialog>())
{
    m_ui->setupUi(this);
}

ImageMergingDialog::~ImageMergingDialog() = default;

void ImageMergingDialog::init()
{
    m_ui->imagebox1->setText(tr("图像1"));
    m_ui->imagebox2->setText(tr("图像2"));
    // What the slots show is what gets merged.
    m_firstImagePath.clear();
    m_secondImagePath.clear();
    m_count = 0;
}

void ImageMergingDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        if (m_count > 1)
            m_count = 0;
        const QPixmap preview =
            slotPreview(path, QSize(m_ui->imagebox1->width(), m_ui->imagebox2->height()));
        if (m_count == 0) {
            m_firstImagePath = path;
            m_ui->imagebox1->setPixmap(preview);
        } else {
            m_secondImagePath = path;
            m_ui->imagebox2->setPixmap(preview);
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
    QStringList leftOut;
    if (first.isNull())
        leftOut << m_firstImagePath;
    if (second.isNull())
        leftOut << m_secondImagePath;
    if (leftOut.size() == 2) {
        warn(tr("两张图像都无法读取，未合并：\n%1").arg(leftOut.join(QLatin1Char('\n'))));
        return;
    }
    const bool sideBySide = m_ui->layout_center->direction() == QBoxLayout::LeftToRight;
    const QImage canvas = mergeImages(first, second, sideBySide);
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
