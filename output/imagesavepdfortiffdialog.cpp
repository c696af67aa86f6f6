#include "output/imagesavepdfortiffdialog.h"

#include "ui_imagesavepdfortiffdialog.h"

#include "app/cache.h"
#include "engine/tsanhandover.h"
#include "output/documentwriter.h"

#include <QDir>
#include <QImageReader>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>

namespace {

// The four labels of the form; later ones are made and destroyed as needed.
constexpr int kFormSlots = 4;
const QSize kSlotMinimum(160, 160);
const QSize kSlotMaximum(160, 180);
const QString kSlotStyle = QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;");
constexpr int kDocumentKind = 1;
// Short writes finish before the progress dialog would flash up.
constexpr int kProgressDelayMs = 300;

// A thumbnail decoded at about the label's size: a collection of dozens of
// photographs keeps a few kilobytes per label rather than a full picture.
QPixmap thumbnail(const QString &path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(kSlotMaximum, Qt::KeepAspectRatio));
    return QPixmap::fromImage(reader.read());
}

} // namespace

ImageSavePDFOrTiffDialog::ImageSavePDFOrTiffDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_ImageSavePDFOrTiffDialog>())
{
    m_ui->setupUi(this);
    m_ui->btnSaveTiff->hide();
}

ImageSavePDFOrTiffDialog::~ImageSavePDFOrTiffDialog()
{
    if (m_writer) {
        m_writer->wait();
        delete m_writer;
    }
}

QLabel *ImageSavePDFOrTiffDialog::slotLabel(int number) const
{
    return findChild<QLabel *>(QStringLiteral("Image_%1").arg(number));
}

void ImageSavePDFOrTiffDialog::clearSlot(int number)
{
    QLabel *label = slotLabel(number);
    if (!label)
        return;
    if (number > kFormSlots) {
        m_ui->horizontalLayout_2->removeWidget(label);
        // Destroyed now, so that a new label of the same name is never shadowed.
        delete label;
    } else {
        label->setText(tr("Image"));
    }
}

void ImageSavePDFOrTiffDialog::init()
{
    for (int number = m_index - 1; number >= 1; --number)
        clearSlot(number);
    m_index = 1;
    m_paths.clear();
}

void ImageSavePDFOrTiffDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        const QPixmap picture = thumbnail(path);
        if (m_index <= kFormSlots) {
            if (QLabel *label = slotLabel(m_index)) {
                label->setPixmap(picture);
                label->setScaledContents(true);
            }
        } else {
            auto *label = new QLabel(m_ui->scrollAreaWidgetContents);
            label->setObjectName(QStringLiteral("Image_%1").arg(m_index));
            label->setMinimumSize(kSlotMinimum);
            label->setMaximumSize(kSlotMaximum);
            label->setAlignment(Qt::AlignCenter);
            label->setStyleSheet(kSlotStyle);
            label->setPixmap(picture);
            label->setScaledContents(true);
            m_ui->horizontalLayout_2->addWidget(label);
        }
        m_paths.append(path);
        ++m_index;
    }
}

void ImageSavePDFOrTiffDialog::on_btnDel_clicked()
{
    if (m_index <= 1 || m_writer)
        return;
    const int newest = m_index - 1;
    m_index = newest;
    m_paths.removeLast();
    clearSlot(newest);
}

void ImageSavePDFOrTiffDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageSavePDFOrTiffDialog::on_btnClose_clicked()
{
    init();
    close();
}

void ImageSavePDFOrTiffDialog::on_btnSavePDF_clicked()
{
    saveDocument(DocumentKind::Pdf);
}

void ImageSavePDFOrTiffDialog::on_btnSaveTiff_clicked()
{
    saveDocument(DocumentKind::Tiff);
}

void ImageSavePDFOrTiffDialog::saveDocument(DocumentKind kind)
{
    if (m_writer)
        return;
    if (m_paths.isEmpty()) {
        warn(tr("没有图像"));
        return;
    }
    const ConfigValues settings = Cache::config->snapshot();
    const QString directory = QDir(settings.workDirectory()).absolutePath();
    const QString suffix = kind == DocumentKind::Pdf ? QStringLiteral("pdf") : QStringLiteral("tiff");
    const NameCandidates names =
        configuredNames(settings, directory, suffix, [] { return Cache::config->takeNextNumber(); });
    const QStringList sources = m_paths;
    const int total = int(sources.size());

    m_progress = new QProgressDialog(tr("正在写入 %1 页……").arg(total), QString(), 0, total, this);
    m_progress->setWindowTitle(windowTitle());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setValue(0);
    m_ui->frame_2->setEnabled(false);

    // Reported from the writer thread; queued to this dialog, so a report
    // arriving after the dialog is gone is dropped.
    const PageProgress progress = [this](int done, int all) {
        tsanhandover::CrossThreadEmit handOver;
        QMetaObject::invokeMethod(
            this,
            [this, done, all] {
                if (m_progress) {
                    m_progress->setLabelText(tr("正在写入第 %1/%2 页……").arg(done).arg(all));
                    m_progress->setValue(done);
                }
            },
            Qt::QueuedConnection);
    };
    auto outcome = std::make_shared<DocumentOutcome>();
    m_writer = QThread::create([=] {
        *outcome = kind == DocumentKind::Pdf ? writePdfAsNewFile(sources, directory, names, progress)
                                             : writeTiffAsNewFile(sources, directory, names, progress);
        // finished() carries the outcome to the dialog.
        tsanhandover::publish();
    });
    connect(m_writer, &QThread::finished, this, [this, outcome] {
        m_writer->deleteLater();
        m_writer = nullptr;
        documentWritten(*outcome);
    });
    m_writer->start();
}

void ImageSavePDFOrTiffDialog::documentWritten(const DocumentOutcome &outcome)
{
    delete m_progress;
    m_progress = nullptr;
    m_ui->frame_2->setEnabled(true);
    if (!outcome.error.isEmpty()) {
        // The collection stays, so the user can try again.
        warn(outcome.error);
        return;
    }
    if (!outcome.leftOut.isEmpty())
        warn(leftOutMessage(outcome.leftOut));
    emit saveImageMergingSignals({outcome.path}, kDocumentKind);
    init();
    close();
}

void ImageSavePDFOrTiffDialog::warn(const QString &message)
{
    QMessageBox::warning(this, tr("警告"), message, QMessageBox::Ok);
}
